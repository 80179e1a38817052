// The status endpoint on one host and its clients on another (two network
// namespaces joined by a veth pair): clients trickling their request heads
// from many addresses leave a well-behaved remote client, such as a
// Prometheus server, answered every time. Skipped where namespaces cannot
// be made (they need root).

#include "support/NetworkPair.h"
#include "support/SlowClients.h"

#include "core/AppState.h"
#include "platform/OpenFiles.h"
#include "status/StatusServer.h"

#include <QTest>

using namespace std::chrono_literals;

namespace {

constexpr int Requests = 10;
const QHostAddress FirstSlow(QStringLiteral("192.0.2.10"));
const QHostAddress Prober(QStringLiteral("192.0.2.250"));

} // namespace

class TestStatusRemote : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { RaiseOpenFilesLimit(); }

    void remoteClientIsAnsweredBesideSlowOnes_data() {
        QTest::addColumn<int>("slow");
        QTest::addColumn<int>("addresses");
        QTest::newRow("96 slow from 12 addresses") << 96 << 12;
        QTest::newRow("800 slow from 100 addresses") << 800 << 100;
    }

    void remoteClientIsAnsweredBesideSlowOnes() {
        QFETCH(int, slow);
        QFETCH(int, addresses);
        const std::vector<QHostAddress> sources = SlowClients::Sources(FirstSlow, addresses);
        QStringList clientSide;
        for (const QHostAddress& source : sources)
            clientSide << source.toString();
        clientSide << Prober.toString();
        NetworkPair pair(clientSide);
        if (!pair.isReady())
            QSKIP(qPrintable(pair.error()));

        QVERIFY(pair.enter(NetworkPair::Side::Program));
        AppState state;
        StatusServer server(state, StatusEndpointSettings{NetworkPair::ProgramAddress, 0, {}});
        QVERIFY2(server.start(), qPrintable(server.problem()));
        // The clients open sockets as they go: the thread stays on their
        // side (the endpoint's sockets stay on its own).
        QVERIFY(pair.enter(NetworkPair::Side::Projectors));
        // A generous limit per request: "answered", never how fast (the
        // benchmark bench/slow_clients --remote prints the times).
        SlowClients load(
            {QHostAddress(NetworkPair::ProgramAddress), server.port(), sources, Prober, 5s});
        load.start(slow, Requests);

        // Every slow client holds its slot while the requests go out.
        QTRY_COMPARE_WITH_TIMEOUT(load.connectedSlow(), slow, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(load.done(), Requests * 1000 + 30000);
        QCOMPARE(load.sent(), Requests);
        QVERIFY2(load.answered() == Requests, qPrintable(load.report()));
        // The slow ones were cut off at the head deadline and came back.
        QVERIFY(load.reopened() > 0);
    }
};

QTEST_GUILESS_MAIN(TestStatusRemote)
#include "test_status_remote.moc"
