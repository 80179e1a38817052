#include "core/AppState.h"
#include "core/Fleet.h"
#include "support/ProjectorRecords.h"

#include <QSet>
#include <QTest>

#include <memory>
#include <vector>

namespace {

ProjectorInfo projector(const QString& name, qint16 port) {
    Projector p = SerialProjector(name, port);
    p.PowerStatus = 1; // run-time fields are not taken over
    return p;
}

int addProjector(AppState& state, int parent, const QString& name, qint16 port = 1) {
    QString error;
    const int node = AddProjectorNode(state, parent, projector(name, port), &error);
    if (node == 0)
        qWarning("%s", qPrintable(error));
    return node;
}

} // namespace

class TestFleet : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<AppState> m_owner;
    AppState* m_state = nullptr;

  private slots:
    void init() {
        m_owner = std::make_unique<AppState>();
        m_state = m_owner.get();
    }

    void addingAppendsRecordAndNode() {
        AppState& s = *m_state;
        s.LastStatusCheck = QDateTime::currentDateTime();
        QCOMPARE(addProjector(s, 1, QStringLiteral("A"), 4), 2);
        QCOMPARE(s.ProjectorCount, qint16(1));
        QCOMPARE(s.Projectors[1].COMPort, qint16(4));
        QCOMPARE(s.Projectors[1].PowerStatus, qint16(-1));
        QCOMPARE(Node(s, 2).KeyName, QStringLiteral("p0"));
        QCOMPARE(Node(s, 2).ParentKey, QStringLiteral("rt"));
        QCOMPARE(ProjectorOfNode(s, 2), qint16(1));
        QVERIFY(s.LastStatusCheck.isNull());
        QString error;
        QCOMPARE(AddProjectorNode(s, 2, projector(QStringLiteral("B"), 5), &error), 0);
        QVERIFY(!error.isEmpty()); // a projector is no parent
    }

    void deletingProjectorTwoOfThreeShiftsTheRest() {
        AppState& s = *m_state;
        addProjector(s, 1, QStringLiteral("A"), 1);
        addProjector(s, 1, QStringLiteral("B"), 2);
        addProjector(s, 1, QStringLiteral("C"), 3);
        s.Projectors[3].LampTime = 77;
        // The alerts follow their projectors through this hook.
        std::vector<int> deleted;
        s.ProjectorDeleted = [&deleted](int d) { deleted.push_back(d); };

        DeleteProjectorNode(s, 3);
        QCOMPARE(s.ProjectorCount, qint16(2));
        QCOMPARE(s.Projectors[2].ProjectorName, QStringLiteral("C"));
        QCOMPARE(s.Projectors[2].LampTime, qint16(77));
        QVERIFY(s.Projectors[3].ProjectorName.isEmpty());
        QCOMPARE(s.Projectors[3].ConnectionKind, qint16(-1));
        QCOMPARE(s.Projectors[3].LampTime, qint16(-1));
        QCOMPARE(NodeCount(s), 3);
        QCOMPARE(Node(s, 3).Text, QStringLiteral("C"));
        QCOMPARE(s.NodeProjector[3], qint16(2));
        QCOMPARE(s.NodeProjector[4], qint16(-1));

        QCOMPARE(deleted, std::vector<int>{2});
    }

    // Ids are given on adding, and stay with their record through an edit
    // in place, a move to another group and the renumbering of a deletion.
    void idsTravelWithTheirRecords() {
        AppState& s = *m_state;
        const int group = AddGroupNode(s, QStringLiteral("Hall"), nullptr);
        for (const char* name : {"A", "B", "C", "D"})
            addProjector(s, group, QString::fromLatin1(name));
        QStringList ids;
        for (int p = 1; p <= 4; ++p) {
            ids << s.Projectors[p].ProjectorId;
            QCOMPARE(CanonicalProjectorId(ids.last()), ids.last());
            QCOMPARE(ProjectorIndexOfId(s, ids.last()), p);
        }
        QCOMPARE(QSet<QString>(ids.begin(), ids.end()).size(), 4);

        s.Projectors[2].ProjectorName = QStringLiteral("B renamed");
        s.Nodes[NodeOfProjector(s, 3) - 1].ParentKey = RootKey;
        DeleteProjectorNode(s, NodeOfProjector(s, 1));
        QCOMPARE(s.ProjectorCount, qint16(3));
        for (int k = 1; k < 4; ++k) {
            QCOMPARE(s.Projectors[k].ProjectorId, ids[k]);
            QCOMPARE(ProjectorIndexOfId(s, ids[k]), k);
        }
        QVERIFY(s.Projectors[4].ProjectorId.isEmpty());
        QCOMPARE(ProjectorIndexOfId(s, ids[0]), 0);

        addProjector(s, 1, QStringLiteral("E"));
        QVERIFY(!ids.contains(s.Projectors[4].ProjectorId));
        DeleteGroupNode(s, group);
        QCOMPARE(s.ProjectorCount, qint16(2));
        QCOMPARE(s.Projectors[1].ProjectorId, ids[2]);
    }

    void projectorIdLookup_data() {
        QTest::addColumn<QString>("asked");
        QTest::addColumn<int>("index");
        const QString second = QStringLiteral("6f1c2a9e-0b7d-4c1e-9a53-2d8e4f6a7b10");
        QTest::addRow("as stored") << second << 2;
        QTest::addRow("upper case") << second.toUpper() << 2;
        QTest::addRow("in braces") << "{" + second + "}" << 2;
        QTest::addRow("with blanks") << " " + second + " " << 2;
        QTest::addRow("unknown") << QStringLiteral("6f1c2a9e-0b7d-4c1e-9a53-2d8e4f6a7b11") << 0;
        QTest::addRow("not a uuid") << QStringLiteral("hall-3") << 0;
        QTest::addRow("empty") << QString() << 0;
        QTest::addRow("nil uuid") << QStringLiteral("00000000-0000-0000-0000-000000000000") << 0;
    }

    void projectorIdLookup() {
        QFETCH(QString, asked);
        QFETCH(int, index);
        AppState& s = *m_state;
        s.ProjectorCount = 3;
        s.Projectors[1].ProjectorId = QStringLiteral("0d4e8b52-3f6a-4a7c-8e21-9b0c5d7f1a34");
        s.Projectors[2].ProjectorId = QStringLiteral("6f1c2a9e-0b7d-4c1e-9a53-2d8e4f6a7b10");
        // Slot 3 has none yet, and a slot beyond the count is not searched.
        s.Projectors[4].ProjectorId = QStringLiteral("6f1c2a9e-0b7d-4c1e-9a53-2d8e4f6a7b11");
        QCOMPARE(ProjectorIndexOfId(s, asked), index);
    }

    // Stored ids as a hand-edited file may hold them: "=" keeps the id,
    // "+" means a new one.
    void missingAndRepeatedIdsAreReplaced_data() {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QStringList>("result");
        QTest::addColumn<QList<int>>("changed");
        const QString a = QStringLiteral("0d4e8b52-3f6a-4a7c-8e21-9b0c5d7f1a34");
        const QString b = QStringLiteral("6f1c2a9e-0b7d-4c1e-9a53-2d8e4f6a7b10");
        QTest::addRow("all present") << QStringList{a, b} << QStringList{a, b} << QList<int>{};
        QTest::addRow("one missing")
            << QStringList{a, "", b} << QStringList{a, "+", b} << QList<int>{2};
        QTest::addRow("the second of a pair")
            << QStringList{a, b, a} << QStringList{a, b, "+"} << QList<int>{3};
        QTest::addRow("same uuid spelt differently")
            << QStringList{a, "{" + a.toUpper() + "}"} << QStringList{a, "+"} << QList<int>{2};
        QTest::addRow("braces and capitals normalised")
            << QStringList{"{" + b.toUpper() + "}"} << QStringList{b} << QList<int>{1};
        QTest::addRow("garbage and nil")
            << QStringList{"hall-3", "00000000-0000-0000-0000-000000000000"}
            << QStringList{"+", "+"} << QList<int>{1, 2};
    }

    void missingAndRepeatedIdsAreReplaced() {
        QFETCH(QStringList, stored);
        QFETCH(QStringList, result);
        QFETCH(QList<int>, changed);
        AppState& s = *m_state;
        s.ProjectorCount = qint16(stored.size());
        for (int p = 1; p <= s.ProjectorCount; ++p)
            s.Projectors[p].ProjectorId = stored[p - 1];
        const std::vector<int> given = AssignMissingProjectorIds(s);
        QCOMPARE(QList<int>(given.begin(), given.end()), changed);
        QSet<QString> ids;
        for (int p = 1; p <= s.ProjectorCount; ++p) {
            const QString& id = s.Projectors[p].ProjectorId;
            QCOMPARE(CanonicalProjectorId(id), id);
            if (result[p - 1] != QLatin1String("+"))
                QCOMPARE(id, result[p - 1]);
            else
                QVERIFY(!stored.contains(id, Qt::CaseInsensitive));
            ids.insert(id);
        }
        QCOMPARE(ids.size(), int(s.ProjectorCount));
        QVERIFY(AssignMissingProjectorIds(s).empty());
    }

    void deletingAGroupTakesItsProjectors() {
        AppState& s = *m_state;
        QString error;
        addProjector(s, 1, QStringLiteral("Top"));                  // node 2, projector 1
        const int g = AddGroupNode(s, QStringLiteral("G"), &error); // node 3
        addProjector(s, g, QStringLiteral("In1"));                  // node 4, projector 2
        const int h = AddGroupNode(s, QStringLiteral("H"), &error); // node 5
        addProjector(s, g, QStringLiteral("In2"));                  // node 6, projector 3
        addProjector(s, h, QStringLiteral("Other"));                // node 7, projector 4
        QCOMPARE(GroupMembers(s, g), (std::vector<int>{4, 6}));

        DeleteGroupNode(s, g);
        QCOMPARE(s.ProjectorCount, qint16(2));
        QCOMPARE(s.Projectors[1].ProjectorName, QStringLiteral("Top"));
        QCOMPARE(s.Projectors[2].ProjectorName, QStringLiteral("Other"));
        QVERIFY(s.Projectors[3].ProjectorName.isEmpty());
        QCOMPARE(NodeCount(s), 4);
        QCOMPARE(Node(s, 3).KeyName, QStringLiteral("g1"));
        QCOMPARE(Node(s, 4).Text, QStringLiteral("Other"));
        QCOMPARE(s.NodeProjector[2], qint16(1));
        QCOMPARE(s.NodeProjector[3], qint16(-1));
        QCOMPARE(s.NodeProjector[4], qint16(2));
        QCOMPARE(s.NodeProjector[5], qint16(-1));

        // The freed key g0 is given out again.
        QCOMPARE(NewKey(s, QLatin1Char('g')), QStringLiteral("g0"));
        QCOMPARE(NewKey(s, QLatin1Char('p')), QStringLiteral("p1"));
    }

    void limitsAreRefusedWithAMessage() {
        AppState& s = *m_state;
        QString error;
        for (int i = 0; i < MaxProjectors; ++i)
            QVERIFY(addProjector(s, 1, QStringLiteral("P%1").arg(i), qint16(i + 1)));
        QCOMPARE(AddProjectorNode(s, 1, projector(QStringLiteral("one too many"), 999), &error), 0);
        QVERIFY(error.contains(QStringLiteral("256")));
        QCOMPARE(s.ProjectorCount, qint16(256));
        QCOMPARE(NodeCount(s), 257);

        for (int i = 0; i < 255; ++i)
            QVERIFY(AddGroupNode(s, QStringLiteral("G%1").arg(i), &error));
        QCOMPARE(NodeCount(s), 512);
        error.clear();
        QCOMPARE(AddGroupNode(s, QStringLiteral("node 513"), &error), 0);
        QVERIFY(error.contains(QStringLiteral("512")));
        QCOMPARE(NodeCount(s), 512);
    }

    void keysRunOutAfter257() {
        AppState& s = *m_state;
        for (int n = 0; n <= MaxKeyNumber; ++n)
            s.Nodes.push_back(
                {QStringLiteral("g%1").arg(n), RootKey, QStringLiteral("G%1").arg(n)});
        QVERIFY(NewKey(s, QLatin1Char('g')).isEmpty());
        QString error;
        QCOMPARE(AddGroupNode(s, QStringLiteral("extra"), &error), 0);
        QVERIFY(!error.isEmpty());
    }

    void namesWithControlCharactersAreRefused() {
        AppState& s = *m_state;
        QString error;
        for (const QString& bad : {QStringLiteral("a\nb"), QStringLiteral("a\rb"),
                                   QStringLiteral("tab\t"), QStringLiteral("x") + QChar(0x2028)}) {
            QCOMPARE(CheckNodeName(bad),
                     QStringLiteral("A name cannot contain line breaks or control characters."));
            QCOMPARE(AddGroupNode(s, bad, &error), 0);
        }
        QVERIFY(CheckNodeName(QStringLiteral("[a]=b;c'd ü")).isEmpty());
        QCOMPARE(NodeCount(s), 1);
    }
};

QTEST_GUILESS_MAIN(TestFleet)
#include "test_fleet.moc"
