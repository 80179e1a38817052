// Discovery across a real link: the program in one network namespace, the
// simulator's projectors at TEST-NET-1 addresses in another. The search's
// broadcast, the probe's connects and the neighbour table are all real.

#include "discovery/NetworkPair.h"
#include "support/SimProcess.h"
#include "support/TestPrograms.h"

#include "core/AppState.h"
#include "discovery/Discovery.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;

class TestDiscoveryNetwork : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void cleanupTestCase();
    void discover_data();
    void discover();
    void commandLine_data();
    void commandLine();

  private:
    // How a find is compared: address, port, protocol, where its MAC came
    // from (search, neighbour or none), name, and whether it is known.
    QString describe(const DiscoveryFind& find) const;

    std::unique_ptr<NetworkPair> m_pair;
    std::unique_ptr<SimProcess> m_sim;
    QString m_linkMac;
};

// Simulator ids and addresses: own protocol 1 and 2 at .10 and .11 on port
// 23; PJLink 3 and 4 (class 2) at .12 and .13, PJLink 5 (class 1) at .14.
void TestDiscoveryNetwork::initTestCase() {
    QStringList addresses;
    for (int host = 10; host <= 14; ++host)
        addresses << QStringLiteral("192.0.2.%1").arg(host);
    m_pair = std::make_unique<NetworkPair>(addresses);
    if (!m_pair->isReady())
        QSKIP(qPrintable(m_pair->error()));
    QVERIFY(m_pair->enter(NetworkPair::Side::Projectors));
    m_sim = std::make_unique<SimProcess>(
        QStringList{QStringLiteral("--tcp"), QStringLiteral("2"), QStringLiteral("--pjlink"),
                    QStringLiteral("3"), QStringLiteral("--pjlink-class"), QStringLiteral("2"),
                    QStringLiteral("--address"), QStringLiteral("192.0.2.10"),
                    QStringLiteral("--address-each"), QStringLiteral("--base-port"),
                    QStringLiteral("23"), QStringLiteral("--search-port"), QStringLiteral("4352")});
    QVERIFY(m_pair->enter(NetworkPair::Side::Program));
    QVERIFY2(m_sim->isReady(), qPrintable(m_sim->errorString()));
    for (const char* line :
         {"pj 3 name R204 Left", "pj 4 name Hall, \"North\"", "pj 5 class 1", "pj 5 name Old One"})
        QCOMPARE(m_sim->command(QString::fromLatin1(line)), QString("OK"));
    m_linkMac = m_pair->projectorsMac();
    QVERIFY(!m_linkMac.isEmpty());
}

void TestDiscoveryNetwork::cleanupTestCase() {
    m_sim.reset();
    m_pair.reset();
}

QString TestDiscoveryNetwork::describe(const DiscoveryFind& find) const {
    QString mac = QStringLiteral("none");
    if (find.mac == m_linkMac)
        mac = QStringLiteral("neighbour");
    else if (find.mac.startsWith(QLatin1String("02:4E:56:00:00:")))
        mac = QStringLiteral("search");
    return QStringLiteral("%1 %2 %3 %4 %5 %6 %7")
        .arg(find.address)
        .arg(find.port)
        .arg(find.protocol == ProtocolPJLink ? QStringLiteral("pjlink") : QStringLiteral("native"),
             mac, find.name.isEmpty() ? QStringLiteral("-") : find.name,
             find.model.isEmpty() ? QStringLiteral("-") : find.model,
             find.inFleet ? QStringLiteral("known") : QStringLiteral("new"));
}

