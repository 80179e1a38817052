#include "comm/AlertQueue.h"
#include "core/AppState.h"
#include "core/Fleet.h"

#include <QTest>

#include <memory>

namespace {

ProjectorInfo projector(const QString& name, qint16 port) {
    ProjectorInfo p;
    p.ProjectorName = name;
    p.ConnectionKind = ConnectionSerial;
    p.COMPort = port;
    p.COMSettings = DefaultCOMSettings;
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
        QVERIFY(EnqueueAlertMessage(s, QStringLiteral("t;2;gone")));
        QVERIFY(EnqueueAlertMessage(s, QStringLiteral("t;3;follows")));
        QVERIFY(EnqueueAlertMessage(s, QStringLiteral("t;1;stays")));

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

        QCOMPARE(AlertQueueLength(s), 2);
        QCOMPARE(PeekAlertMessage(s), QStringLiteral("t;2;follows"));
        AdvanceAlertQueue(s);
        QCOMPARE(PeekAlertMessage(s), QStringLiteral("t;1;stays"));
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
