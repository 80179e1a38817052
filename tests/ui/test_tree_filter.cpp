// The tree's search over a full fleet: what each kind of text finds, and
// that the groups around a find are shown with it.

#include "core/AppState.h"
#include "core/Fleet.h"
#include "support/ProjectorRecords.h"
#include "ui/TreeFilter.h"

#include <QTest>

#include <memory>

class TestTreeFilter : public QObject {
    Q_OBJECT

    std::unique_ptr<AppState> state = std::make_unique<AppState>();
    int hallB = 0; // the group node of the second hall

    // How many projectors the text finds.
    int found(const QString& text) const {
        int n = 0;
        for (int p = 1; p <= state->ProjectorCount; ++p)
            n += ProjectorMatches(*state, p, text);
        return n;
    }

  private slots:
    // 8 groups "Hall A".."Hall H" of 32 projectors "R<g><nn> Left|Right" at
    // 192.0.2.<n>; a few with a state to find.
    void initTestCase() {
        ResetTree(*state);
        for (int g = 0; g < 8; ++g) {
            const QString hall = QStringLiteral("Hall ") + QChar(u'A' + g);
            const int group = AddGroupNode(*state, hall, nullptr);
            if (g == 1)
                hallB = group;
            for (int k = 0; k < 32; ++k) {
                const QString name =
                    QStringLiteral("R%1%2 %3")
                        .arg(g + 1)
                        .arg(k / 2, 2, 10, QLatin1Char('0'))
                        .arg(k % 2 ? QStringLiteral("Right") : QStringLiteral("Left"));
                QVERIFY(AddProjector(
                            *state, group,
                            LanProjector(name, QStringLiteral("192.0.2.%1").arg(g * 32 + k))) > 0);
            }
        }
        QCOMPARE(state->ProjectorCount, qint16(256));
        for (int p = 1; p <= 256; ++p) {
            ProjectorInfo& info = state->Projectors[p];
            info.Disconnected = false;
            info.ErrorStatus = 0;
            info.PowerStatus = 1;
        }
        state->Projectors[10].ErrorStatus = 3;
        state->Projectors[11].ErrorStatus = 3;
        state->Projectors[200].Disconnected = true;
        state->Projectors[77].Protocol = ProtocolPJLink;
        state->Projectors[77].PJLink.AuthenticationError = true;
        state->Projectors[5].MACAddress = QStringLiteral("00:1B:44:11:3A:B7");
    }

    void whatATextFinds_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("count");
        QTest::newRow("empty finds all") << "" << 256;
        QTest::newRow("a name") << "R204 Left" << 1;
        QTest::newRow("ignoring case") << "r204 left" << 1;
        QTest::newRow("part of names") << "Right" << 128;
        QTest::newRow("addresses 192.0.2.7x") << "192.0.2.7" << 11; // 7, 70..79
        QTest::newRow("a MAC address") << "00:1b:44" << 1;
        QTest::newRow("a group") << "hall b" << 32;
        QTest::newRow("an error") << "Lamp Error" << 2;
        QTest::newRow("out of contact") << "Disconnect" << 1;
        QTest::newRow("authentication") << "Authentication Error" << 1;
        QTest::newRow("a protocol") << "pjlink" << 1;
        QTest::newRow("nothing") << "Lobby" << 0;
    }

    void whatATextFinds() {
        QFETCH(QString, text);
        QFETCH(int, count);
        QCOMPARE(found(text), count);
    }

    // A find shows its group and the root around it, and no other group.
    void groupsAroundAFind() {
        const std::vector<bool> shown = NodesShown(*state, QStringLiteral("R204 Left"));
        QCOMPARE(int(shown.size()), NodeCount(*state) + 1);
        QVERIFY(shown[1]); // the root
        const int node = NodeOfProjector(*state, 32 + 9);
        QCOMPARE(state->Projectors[32 + 9].ProjectorName, QStringLiteral("R204 Left"));
        QVERIFY(shown[std::size_t(node)]);
        QVERIFY(shown[std::size_t(hallB)]);
        QCOMPARE(int(std::count(shown.begin(), shown.end(), true)), 3);
        const std::vector<bool> all = NodesShown(*state, QString());
        QCOMPARE(int(std::count(all.begin() + 1, all.end(), true)), NodeCount(*state));
    }
};

QTEST_GUILESS_MAIN(TestTreeFilter)
#include "test_tree_filter.moc"