void TestDiscoveryNetwork::discover_data() {
    QTest::addColumn<bool>("search");
    QTest::addColumn<QString>("range");
    QTest::addColumn<QStringList>("expected");
    const QString a = QStringLiteral("192.0.2.12 4352 pjlink search R204 Left PL-100");
    const QString b = QStringLiteral("192.0.2.13 4352 pjlink search Hall, \"North\" PL-100");
    QTest::newRow("search alone: class 2 only, named by a probe")
        << true << QString() << QStringList{a + " known", b + " new"};
    QTest::newRow("probe alone: every projector, MACs from the neighbour table")
        << false << QStringLiteral("192.0.2.8/29")
        << QStringList{"192.0.2.10 23 native neighbour - - new",
                       "192.0.2.11 23 native neighbour - - new",
                       "192.0.2.12 4352 pjlink neighbour R204 Left PL-100 known",
                       "192.0.2.13 4352 pjlink neighbour Hall, \"North\" PL-100 new",
                       "192.0.2.14 4352 pjlink neighbour Old One PL-100 new"};
    QTest::newRow("both: the search's MAC wins")
        << true << QStringLiteral("192.0.2.0/24")
        << QStringList{"192.0.2.10 23 native neighbour - - new",
                       "192.0.2.11 23 native neighbour - - new", a + " known", b + " new",
                       "192.0.2.14 4352 pjlink neighbour Old One PL-100 new"};
    QTest::newRow("a range with no projector")
        << false << QStringLiteral("192.0.2.128/28") << QStringList{};
}

void TestDiscoveryNetwork::discover() {
    QFETCH(bool, search);
    QFETCH(QString, range);
    QFETCH(QStringList, expected);
    AppState fleet;
    fleet.ProjectorCount = 1;
    fleet.Projectors[1].ConnectionKind = ConnectionLan;
    fleet.Projectors[1].IPAddress = QStringLiteral("192.0.2.12");
    fleet.Projectors[1].Protocol = ProtocolPJLink;

    DiscoveryOptions options;
    options.search = search;
    options.searchWindow = 1500ms;
    if (!range.isEmpty()) {
        const DiscoveryRange parsed = ParseDiscoveryRange(range);
        QVERIFY2(parsed.error.isEmpty(), qPrintable(parsed.error));
        options.addresses = parsed.addresses;
    }
    Discovery discovery(&fleet);
    QSignalSpy finished(&discovery, &Discovery::finished);
    QSignalSpy found(&discovery, &Discovery::found);
    discovery.start(options);
    QVERIFY(finished.wait(60000));
    QVERIFY2(discovery.problems().isEmpty(), qPrintable(discovery.problems().join('\n')));
    QStringList got;
    for (const DiscoveryFind& find : discovery.finds())
        got << describe(find);
    got.sort();
    QCOMPARE(got, expected);
    QCOMPARE(found.size(), expected.size());
    QCOMPARE(discovery.probedCount(), discovery.targetCount());
}

void TestDiscoveryNetwork::commandLine_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    const QString header = QStringLiteral(
        "Group,Name,Protocol,Connection,Address,Port,COMPort,COMSettings,Model,MACAddress,"
        "Password\r\n");
    const QString rows = QStringLiteral(
        ",192.0.2.10,native,lan,192.0.2.10,23,,,,%1,\r\n"
        ",192.0.2.11,native,lan,192.0.2.11,23,,,,%1,\r\n"
        ",R204 Left,pjlink,lan,192.0.2.12,4352,,,PL-100,02:4E:56:00:00:03,\r\n"
        ",\"Hall, \"\"North\"\"\",pjlink,lan,192.0.2.13,4352,,,PL-100,02:4E:56:00:00:04,\r\n"
        ",Old One,pjlink,lan,192.0.2.14,4352,,,PL-100,%1,\r\n");
    QTest::newRow("service") << "norvik3d" << QStringList{"--discover", "192.0.2.0/24"} << 0
                             << header + rows << "";
    QTest::newRow("window, with =")
        << "norvik3" << QStringList{"--discover=192.0.2.8/29"} << 0 << header + rows << "";
    QTest::newRow("a range too large")
        << "norvik3d" << QStringList{"--discover", "192.0.0.0/16"} << 2 << ""
        << "larger than a /22";
    QTest::newRow("no range") << "norvik3" << QStringList{"--discover"} << 2 << ""
                              << "needs an address range";
}

void TestDiscoveryNetwork::commandLine() {
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.start(TestBinary(program), arguments);
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitCode(), exitCode);
    QCOMPARE(QString::fromUtf8(process.readAllStandardOutput()),
             out.isEmpty() ? out : out.arg(m_linkMac));
    const QString errors = QString::fromUtf8(process.readAllStandardError());
    if (err.isEmpty())
        QVERIFY2(errors.isEmpty(), qPrintable(errors));
    else
        QVERIFY2(errors.contains(err), qPrintable(errors));
}

QTEST_GUILESS_MAIN(TestDiscoveryNetwork)
#include "test_discovery_network.moc"
