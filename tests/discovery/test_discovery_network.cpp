// Discovery across a real link: the program in one network namespace, the
// simulator's projectors at TEST-NET-1 addresses in another. The search's
// broadcast, the probe's connects and the neighbour table are all real.

#include "support/NetworkPair.h"
#include "support/ProjectorRecords.h"
#include "support/SimProcess.h"
#include "support/TestPrograms.h"

#include "core/AppState.h"
#include "discovery/Discovery.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <memory>
#include <vector>

using namespace std::chrono_literals;

// Search answers from addresses of the projectors' side where no projector
// is: 192.0.2.9 (nothing on TCP) and 192.0.2.50 (outside every range but the
// /24), each under many MAC addresses, to the program's search port, ten
// times a second for three seconds.
class Spoofer {
  public:
    static inline const QStringList Addresses{QStringLiteral("192.0.2.9"),
                                              QStringLiteral("192.0.2.50")};

    explicit Spoofer(NetworkPair& pair) {
        pair.enter(NetworkPair::Side::Projectors);
        for (const QString& address : Addresses) {
            auto socket = std::make_unique<QUdpSocket>();
            if (socket->bind(QHostAddress(address), 0))
                m_sockets.push_back(std::move(socket));
        }
        pair.enter(NetworkPair::Side::Program);
        m_timer.setInterval(100ms);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            for (const auto& socket : m_sockets) {
                for (int mac = 0; mac < 50; ++mac)
                    socket->writeDatagram(
                        "%2ACKN=02:66:00:00:" + QByteArray::number(m_rounds + 10) + ':' +
                            QByteArray::number(mac + 10) + '\r',
                        QHostAddress(NetworkPair::ProgramAddress), 4352);
            }
            if (++m_rounds == 30)
                m_timer.stop();
        });
        m_timer.start();
    }
    bool isReady() const { return m_sockets.size() == std::size_t(Addresses.size()); }

  private:
    std::vector<std::unique_ptr<QUdpSocket>> m_sockets;
    QTimer m_timer;
    int m_rounds = 0;
};

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
    QProcessEnvironment programEnvironment() const;

    std::unique_ptr<NetworkPair> m_pair;
    std::unique_ptr<SimProcess> m_sim;
    QString m_linkMac;
    // A program folder whose fleet has 192.0.2.12 and, elsewhere, a
    // projector under the root named as the one at .13 calls itself.
    QTemporaryDir m_home;
};

// Simulator ids and addresses: own protocol 1 and 2 at .10 and .11 on port
// 23; PJLink 3 and 4 (class 2) at .12 and .13, PJLink 5 (class 1) at .14.
void TestDiscoveryNetwork::initTestCase() {
    QStringList addresses;
    for (int host = 10; host <= 14; ++host)
        addresses << QStringLiteral("192.0.2.%1").arg(host);
    addresses << Spoofer::Addresses;
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

    const QString fleet = m_home.filePath(QStringLiteral("fleet.csv"));
    QFile file(fleet);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("Group,Name,Protocol,Connection,Address,Port,COMPort,COMSettings,Model,MACAddress,"
               "Password\r\nHall,Known,pjlink,lan,192.0.2.12,4352,,,,,\r\n"
               ",\"Hall, \"\"North\"\"\",pjlink,lan,192.0.2.200,4352,,,,,\r\n");
    file.close();
    QProcess import;
    import.setProcessEnvironment(programEnvironment());
    import.start(TestBinary(QStringLiteral("norvik3d")), {QStringLiteral("--import"), fleet});
    QVERIFY(import.waitForFinished(60000));
    QVERIFY2(import.exitCode() == 0, import.readAllStandardError().constData());
}

QProcessEnvironment TestDiscoveryNetwork::programEnvironment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("NORVIK3_HOME"), m_home.path());
    return environment;
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
    QTest::addColumn<int>("targets"); // address and port pairs probed
    const QString a = QStringLiteral("192.0.2.12 4352 pjlink search R204 Left PL-100");
    const QString b = QStringLiteral("192.0.2.13 4352 pjlink search Hall, \"North\" PL-100");
    QTest::newRow("search alone: class 2 only, named by a probe")
        << true << QString() << QStringList{a + " known", b + " new"} << 4;
    QTest::newRow("probe alone: every projector, MACs from the neighbour table")
        << false << QStringLiteral("192.0.2.8/29")
        << QStringList{"192.0.2.10 23 native neighbour - - new",
                       "192.0.2.11 23 native neighbour - - new",
                       "192.0.2.12 4352 pjlink neighbour R204 Left PL-100 known",
                       "192.0.2.13 4352 pjlink neighbour Hall, \"North\" PL-100 new",
                       "192.0.2.14 4352 pjlink neighbour Old One PL-100 new"}
        << 12;
    QTest::newRow("both: the search's MAC wins")
        << true << QStringLiteral("192.0.2.0/24")
        << QStringList{"192.0.2.10 23 native neighbour - - new",
                       "192.0.2.11 23 native neighbour - - new", a + " known", b + " new",
                       "192.0.2.14 4352 pjlink neighbour Old One PL-100 new"}
        << 508;
    QTest::newRow("one address: answers from elsewhere neither probed nor found")
        << true << QStringLiteral("192.0.2.13") << QStringList{b + " new"} << 2;
    QTest::newRow("a range with no projector")
        << false << QStringLiteral("192.0.2.128/28") << QStringList{} << 28;
}

