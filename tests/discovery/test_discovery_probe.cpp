// The TCP probe and the run of discovery on 127.0.0.1 against the simulator
// and against peers that are no projectors.

#include "support/ProjectorRecords.h"
#include "support/SimProcess.h"
#include "support/TestPrograms.h"

#include "core/AppState.h"
#include "discovery/Discovery.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;

namespace {

// Accepts connections and writes the same bytes on each, then stays quiet.
class ScriptedPeer : public QObject {
  public:
    explicit ScriptedPeer(const QByteArray& bytes) : m_bytes(bytes) {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection())
                socket->write(m_bytes);
        });
    }
    quint16 port() const { return m_server.serverPort(); }

  private:
    QByteArray m_bytes;
    QTcpServer m_server;
};

// The connections a simulated PJLink projector has seen, from "pjstats".
int statOf(SimProcess& sim, int id, const QString& key) {
    const QStringList words = sim.command(QStringLiteral("pjstats %1").arg(id)).split(' ');
    for (const QString& word : words) {
        if (word.startsWith(key + QLatin1Char('=')))
            return word.section(QLatin1Char('='), 1).toInt();
    }
    return -1;
}

} // namespace

class TestDiscoveryProbe : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void probe_data();
    void probe();
    void pacing();
    void cancelStopsAtOnce();
    void marksFleet();

  private:
    std::unique_ptr<SimProcess> m_sim;
    // Simulator ids: 1 own protocol; PJLink 2 open with a name, 3 with a
    // password, 4 without a greeting, 5 silent, 6 open without a name.
    static constexpr int Own = 1;
};

void TestDiscoveryProbe::initTestCase() {
    m_sim =
        std::make_unique<SimProcess>(QStringList{QStringLiteral("--tcp"), QStringLiteral("1"),
                                                 QStringLiteral("--pjlink"), QStringLiteral("5")});
    QVERIFY2(m_sim->isReady(), qPrintable(m_sim->errorString()));
    for (const char* line : {"pj 2 name R204 Left", "pj 2 product PL-204", "pj 3 password secret",
                             "pj 4 nogreeting on", "pj 5 silent on", "pj 6 name"})
        QCOMPARE(m_sim->command(QString::fromLatin1(line)), QString("OK"));
}

void TestDiscoveryProbe::probe_data() {
    QTest::addColumn<QString>("peer"); // "sim N", "bytes ..." or "closed"
    QTest::addColumn<bool>("pjlink");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("model");
    QTest::addColumn<bool>("password");
    QTest::newRow("PJLink: name and product") << "sim 2" << true << true << "R204 Left"
                                              << "PL-204" << false;
    QTest::newRow("PJLink: a password hides both") << "sim 3" << true << true << ""
                                                   << "" << true;
    QTest::newRow("PJLink: no name") << "sim 6" << true << true << ""
                                     << "PL-100" << false;
    QTest::newRow("PJLink: no greeting") << "sim 4" << true << false << ""
                                         << "" << false;
    QTest::newRow("PJLink: accepts, says nothing") << "sim 5" << true << false << ""
                                                   << "" << false;
    QTest::newRow("PJLink port, another greeting") << "bytes SSH-2.0-server\r\n"
                                                   << true << false << ""
                                                   << "" << false;
    QTest::newRow("PJLink port, refused with ERRA") << "bytes PJLINK ERRA\r" << true << true << ""
                                                    << "" << true;
    QTest::newRow("PJLink port, a line that never ends")
        << QString("bytes ") + QString(600, 'x') << true << false << ""
        << "" << false;
    QTest::newRow("own protocol answers the power query") << "sim 1" << false << true << ""
                                                          << "" << false;
    QTest::newRow("own port, a PJLink projector") << "sim 2" << false << false << ""
                                                  << "" << false;
    QTest::newRow("own port, telnet bytes")
        << "bytes \xff\xfb\x01\xff\xfb\x03" << false << false << ""
        << "" << false;
    QTest::newRow("own port, refusal byte") << "bytes \x15" << false << true << ""
                                            << "" << false;
    QTest::newRow("nothing listening") << "closed" << true << false << ""
                                       << "" << false;
}

void TestDiscoveryProbe::probe() {
    QFETCH(QString, peer);
    QFETCH(bool, pjlink);
    QFETCH(bool, found);
    QFETCH(QString, name);
    QFETCH(QString, model);
    QFETCH(bool, password);
    std::unique_ptr<ScriptedPeer> scripted;
    quint16 port = 0;
    if (peer.startsWith(QLatin1String("sim "))) {
        const int id = peer.mid(4).toInt();
        port = id == Own ? m_sim->tcpPort(id) : m_sim->pjlinkPort(id);
    } else if (peer.startsWith(QLatin1String("bytes "))) {
        scripted = std::make_unique<ScriptedPeer>(peer.mid(6).toLatin1());
        port = scripted->port();
    } else {
        port = FreeTcpPort();
    }
    QVERIFY(port != 0);

    RangeProbe probe(RangeProbe::Limits{4, 200, 500ms});
    QSignalSpy probed(&probe, &RangeProbe::probed);
    QSignalSpy idle(&probe, &RangeProbe::idle);
    probe.add({QHostAddress::LocalHost, port, pjlink});
    QVERIFY(idle.wait(5000));
    QCOMPARE(probed.size(), 1);
    const auto find = probed.first().at(1).value<std::optional<DiscoveryFind>>();
    QCOMPARE(find.has_value(), found);
    if (!find)
        return;
    QCOMPARE(find->address, QString("127.0.0.1"));
    QCOMPARE(find->port, port);
    QCOMPARE(find->protocol, pjlink ? ProtocolPJLink : ProtocolNative);
    QCOMPARE(find->name, name);
    QCOMPARE(find->model, model);
    QCOMPARE(find->passwordRequired, password);
}

