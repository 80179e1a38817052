// Runs the real simulator and talks PJLink to its projectors over loopback
// TCP and UDP, as the program does.

#include "support/SimProcess.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

#include <memory>

namespace {

constexpr int Timeout = 20000;

QByteArray md5(const QByteArray& text) {
    return QCryptographicHash::hash(text, QCryptographicHash::Md5).toHex();
}

// One PJLink connection: reads the greeting on connecting and puts the
// password's digest in front of the first command when the greeting asks.
class PJLinkClient {
  public:
    explicit PJLinkClient(quint16 port, const QByteArray& password = {}, bool expectGreeting = true)
        : m_password(password) {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        if (m_socket.waitForConnected(Timeout) && expectGreeting)
            greeting = line();
    }

    bool isConnected() const { return m_socket.state() == QAbstractSocket::ConnectedState; }

    // One CR-terminated line without its CR; empty when none came.
    QByteArray line(int timeout = Timeout) {
        while (!m_socket.canReadLine() && !m_buffer.contains('\r')) {
            if (!m_socket.waitForReadyRead(timeout))
                break;
            m_buffer += m_socket.readAll();
        }
        m_buffer += m_socket.readAll();
        const qsizetype end = m_buffer.indexOf('\r');
        if (end < 0)
            return {};
        const QByteArray line = m_buffer.left(end);
        m_buffer.remove(0, end + 1);
        return line;
    }

    // Everything that came without a line end so far.
    QByteArray pending() {
        m_buffer += m_socket.readAll();
        return m_buffer;
    }

    void send(const QByteArray& command) {
        const QList<QByteArray> words = greeting.split(' ');
        const bool challenged = m_first && words.size() == 3 && words[1] == "1";
        sendRaw(challenged ? md5(words[2] + m_password) + command : command);
    }

    // Sends the line as it is, without a digest.
    void sendRaw(const QByteArray& line) { write(line + '\r'); }

    void write(const QByteArray& bytes) {
        m_first = false;
        m_socket.write(bytes);
        m_socket.flush();
    }

    QByteArray ask(const QByteArray& command, int timeout = Timeout) {
        send(command);
        return line(timeout);
    }

    // True once the simulator closed the connection.
    bool waitClosed() {
        while (isConnected() && m_socket.waitForReadyRead(Timeout))
            m_buffer += m_socket.readAll();
        return !isConnected();
    }

    QByteArray greeting;

  private:
    QTcpSocket m_socket;
    QByteArray m_password;
    QByteArray m_buffer;
    bool m_first = true;
};

// A simulator with one own TCP projector (id 1) and PJLink projectors from id 2.
std::unique_ptr<SimProcess> startSim(int count, const QStringList& extra = {}) {
    return std::make_unique<SimProcess>(QStringList{"--tcp", "1", "--pjlink",
                                                    QString::number(count), "--lamp", "1500",
                                                    "--filter", "250"} +
                                        extra);
}

// Each step is "command => expected reply".
using Steps = QStringList;

} // namespace

class TestSimPJLink : public QObject {
    Q_OBJECT

  private slots:
    void idsFollowTheOtherProjectors() {
        SimProcess sim({"--tcp", "1", "--pty", "1", "--pjlink", "2"});
        QVERIFY2(sim.isReady(), qPrintable(sim.errorString()));
        QCOMPARE(sim.pjlinkPort(1), quint16(0));
        QCOMPARE(sim.pjlinkPort(2), quint16(0));
        QVERIFY(sim.pjlinkPort(3) != 0 && sim.pjlinkPort(4) != 0);
        QCOMPARE(sim.tcpPort(3), quint16(0));
        QVERIFY(sim.command("pj 3 state").startsWith("OK class=1 power=0 "));
        QVERIFY(sim.command("pj 2 state").startsWith("ERR "));
        // The own protocol's commands do not reach a PJLink projector.
        QVERIFY(sim.command("power 3 1").startsWith("ERR "));
    }