void TestDiscoveryNetwork::discover() {
    QFETCH(bool, search);
    QFETCH(QString, range);
    QFETCH(QStringList, expected);
    QFETCH(int, targets);
    AppState fleet;
    PutProjector(fleet, 1, PJLinkProjector({}, QStringLiteral("192.0.2.12"), {}));

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
    const Spoofer spoofer(*m_pair);
    QVERIFY(spoofer.isReady());
    QVERIFY(finished.wait(60000));
    QVERIFY2(discovery.problems().isEmpty(), qPrintable(discovery.problems().join('\n')));
    QStringList got;
    for (const DiscoveryFind& find : discovery.finds())
        got << describe(find);
    got.sort();
    QCOMPARE(got, expected);
    QCOMPARE(found.size(), expected.size());
    QCOMPARE(discovery.probedCount(), discovery.targetCount());
    QCOMPARE(discovery.targetCount(), targets);
}

void TestDiscoveryNetwork::commandLine_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");    // a pattern
    QTest::addColumn<QString>("dryRun"); // what importing the output says; empty: not tried
    const QString header =
        QStringLiteral("Group,Name,Protocol,Connection,Address,Port,COMPort,COMSettings,Model,"
                       "MACAddress,Password,Product,Note\r\n");
    // .12 is in the fleet and left out; .13's name is taken under the root.
    const QString native = QStringLiteral(",192.0.2.10,native,lan,192.0.2.10,23,,,%2,%1,,,%3\r\n"
                                          ",192.0.2.11,native,lan,192.0.2.11,23,,,%2,%1,,,%3\r\n");
    const QString pjlink =
        QStringLiteral(",\"Hall, \"\"North\"\" "
                       "(2)\",pjlink,lan,192.0.2.13,4352,,,,02:4E:56:00:00:04,,PL-100,\r\n");
    const QString old = QStringLiteral(",Old One,pjlink,lan,192.0.2.14,4352,,,,%1,,PL-100,\r\n");
    const QString summary =
        QStringLiteral("^%1: searched: %2 answered, \\d+ ignored from outside the range; probed: "
                       "%3; found: %4; already in the fleet: 1, not listed\n$");
    QTest::newRow("service: own-protocol rows want a model")
        << "norvik3d" << QStringList{"--discover", "192.0.2.0/24"} << 0
        << header + native.arg("%1", "", "choose the model") + pjlink + old
        << summary.arg("norvik3d").arg(4).arg(508).arg(5) << "line 2: A Model is not specified.";
    QTest::newRow("window, with = and a model: imports as it is")
        << "norvik3" << QStringList{"--discover=192.0.2.8/29", "--model", "VX-4200"} << 0
        << header + native.arg("%1", "VX-4200", "") + pjlink + old
        << summary.arg("norvik3").arg(3).arg(12).arg(5)
        << "dry run: 4 to add, 0 to change, 0 left alone; nothing written";
    QTest::newRow("one address, answers from elsewhere")
        << "norvik3d" << QStringList{"--discover", "192.0.2.12/32"} << 0 << header
        << summary.arg("norvik3d").arg(1).arg(2).arg(1)
        << "dry run: 0 to add, 0 to change, 0 left alone; nothing written";
    QTest::newRow("a model not in the model file")
        << "norvik3d" << QStringList{"--discover", "192.0.2.12", "--model", "VX-9"} << 2 << ""
        << "the model \"VX-9\" is not in the model file"
        << "";
    QTest::newRow("a range too large")
        << "norvik3d" << QStringList{"--discover", "192.0.0.0/16"} << 2 << ""
        << "larger than a /22"
        << "";
    QTest::newRow("no range") << "norvik3" << QStringList{"--discover"} << 2 << ""
                              << "needs an address range"
                              << "";
}

void TestDiscoveryNetwork::commandLine() {
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QFETCH(QString, dryRun);
    QProcess process;
    process.setProcessEnvironment(programEnvironment());
    process.start(TestBinary(program), arguments);
    const Spoofer spoofer(*m_pair);
    QVERIFY(spoofer.isReady());
    // The event loop runs meanwhile, for the spoofer to send.
    QTRY_VERIFY_WITH_TIMEOUT(process.state() == QProcess::NotRunning, 60000);
    QCOMPARE(process.exitCode(), exitCode);
    const QByteArray written = process.readAllStandardOutput();
    // The byte-order mark (which fromUtf8 drops) goes to a file, never to a terminal.
    QCOMPARE(written.startsWith("\xEF\xBB\xBF"), exitCode == 0);
    QCOMPARE(QString::fromUtf8(written), out.isEmpty() ? out : out.arg(m_linkMac));
    const QString errors = QString::fromUtf8(process.readAllStandardError());
    QVERIFY2(errors.contains(QRegularExpression(err)), qPrintable(errors));
    if (dryRun.isEmpty())
        return;
    const QString csv = m_home.filePath(QStringLiteral("found.csv"));
    QFile file(csv);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(written);
    file.close();
    QProcess import;
    import.setProcessEnvironment(programEnvironment());
    import.start(TestBinary(QStringLiteral("norvik3d")),
                 {QStringLiteral("--import"), csv, QStringLiteral("--dry-run")});
    QVERIFY(import.waitForFinished(60000));
    const QString said =
        QString::fromUtf8(import.readAllStandardOutput() + import.readAllStandardError());
    QVERIFY2(said.contains(dryRun), qPrintable(said));
}

QTEST_GUILESS_MAIN(TestDiscoveryNetwork)
#include "test_discovery_network.moc"
