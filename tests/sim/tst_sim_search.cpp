// The simulator's projectors on addresses of their own and its answers to
// the PJLink search.

#include "support/SimProcess.h"
#include "support/TestPrograms.h"

#include <QNetworkDatagram>
#include <QProcess>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

#include <memory>

class TstSimSearch : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void search_data();
    void search();
    void addresses_data();
    void addresses();
    void badAddress();

  private:
    std::unique_ptr<SimProcess> m_sim;
    quint16 m_pjlinkPort = 0;
    quint16 m_searchPort = 0;
};

// PJLink projectors 1..3 at 127.0.0.1..3, class 2 but for 2.
void TstSimSearch::initTestCase() {
    m_pjlinkPort = FreeTcpPort();
    m_searchPort = FreeTcpPort();
    m_sim = std::make_unique<SimProcess>(QStringList{
        QStringLiteral("--pjlink"), QStringLiteral("3"), QStringLiteral("--pjlink-class"),
        QStringLiteral("2"), QStringLiteral("--address-each"), QStringLiteral("--pjlink-port"),
        QString::number(m_pjlinkPort), QStringLiteral("--search-port"),
        QString::number(m_searchPort)});
    QVERIFY2(m_sim->isReady(), qPrintable(m_sim->errorString()));
    QCOMPARE(m_sim->command("pj 2 class 1"), QString("OK"));
}

void TstSimSearch::search_data() {
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("setting"); // a control line sent first, or empty
    QTest::addColumn<QStringList>("answers");
    QTest::newRow("class 2 ones answer from their address")
        << QByteArray("%2SRCH\r") << QString()
        << QStringList{"127.0.0.1 %2ACKN=02:4E:56:00:00:01", "127.0.0.3 %2ACKN=02:4E:56:00:00:03"};
    QTest::newRow("without CR") << QByteArray("%2SRCH") << QString()
                                << QStringList{"127.0.0.1 %2ACKN=02:4E:56:00:00:01",
                                               "127.0.0.3 %2ACKN=02:4E:56:00:00:03"};
    QTest::newRow("a MAC set by control")
        << QByteArray("%2SRCH\r") << QStringLiteral("pj 3 mac 00:11:22:AA:BB:CC")
        << QStringList{"127.0.0.1 %2ACKN=02:4E:56:00:00:01", "127.0.0.3 %2ACKN=00:11:22:AA:BB:CC"};
    QTest::newRow("a silent one keeps quiet")
        << QByteArray("%2SRCH\r") << QStringLiteral("pj 1 silent on")
        << QStringList{"127.0.0.3 %2ACKN=00:11:22:AA:BB:CC"};
    QTest::newRow("class 1 search") << QByteArray("%1SRCH\r") << QString() << QStringList{};
    QTest::newRow("another command") << QByteArray("%2POWR ?\r") << QString() << QStringList{};
}

void TstSimSearch::search() {
    QFETCH(QByteArray, datagram);
    QFETCH(QString, setting);
    QFETCH(QStringList, answers);
    if (!setting.isEmpty())
        QCOMPARE(m_sim->command(setting), QString("OK"));
    QUdpSocket socket;
    QVERIFY(socket.bind(QHostAddress::LocalHost, 0));
    QCOMPARE(socket.writeDatagram(datagram, QHostAddress::LocalHost, m_searchPort),
             qint64(datagram.size()));
    // Search once more after projector 2 turned class 2: its answer comes
    // after every answer to the first datagram, so it marks their end
    // without waiting for a time.
    QCOMPARE(m_sim->command("pj 2 class 2"), QString("OK"));
    const QByteArray marker = "%2SRCH\r";
    socket.writeDatagram(marker, QHostAddress::LocalHost, m_searchPort);
    QStringList got;
    bool markerSeen = false;
    while (!markerSeen && socket.waitForReadyRead(5000)) {
        while (socket.hasPendingDatagrams()) {
            const QNetworkDatagram answer = socket.receiveDatagram();
            const QString text = answer.senderAddress().toString() + QLatin1Char(' ') +
                                 QString::fromLatin1(answer.data()).trimmed();
            if (text.startsWith(QLatin1String("127.0.0.2 ")))
                markerSeen = true; // projector 2 answers only the second search
            else if (!markerSeen)
                got << text;
        }
    }
    QCOMPARE(m_sim->command("pj 2 class 1"), QString("OK"));
    QVERIFY(markerSeen);
    // Projector 1 answers the second search before projector 2 does.
    got.removeDuplicates();
    got.sort();
    QCOMPARE(got, answers);
}

void TstSimSearch::addresses_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("listening");
    QTest::newRow("first") << "127.0.0.1" << true;
    QTest::newRow("second") << "127.0.0.2" << true;
    QTest::newRow("third") << "127.0.0.3" << true;
    QTest::newRow("none past the last") << "127.0.0.4" << false;
}

void TstSimSearch::addresses() {
    QFETCH(QString, address);
    QFETCH(bool, listening);
    QCOMPARE(m_sim->command("pj all silent off"), QString("OK"));
    QTcpSocket socket;
    socket.connectToHost(QHostAddress(address), m_pjlinkPort);
    const bool connected = socket.waitForConnected(5000);
    QCOMPARE(connected, listening);
    if (!connected)
        return;
    QVERIFY(socket.canReadLine() || socket.waitForReadyRead(5000));
    QCOMPARE(socket.readLine().trimmed(), QByteArray("PJLINK 0"));
}

void TstSimSearch::badAddress() {
    for (const char* address : {"not-an-address", "2001:db8::1", "127.0.0"}) {
        QProcess sim;
        sim.start(qEnvironmentVariable("NORVIK3_SIM"),
                  {QStringLiteral("--pjlink"), QStringLiteral("1"), QStringLiteral("--address"),
                   QString::fromLatin1(address)});
        QVERIFY(sim.waitForFinished(10000));
        QCOMPARE(sim.exitCode(), 2);
        QVERIFY(sim.readAllStandardError().contains("--address"));
    }
}

QTEST_GUILESS_MAIN(TstSimSearch)
#include "tst_sim_search.moc"