    void greetingAndPassword_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("setup");
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<QString>("greeting");
        QTest::addColumn<QByteArray>("reply");
        const QString open = "^PJLINK 0$";
        const QString challenge = "^PJLINK 1 [0-9a-f]{8}$";
        QTest::newRow("no password")
            << QStringList{} << QStringList{} << QByteArray() << open << QByteArray("%1POWR=0");
        QTest::newRow("password option")
            << QStringList{"--pjlink-password", "s3cret"} << QStringList{} << QByteArray("s3cret")
            << challenge << QByteArray("%1POWR=0");
        QTest::newRow("password by control line")
            << QStringList{} << QStringList{"pj 2 password pw"} << QByteArray("pw") << challenge
            << QByteArray("%1POWR=0");
        QTest::newRow("wrong password")
            << QStringList{} << QStringList{"pj 2 password pw"} << QByteArray("px") << challenge
            << QByteArray("PJLINK ERRA");
        QTest::newRow("password removed again")
            << QStringList{"--pjlink-password", "pw"} << QStringList{"pj 2 password none"}
            << QByteArray() << open << QByteArray("%1POWR=0");
        QTest::newRow("erra refuses the right password")
            << QStringList{"--pjlink-password", "pw"} << QStringList{"pj 2 erra on"}
            << QByteArray("pw") << challenge << QByteArray("PJLINK ERRA");
        QTest::newRow("erra without a password")
            << QStringList{} << QStringList{"pj 2 erra on"} << QByteArray() << challenge
            << QByteArray("PJLINK ERRA");
    }

    void greetingAndPassword() {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, setup);
        QFETCH(QByteArray, password);
        QFETCH(QString, greeting);
        QFETCH(QByteArray, reply);
        const auto sim = startSim(1, arguments);
        QVERIFY2(sim->isReady(), qPrintable(sim->errorString()));
        for (const QString& line : setup)
            QCOMPARE(sim->command(line), QString("OK"));
        PJLinkClient client(sim->pjlinkPort(2), password);
        QVERIFY2(QRegularExpression(greeting).match(client.greeting).hasMatch(), client.greeting);
        QCOMPARE(client.ask("%1POWR ?"), reply);
        if (reply.startsWith("PJLINK")) {
            QVERIFY(client.waitClosed());
            return;
        }
        // Only the first command carries the digest.
        QCOMPARE(client.ask("%1POWR ?"), QByteArray("%1POWR=0"));
    }

    void missingDigestIsRefused() {
        const auto sim = startSim(1, {"--pjlink-password", "pw"});
        QVERIFY2(sim->isReady(), qPrintable(sim->errorString()));
        const quint16 port = sim->pjlinkPort(2);
        // A digest of the right form, but for another random.
        const QByteArray stale = md5("00000000pw");
        for (const QByteArray& first :
             {QByteArray("%1POWR ?"), stale + "%1POWR ?", QByteArray("0a")}) {
            PJLinkClient client(port);
            QVERIFY(client.greeting.startsWith("PJLINK 1 "));
            client.sendRaw(first);
            QCOMPARE(client.line(), QByteArray("PJLINK ERRA"));
            QVERIFY(client.waitClosed());
        }
        // An upper-case digest is as good as a lower-case one.
        PJLinkClient client(port);
        client.sendRaw(md5(client.greeting.split(' ').value(2) + "pw").toUpper() + "%1CLSS ?");
        QCOMPARE(client.line(), QByteArray("%1CLSS=1"));
        QCOMPARE(client.ask("%1POWR ?"), QByteArray("%1POWR=0"));
    }

    void commands_data() {
        QTest::addColumn<int>("pjClass");
        QTest::addColumn<QStringList>("setup");
        QTest::addColumn<Steps>("steps");
        QTest::newRow("class 1 in standby")
            << 1 << QStringList{}
            << Steps{"%1POWR ? => %1POWR=0",        "%1INPT ? => %1INPT=ERR3",
                     "%1INPT 31 => %1INPT=ERR3",    "%1AVMT ? => %1AVMT=ERR3",
                     "%1AVMT 31 => %1AVMT=ERR3",    "%1ERST ? => %1ERST=000000",
                     "%1LAMP ? => %1LAMP=1500 0",   "%1INST ? => %1INST=11 12 21 31 32 51",
                     "%1NAME ? => %1NAME=PJLink 2", "%1INF1 ? => %1INF1=Sim Optics",
                     "%1INF2 ? => %1INF2=PL-100",   "%1INFO ? => %1INFO=simulated projector",
                     "%1CLSS ? => %1CLSS=1"};
        QTest::newRow("class 1 refuses class 2 and bad lines")
            << 1 << QStringList{"pj 2 power 1"}
            << Steps{"%2FILT ? => %2FILT=ERR1",  "%2SNUM ? => %2SNUM=ERR1",
                     "%2INPT ? => %2INPT=ERR1",  "%2FREZ ? => %2FREZ=ERR1",
                     "%1FILT ? => %1FILT=ERR1",  "%1ABCD ? => %1ABCD=ERR1",
                     "%1POWR 5 => %1POWR=ERR2",  "%1NAME x => %1NAME=ERR2",
                     "%1INPT 99 => %1INPT=ERR2", "%1INPT 3A => %1INPT=ERR2",
                     "%1INPT 41 => %1INPT=ERR2", "%1AVMT 40 => %1AVMT=ERR2",
                     "%1POWR => %1POWR=ERR2",    "%1powr ? => %1POWR=1"};
        QTest::newRow("class 1 switched on")
            << 1 << QStringList{"pj 2 power 1"}
            << Steps{"%1POWR ? => %1POWR=1",   "%1INPT ? => %1INPT=11",    "%1INPT 31 => %1INPT=OK",
                     "%1INPT ? => %1INPT=31",  "%1AVMT ? => %1AVMT=30",    "%1AVMT 11 => %1AVMT=OK",
                     "%1AVMT ? => %1AVMT=11",  "%1AVMT 21 => %1AVMT=OK",   "%1AVMT ? => %1AVMT=31",
                     "%1AVMT 10 => %1AVMT=OK", "%1AVMT ? => %1AVMT=21",    "%1AVMT 30 => %1AVMT=OK",
                     "%1AVMT ? => %1AVMT=30",  "%1LAMP ? => %1LAMP=1500 1"};
        QTest::newRow("class 2") << 2 << QStringList{"pj 2 power 1"}
                                 << Steps{"%1CLSS ? => %1CLSS=2",
                                          "%2FILT ? => %2FILT=250",
                                          "%2SNUM ? => %2SNUM=SIM000002",
                                          "%2SVER ? => %2SVER=1.00",
                                          "%2INST ? => %2INST=11 12 21 31 32 3A 51",
                                          "%1INST ? => %1INST=11 12 21 31 32 51",
                                          "%2INPT 3A => %2INPT=OK",
                                          "%2INPT ? => %2INPT=3A",
                                          "%2INNM ?3A => %2INNM=HDBaseT",
                                          "%2INNM ?31 => %2INNM=HDMI 1",
                                          "%2INNM ?41 => %2INNM=ERR2",
                                          "%2INNM 31 => %2INNM=ERR2",
                                          "%2INPT 3B => %2INPT=ERR2",
                                          "%2FREZ ? => %2FREZ=0",
                                          "%2FREZ 1 => %2FREZ=OK",
                                          "%2FREZ ? => %2FREZ=1",
                                          "%2FREZ 2 => %2FREZ=ERR2",
                                          "%2POWR ? => %2POWR=ERR1"};
        QTest::newRow("class 2 in standby")
            << 2 << QStringList{}
            << Steps{"%2INPT ? => %2INPT=ERR3", "%2FREZ ? => %2FREZ=ERR3",
                     "%2FREZ 1 => %2FREZ=ERR3", "%2FILT ? => %2FILT=250"};
        QTest::newRow("values set by control lines")
            << 2
            << QStringList{"pj 2 erst 012021",     "pj 2 lamps 40000 7 123",  "pj 2 filter 33000",
                           "pj 2 name Aula Nord",  "pj 2 maker Acme Vision",  "pj 2 product LX 9",
                           "pj 2 info laser unit", "pj 2 serial AB-77",       "pj 2 version 2.4b",
                           "pj 2 inputs 31 3C 52", "pj 2 inputname 3C Stage", "pj 2 power 1",
                           "pj 2 input 3c"}
            << Steps{"%1ERST ? => %1ERST=012021",      "%1LAMP ? => %1LAMP=40000 1 7 1 123 1",
                     "%2FILT ? => %2FILT=33000",       "%1NAME ? => %1NAME=Aula Nord",
                     "%1INF1 ? => %1INF1=Acme Vision", "%1INF2 ? => %1INF2=LX 9",
                     "%1INFO ? => %1INFO=laser unit",  "%2SNUM ? => %2SNUM=AB-77",
                     "%2SVER ? => %2SVER=2.4b",        "%2INST ? => %2INST=31 3C 52",
                     "%2INPT ? => %2INPT=3C",          "%2INNM ?3C => %2INNM=Stage",
                     "%1INPT 11 => %1INPT=ERR2"};
    }

    void commands() {
        QFETCH(int, pjClass);
        QFETCH(QStringList, setup);
        QFETCH(Steps, steps);
        const auto sim = startSim(1, {"--pjlink-class", QString::number(pjClass)});
        QVERIFY2(sim->isReady(), qPrintable(sim->errorString()));
        for (const QString& line : setup)
            QCOMPARE(sim->command(line), QString("OK"));
        PJLinkClient client(sim->pjlinkPort(2));
        QCOMPARE(client.greeting, QByteArray("PJLINK 0"));
        for (const QString& step : steps) {
            const QStringList parts = step.split(" => ");
            QCOMPARE(QString::fromLatin1(client.ask(parts[0].toLatin1())), parts[1]);
        }
        QVERIFY(client.isConnected());
    }

    void powerWarmsUpAndCoolsDown() {
        const auto sim = startSim(1, {"--warmup-ms", "300", "--cooldown-ms", "300"});
        QVERIFY2(sim->isReady(), qPrintable(sim->errorString()));
        PJLinkClient client(sim->pjlinkPort(2));
        QCOMPARE(sim->command("warmup 600000"), QString("OK"));
        QCOMPARE(client.ask("%1POWR 1"), QByteArray("%1POWR=OK"));
        QCOMPARE(client.ask("%1POWR ?"), QByteArray("%1POWR=3"));
        QCOMPARE(client.ask("%1POWR 0"), QByteArray("%1POWR=ERR3"));
        QCOMPARE(client.ask("%1INPT ?"), QByteArray("%1INPT=ERR3"));
        QCOMPARE(client.ask("%1LAMP ?"), QByteArray("%1LAMP=1500 1"));
        QCOMPARE(sim->command("warmup 300"), QString("OK"));
        QCOMPARE(sim->command("pj 2 power 3"), QString("OK"));
        QTRY_COMPARE_WITH_TIMEOUT(client.ask("%1POWR ?"), QByteArray("%1POWR=1"), Timeout);
        QCOMPARE(client.ask("%1POWR 1"), QByteArray("%1POWR=OK"));
        QCOMPARE(sim->command("cooldown 600000"), QString("OK"));
        QCOMPARE(client.ask("%1POWR 0"), QByteArray("%1POWR=OK"));
        QCOMPARE(client.ask("%1POWR ?"), QByteArray("%1POWR=2"));
        QCOMPARE(client.ask("%1POWR 1"), QByteArray("%1POWR=ERR3"));
        QCOMPARE(client.ask("%1AVMT ?"), QByteArray("%1AVMT=ERR3"));
        QCOMPARE(client.ask("%1LAMP ?"), QByteArray("%1LAMP=1500 0"));
        QCOMPARE(sim->command("cooldown 300"), QString("OK"));
        QCOMPARE(sim->command("pj 2 power 2"), QString("OK"));
        QTRY_COMPARE_WITH_TIMEOUT(client.ask("%1POWR ?"), QByteArray("%1POWR=0"), Timeout);
        QCOMPARE(client.ask("%1POWR 0"), QByteArray("%1POWR=OK"));
        QCOMPARE(client.ask("%1POWR ?"), QByteArray("%1POWR=0"));
    }

    void hoursCountWhileLit() {
        const auto sim = startSim(2, {"--hour-ms", "50", "--pjlink-class", "2"});
        QVERIFY2(sim->isReady(), qPrintable(sim->errorString()));
        QCOMPARE(sim->command("pj 2 lamps 32767 10"), QString("OK"));
        QCOMPARE(sim->command("pj 2 power 1"), QString("OK"));
        PJLinkClient client(sim->pjlinkPort(2));
        QTRY_VERIFY_WITH_TIMEOUT(client.ask("%2FILT ?").mid(7).toInt() > 252, Timeout);
        const QList<QByteArray> lamp = client.ask("%1LAMP ?").mid(7).split(' ');
        QCOMPARE(lamp.size(), 4);
        QVERIFY2(lamp[0].toInt() > 32767 && lamp[2].toInt() > 10, lamp.join(' '));
        QCOMPARE(lamp[1] + lamp[3], QByteArray("11"));
        // The one in standby has not aged.
        PJLinkClient other(sim->pjlinkPort(3));
        QCOMPARE(other.ask("%1LAMP ?"), QByteArray("%1LAMP=1500 0"));
        QCOMPARE(other.ask("%2FILT ?"), QByteArray("%2FILT=250"));
    }

    void quirks_data() {
        QTest::addColumn<int>("pjClass");
        QTest::addColumn<QString>("quirk");
        QTest::addColumn<Steps>("steps");
        QTest::newRow("lowercase") << 2 << "lowercase"
                                   << Steps{"%1POWR ? => %1powr=0", "%1NAME ? => %1name=PJLink 2",
                                            "%2INPT 3A => %2inpt=err3", "%1POWR 1 => %1powr=ok"};
        QTest::newRow("classtext 1") << 1 << "classtext" << Steps{"%1CLSS ? => %1CLSS=Class 1"};
        QTest::newRow("classtext 2") << 2 << "classtext" << Steps{"%1CLSS ? => %1CLSS=Class 2"};
        QTest::newRow("wrongreply once")
            << 1 << "wrongreply"
            << Steps{"%1POWR 1 => %1POWR=OK", "%1POWR ? => %1NAME=PJLink 2",
                     "%1ERST ? => %1ERST=000000", "%1NAME ? => %1NAME=PJLink 2"};
        QTest::newRow("wrongreply to a name query")
            << 1 << "wrongreply" << Steps{"%1NAME ? => %1POWR=0", "%1NAME ? => %1NAME=PJLink 2"};
    }

    void quirks() {
        QFETCH(int, pjClass);
        QFETCH(QString, quirk);
        QFETCH(Steps, steps);
        const auto sim = startSim(1, {"--pjlink-class", QString::number(pjClass)});
        QVERIFY2(sim->isReady(), qPrintable(sim->errorString()));
        QCOMPARE(sim->command("pj 2 " + quirk + " on"), QString("OK"));
        {
            PJLinkClient client(sim->pjlinkPort(2));
            QCOMPARE(client.greeting, QByteArray("PJLINK 0"));
            for (const QString& step : steps) {
                const QStringList parts = step.split(" => ");
                QCOMPARE(QString::fromLatin1(client.ask(parts[0].toLatin1())), parts[1]);
            }
        }
        QCOMPARE(sim->command("pj 2 " + quirk + " off"), QString("OK"));
        PJLinkClient client(sim->pjlinkPort(2));
        QCOMPARE(client.ask("%1CLSS ?"), "%1CLSS=" + QByteArray::number(pjClass));
    }

    void connectionQuirks() {
        const auto sim = startSim(1, {"--pjlink-password", "pw"});
        QVERIFY2(sim->isReady(), qPrintable(sim->errorString()));
        const quint16 port = sim->pjlinkPort(2);

        QCOMPARE(sim->command("pj 2 silent on"), QString("OK"));
        {
            PJLinkClient client(port, "pw", false);
            QVERIFY(client.isConnected());
            client.send("%1POWR ?");
            QTRY_COMPARE_WITH_TIMEOUT(sim->command("pjstats 2").section(' ', 4, 4),
                                      QString("commands=1"), Timeout);
            QCOMPARE(client.line(300), QByteArray());
            QVERIFY(client.pending().isEmpty());
        }
        QCOMPARE(sim->command("pj 2 silent off"), QString("OK"));

        // Without a greeting there is no random to hash, so commands are
        // answered without a digest.
        QCOMPARE(sim->command("pj 2 nogreeting on"), QString("OK"));
        {
            PJLinkClient client(port, "pw", false);
            QCOMPARE(client.line(300), QByteArray());
            QCOMPARE(client.ask("%1POWR ?"), QByteArray("%1POWR=0"));
        }
        QCOMPARE(sim->command("pj 2 nogreeting off"), QString("OK"));

        QCOMPARE(sim->command("pj 2 flood on"), QString("OK"));
        {
            PJLinkClient client(port, "pw");
            QVERIFY(client.greeting.startsWith("PJLINK 1 "));
            QTRY_VERIFY_WITH_TIMEOUT(client.pending().size() >= 5 * 1024, Timeout);
            QCOMPARE(client.pending(), QByteArray(5 * 1024, 'x'));
        }
        QCOMPARE(sim->command("pj 2 flood off"), QString("OK"));

        QCOMPARE(sim->command("pj 2 idledrop 200"), QString("OK"));
        {
            PJLinkClient client(port, "pw");
            QCOMPARE(client.ask("%1POWR ?"), QByteArray("%1POWR=0"));
            QVERIFY(client.waitClosed());
        }
        QCOMPARE(sim->command("pj 2 idledrop 0"), QString("OK"));
        {
            PJLinkClient client(port, "pw");
            QCOMPARE(client.ask("%1POWR ?"), QByteArray("%1POWR=0"));
            QCOMPARE(client.line(500), QByteArray());
            QVERIFY(client.isConnected());
        }

        // Delayed replies keep the order of their commands, and a refused
        // password still closes the connection after its delayed answer.
        QCOMPARE(sim->command("pj 2 delay 100"), QString("OK"));
        {
            PJLinkClient client(port, "pw");
            client.send("%1POWR ?");
            client.send("%1CLSS ?");
            client.send("%1ERST ?");
            for (const char* expected : {"%1POWR=0", "%1CLSS=1", "%1ERST=000000"})
                QCOMPARE(client.line(), QByteArray(expected));
        }
        {
            PJLinkClient client(port, "wrong");
            client.send("%1POWR ?");
            client.send("%1CLSS ?");
            QCOMPARE(client.line(), QByteArray("PJLINK ERRA"));
            QVERIFY(client.waitClosed());
            QCOMPARE(client.pending(), QByteArray());
        }
        QCOMPARE(sim->command("pj 2 delay 0"), QString("OK"));

        // A client that never ends its line is cut off, and so is one whose
        // line is far too long.
        for (const QByteArray& bytes :
             {QByteArray(5000, 'a'), "%1NAME " + QByteArray(5000, '?') + '\r'}) {
            PJLinkClient client(port, "pw");
            client.send("%1POWR ?");
            QCOMPARE(client.line(), QByteArray("%1POWR=0"));
            client.write(bytes);
            QVERIFY(client.waitClosed());
            QCOMPARE(client.pending(), QByteArray());
        }
    }

    void statsCountConnections() {
        const auto sim = startSim(2);
        QVERIFY2(sim->isReady(), qPrintable(sim->errorString()));
        QCOMPARE(sim->command("pjstats 2"),
                 QString("OK connections=0 concurrent_max=0 open=0 commands=0"));
        for (int i = 0; i < 3; ++i) {
            PJLinkClient client(sim->pjlinkPort(2));
            QCOMPARE(client.ask("%1POWR ?"), QByteArray("%1POWR=0"));
            QCOMPARE(client.ask("%1ERST ?"), QByteArray("%1ERST=000000"));
        }
        QTRY_COMPARE_WITH_TIMEOUT(sim->command("pjstats 2"),
                                  QString("OK connections=3 concurrent_max=1 open=0 commands=6"),
                                  Timeout);
        {
            PJLinkClient first(sim->pjlinkPort(2));
            PJLinkClient second(sim->pjlinkPort(2));
            QCOMPARE(second.ask("%1POWR ?"), QByteArray("%1POWR=0"));
            QCOMPARE(sim->command("pjstats 2"),
                     QString("OK connections=5 concurrent_max=2 open=2 commands=7"));
            QCOMPARE(sim->command("pjstats 2 reset"), QString("OK"));
            QCOMPARE(sim->command("pjstats 2"),
                     QString("OK connections=0 concurrent_max=2 open=2 commands=0"));
        }
        QTRY_COMPARE_WITH_TIMEOUT(sim->command("pjstats 2").section(' ', 3, 3), QString("open=0"),
                                  Timeout);
        QCOMPARE(sim->command("pjstats 3"),
                 QString("OK connections=0 concurrent_max=0 open=0 commands=0"));
    }

    void notificationsAreSent_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("from");
        QTest::newRow("power") << "%2POWR=1"
                               << "";
        QTest::newRow("errors") << "%2ERST=002000"
                                << "";
        QTest::newRow("input") << "%2INPT=31"
                               << "127.0.0.1";
        QTest::newRow("lookup from another address") << "%2LKUP=00:11:22:33:44:55"
                                                     << "127.0.0.2";
    }

    void notificationsAreSent() {
        QFETCH(QString, line);
        QFETCH(QString, from);
        const auto sim = startSim(1);
        QVERIFY2(sim->isReady(), qPrintable(sim->errorString()));
        QUdpSocket listener;
        QVERIFY(listener.bind(QHostAddress::LocalHost, 0));
        const QString command =
            QString("notify 2 %1 %2 %3").arg(listener.localPort()).arg(line, from).trimmed();
        QCOMPARE(sim->command(command), QString("OK"));
        QTRY_VERIFY_WITH_TIMEOUT(listener.hasPendingDatagrams(), Timeout);
        QByteArray datagram(int(listener.pendingDatagramSize()), '\0');
        QHostAddress sender;
        listener.readDatagram(datagram.data(), datagram.size(), &sender);
        QCOMPARE(datagram, line.toLatin1() + '\r');
        QCOMPARE(sender, QHostAddress(from.isEmpty() ? QString("127.0.0.1") : from));
    }

    void badControlLinesAreRefused() {
        const auto sim = startSim(2);
        QVERIFY2(sim->isReady(), qPrintable(sim->errorString()));
        for (const char* line : {"pj 9 power 1",
                                 "pj 1 power 1",
                                 "pj 2",
                                 "pj 2 power 4",
                                 "pj 2 power",
                                 "pj 2 class 3",
                                 "pj 2 erst 0030",
                                 "pj 2 erst 003000x",
                                 "pj 2 erst 300000",
                                 "pj 2 lamps",
                                 "pj 2 lamps 1 2 3 4 5 6 7 8 9",
                                 "pj 2 lamps 1 x",
                                 "pj 2 filter -1",
                                 "pj 2 input 7Z",
                                 "pj 2 input 1",
                                 "pj 2 inputs 31 99",
                                 "pj 2 inputname 31",
                                 "pj 2 password",
                                 "pj 2 idledrop soon",
                                 "pj 2 delay -3",
                                 "pj 2 lowercase maybe",
                                 "pj 2 bogus 1",
                                 "pj all state",
                                 "pj 2 state x",
                                 "pjstats all",
                                 "pjstats 1",
                                 "pjstats 2 zero",
                                 "notify 2",
                                 "notify 1 4352 %2POWR=1",
                                 "notify 2 0 %2POWR=1",
                                 "notify 2 4352 %1POWR=1",
                                 "notify 2 4352 %2POWR=1 nowhere",
                                 "warmup -1",
                                 "warmup"})
            QVERIFY2(sim->command(line).startsWith("ERR "), line);
        QVERIFY(sim->command("pj 2 state").startsWith("OK class=1 power=0 input=11 "));
        QCOMPARE(sim->command("pj all class 2"), QString("OK"));
        QVERIFY(sim->command("pj 2 state").startsWith("OK class=2 "));
        QVERIFY(sim->command("pj 3 state").startsWith("OK class=2 "));
    }
};

QTEST_GUILESS_MAIN(TestSimPJLink)
#include "tst_sim_pjlink.moc"