void TestDiscoveryProbe::pacing() {
    // Twelve connects to a projector that never answers, three at a time:
    // the projector itself counts how many were open at once.
    QCOMPARE(m_sim->command("pjstats 5 reset"), QString("OK"));
    RangeProbe probe(RangeProbe::Limits{3, 1000, 300ms});
    QSignalSpy probed(&probe, &RangeProbe::probed);
    QSignalSpy idle(&probe, &RangeProbe::idle);
    for (int i = 0; i < 12; ++i)
        probe.add({QHostAddress::LocalHost, m_sim->pjlinkPort(5), true});
    QVERIFY(idle.wait(20000));
    QCOMPARE(probed.size(), 12);
    QCOMPARE(probe.started(), 12);
    QCOMPARE(probe.mostInFlight(), 3);
    QCOMPARE(statOf(*m_sim, 5, QStringLiteral("connections")), 12);
    QVERIFY(statOf(*m_sim, 5, QStringLiteral("concurrent_max")) <= 3);
}

void TestDiscoveryProbe::cancelStopsAtOnce() {
    // Twenty silent PJLink projectors, one on each of 127.0.0.1 .. 127.0.0.20.
    const quint16 port = FreeTcpPort();
    SimProcess sim({QStringLiteral("--pjlink"), QStringLiteral("20"),
                    QStringLiteral("--address-each"), QStringLiteral("--pjlink-port"),
                    QString::number(port)});
    QVERIFY2(sim.isReady(), qPrintable(sim.errorString()));
    QCOMPARE(sim.command("pj all silent on"), QString("OK"));
    const auto total = [&sim](const QString& key) {
        int sum = 0;
        for (int id = 1; id <= 20; ++id)
            sum += statOf(sim, id, key);
        return sum;
    };
    Discovery discovery(nullptr);
    QSignalSpy found(&discovery, &Discovery::found);
    QSignalSpy finished(&discovery, &Discovery::finished);
    DiscoveryOptions options;
    options.search = false;
    options.pjlinkPort = port;
    options.nativePort = port;
    options.limits = {8, 1000, 5000ms};
    for (int i = 1; i <= 20; ++i)
        options.addresses << QHostAddress(QStringLiteral("127.0.0.%1").arg(i));
    discovery.start(options);
    QTRY_COMPARE(total(QStringLiteral("open")), 8);
    discovery.cancel();
    QVERIFY(!discovery.isRunning());
    // Every connection is closed long before its time-out, and none follows.
    QTRY_COMPARE_WITH_TIMEOUT(total(QStringLiteral("open")), 0, 3000);
    QTest::qWait(300);
    QCOMPARE(total(QStringLiteral("connections")), 8);
    QCOMPARE(found.size(), 0);
    QCOMPARE(finished.size(), 0);
}

void TestDiscoveryProbe::marksFleet() {
    // Both ports of one address: the own projector and PJLink projector 2
    // answer there; the fleet has the PJLink one.
    AppState state;
    PutProjector(
        state, 1,
        PJLinkProjector({}, QStringLiteral("127.0.0.1"), QString::number(m_sim->pjlinkPort(2))));
    Discovery discovery(&state);
    QSignalSpy finished(&discovery, &Discovery::finished);
    DiscoveryOptions options;
    options.search = false;
    options.addresses = {QHostAddress::LocalHost};
    options.pjlinkPort = m_sim->pjlinkPort(2);
    options.nativePort = m_sim->tcpPort(Own);
    discovery.start(options);
    QVERIFY(finished.wait(10000));
    QCOMPARE(discovery.finds().size(), 2);
    QCOMPARE(discovery.probedCount(), 2);
    for (const DiscoveryFind& find : discovery.finds()) {
        const bool isPJLink = find.protocol == ProtocolPJLink;
        QCOMPARE(find.inFleet, isPJLink);
        QCOMPARE(find.name, isPJLink ? QString("R204 Left") : QString());
        QCOMPARE(find.port, isPJLink ? m_sim->pjlinkPort(2) : m_sim->tcpPort(Own));
    }
}

QTEST_GUILESS_MAIN(TestDiscoveryProbe)
#include "test_discovery_probe.moc"
