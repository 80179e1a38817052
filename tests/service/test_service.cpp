// norvik3d on a temporary program folder with a simulated fleet: the status
// endpoint follows the projectors, the schedule runs without anyone pressing
// Start, a stop signal ends it in order, and the window does not start beside
// it.

#include "support/Promtool.h"
#include "support/SimProcess.h"
#include "support/TestPrograms.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <algorithm>
#include <csignal>
#include <memory>
#include <vector>

namespace {

// The stored id of projector p, and its label in the metrics.
QString projectorId(int p) {
    return QStringLiteral("0d4e8b52-3f6a-4a7c-8e21-9b0c5d7f1a3%1").arg(p);
}

QByteArray idLabel(int p) {
    return "id=\"" + projectorId(p).toLatin1() + '"';
}

constexpr int Wait = 30000;
const QByteArray Token = "s3cret-token";

struct Answer {
    int status = 0;
    QByteArray body;
};

Answer request(const QByteArray& verb, quint16 port, const QString& path, const QByteArray& token) {
    QNetworkAccessManager manager;
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path)));
    if (!token.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + token);
    std::unique_ptr<QNetworkReply> reply(manager.sendCustomRequest(request, verb));
    QDeadlineTimer deadline(Wait);
    while (!reply->isFinished() && !deadline.hasExpired())
        QTest::qWait(10);
    Answer answer;
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.body = reply->readAll();
    return answer;
}

Answer get(quint16 port, const QString& path, const QByteArray& token = Token) {
    return request("GET", port, path, token);
}

// The value of the first sample of a metric whose labels contain `labels`.
std::optional<double> sample(const QByteArray& metrics, const QByteArray& name,
                             const QByteArray& labels) {
    for (const QByteArray& line : metrics.split('\n')) {
        if (line.startsWith(name + '{') && line.contains(labels))
            return line.mid(line.lastIndexOf(' ') + 1).toDouble();
    }
    return std::nullopt;
}

} // namespace

class TestService : public QObject {
    Q_OBJECT

    QTemporaryDir home;
    QTemporaryDir tmp;
    std::unique_ptr<SimProcess> sim;
    QProcess service;
    QByteArray serviceLog;
    quint16 port = 0;

    // What the service wrote to standard error so far.
    const QByteArray& log() {
        serviceLog += service.readAllStandardError();
        return serviceLog;
    }

    // Starts `program` on the program folder `folder` with this test's
    // TMPDIR; the window without a display.
    void startIn(QProcess& process, const QString& folder, const QString& program,
                 const QStringList& arguments = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("NORVIK3_HOME", folder);
        env.insert("TMPDIR", tmp.path());
        if (program == QLatin1String("norvik3"))
            env.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(env);
        process.start(TestBinary(program), arguments);
    }

    void writeSetup() {
        QSettings s(home.filePath(QStringLiteral("Norvik3.conf")), QSettings::IniFormat);
        s.setValue("PJInfo/PJNum", "3");
        const QStringList names = {QStringLiteral("Saal \"Nord\"\\1"), QStringLiteral("Stumm"),
                                   QStringLiteral("Foyer")};
        for (int p = 1; p <= 3; ++p) {
            const QString g = QStringLiteral("PJInfo/%1/").arg(p);
            s.setValue(g + "ProjectorName", names[p - 1]);
            s.setValue(g + "ModelName", "VX-5100N");
            s.setValue(g + "ConnectionKind", "1");
            s.setValue(g + "IPAddress", "127.0.0.1");
            s.setValue(g + "PortNo", QString::number(sim->tcpPort(p)));
            s.setValue(g + "ProjectorId", projectorId(p));
        }
        const QStringList nodes[] = {
            {"rt", "", "Lumora", "-1"},  {"g0", "rt", "Hall\nÄ", "-1"}, {"p0", "g0", names[0], "1"},
            {"p1", "g0", names[1], "2"}, {"g1", "rt", "Lobby", "-1"},   {"p2", "g1", names[2], "3"},
        };
        s.setValue("PJTree/Node Count", "6");
        for (int n = 1; n <= 6; ++n) {
            const QString g = QStringLiteral("PJTree/%1/").arg(n);
            s.setValue(g + "KeyName", nodes[n - 1][0]);
            s.setValue(g + "ParentKey", nodes[n - 1][1]);
            s.setValue(g + "Text", nodes[n - 1][2]);
            s.setValue(g + "PJIndex", nodes[n - 1][3]);
        }
        s.setValue("Setting/StatusCheckInterval", "1");
        s.setValue("Setting/TcpTimeoutTime", "300");
        s.setValue("Setting/StatusHttpPort", QString::number(port));
        s.setValue("Setting/StatusHttpToken", QString::fromLatin1(Token));
        s.sync();
        // The Lobby switches on this minute (and the next, should the minute
        // turn while the service starts).
        QDir(home.path()).mkpath(QStringLiteral("Schedule"));
        QFile schedule(home.filePath(QStringLiteral("Schedule/default.sch")));
        QVERIFY(schedule.open(QIODevice::WriteOnly));
        const QTime now = QTime::currentTime();
        schedule.write("[Lobby]\n" + now.toString("HH:mm").toLatin1() + "=Power ON\n" +
                       now.addSecs(60).toString("HH:mm").toLatin1() + "=Power ON\n");
    }

  private slots:
    void initTestCase() {
        sim = std::make_unique<SimProcess>(QStringList{"--tcp", "3", "--cooldown-ms", "200"});
        QVERIFY2(sim->isReady(), qPrintable(sim->errorString()));
        QCOMPARE(sim->command("error 1 3"), QString("OK"));
        port = FreeTcpPort();
        writeSetup();
        startIn(service, home.path(), QStringLiteral("norvik3d"));
        QVERIFY(service.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(log().contains("started on"), Wait);
        QVERIFY2(log().contains("status endpoint on port"), log().constData());
    }

    void metricsFollowTheFleet() {
        QByteArray metrics;
        const auto fetch = [&] {
            const Answer answer = get(port, "/metrics");
            metrics = answer.body;
            return answer.status == 200;
        };
        QTRY_VERIFY_WITH_TIMEOUT(
            fetch() && sample(metrics, "norvik3_projector_error_state", idLabel(1)) == 3.0, Wait);
        // A projector that answered and then falls silent goes to up 0.
        QTRY_VERIFY_WITH_TIMEOUT(
            fetch() && sample(metrics, "norvik3_projector_up", idLabel(2)) == 1.0, Wait);
        QCOMPARE(sim->command("silent 2 on"), QString("OK"));
        QTRY_VERIFY_WITH_TIMEOUT(
            fetch() && sample(metrics, "norvik3_projector_up", idLabel(2)) == 0.0, Wait);
        QCOMPARE(sample(metrics, "norvik3_projector_up", idLabel(1)), std::optional<double>(1.0));
        // Its first unanswered query ended its round: the rest were not sent.
        QVERIFY(sample(metrics, "norvik3_commands_total", "outcome=\"timed_out\"") >= 1.0);
        // The schedule's "Power ON" for the Lobby reached its projector.
        QTRY_VERIFY_WITH_TIMEOUT(
            fetch() && sample(metrics, "norvik3_projector_power_state", idLabel(3)) == 1.0, Wait);
        QVERIFY(sim->command("state 3").contains("power=1"));
        QCOMPARE(sample(metrics, "norvik3_projector_lamp_usage_seconds", idLabel(1)),
                 std::optional<double>(1200 * 3600.0));
        QVERIFY(metrics.contains("norvik3_build_info{version=\"3.0.0.4\",qt_version="));
        // Quotes, backslashes and line breaks in names are escaped.
        QVERIFY(metrics.contains("projector=\"Saal \\\"Nord\\\"\\\\1\""));
        QVERIFY(metrics.contains("group=\"Hall\\nÄ\""));

        const QByteArray findings = PromtoolFindings(metrics, Wait);
        QVERIFY2(findings.isEmpty(), findings.constData());
    }

    void jsonMatchesTheTables() {
        const Answer answer = get(port, "/api/v1/projectors");
        QCOMPARE(answer.status, 200);
        const QJsonArray list = QJsonDocument::fromJson(answer.body).array();
        QCOMPARE(list.size(), 3);
        const QJsonObject first = list[0].toObject();
        QCOMPARE(first["index"].toInt(), 1);
        QCOMPARE(first["name"].toString(), QStringLiteral("Saal \"Nord\"\\1"));
        QCOMPARE(first["group"].toString(), QStringLiteral("Hall\nÄ"));
        QCOMPARE(first["connection"].toString(), QStringLiteral("lan"));
        QCOMPARE(first["error"].toObject()["code"].toInt(), 3);
        QCOMPARE(first["lamp_hours"].toInt(), 1200);
        QVERIFY(!first["last_reply"].toString().isEmpty());
        const QJsonObject silent = list[1].toObject();
        QVERIFY(silent["disconnected"].toBool());
        QVERIFY(silent["power"].isNull() && silent["lamp_hours"].isNull());
        QCOMPARE(list[2].toObject()["power"].toObject()["code"].toInt(), 1);

        const QJsonObject health =
            QJsonDocument::fromJson(get(port, "/api/v1/health").body).object();
        // A silent projector on a one-second interval holds up no pass: the
        // program keeps up, and the health answer finds nothing wrong.
        QCOMPARE(health["status"].toString(), QStringLiteral("ok"));
        QCOMPARE(health["reasons"].toArray().size(), 0);
        QCOMPARE(health["projectors"].toInt(), 3);
        QVERIFY(health["schedule_running"].toBool());
    }

    void refusesWhatItDoesNotServe() {
        QCOMPARE(get(port, "/metrics", "wrong").status, 401);
        QCOMPARE(get(port, "/metrics", {}).status, 401);
        QCOMPARE(get(port, "/nothing-here").status, 404);
        QCOMPARE(request("POST", port, "/metrics", Token).status, 405);
        // A huge request is cut off, and the next good one is answered.
        {
            QTcpSocket flood;
            flood.connectToHost(QHostAddress::LocalHost, port);
            QVERIFY(flood.waitForConnected(Wait));
            flood.write("GET /" + QByteArray(1024 * 1024, 'a') + " HTTP/1.1\r\n");
            QTRY_VERIFY_WITH_TIMEOUT(flood.state() == QAbstractSocket::UnconnectedState, Wait);
        }
        QCOMPARE(get(port, "/api/v1/health").status, 200);

        // Clients that hang up mid-answer, and a crowd of idle connections:
        // beyond 64 they are closed at once, and once the crowd is gone the
        // next good request is answered.
        for (int i = 0; i < 20; ++i) {
            QTcpSocket rude;
            rude.connectToHost(QHostAddress::LocalHost, port);
            QVERIFY(rude.waitForConnected(Wait));
            rude.write("GET /metrics HTTP/1.1\r\nAuthorization: Bearer " + Token + "\r\n\r\n");
            rude.waitForBytesWritten(Wait);
            rude.abort();
        }
        // One after another, so that the listen queue never overflows.
        constexpr int CrowdSize = 100;
        std::vector<std::unique_ptr<QTcpSocket>> crowd;
        for (int i = 0; i < CrowdSize; ++i) {
            crowd.push_back(std::make_unique<QTcpSocket>());
            crowd.back()->connectToHost(QHostAddress::LocalHost, port);
            QVERIFY(crowd.back()->waitForConnected(Wait));
        }
        QTRY_VERIFY_WITH_TIMEOUT(std::count_if(crowd.begin(), crowd.end(),
                                               [](const auto& c) {
                                                   return c->state() ==
                                                          QAbstractSocket::UnconnectedState;
                                               }) >= CrowdSize - 64,
                                 Wait);
        crowd.clear();
        Answer after;
        QTRY_VERIFY_WITH_TIMEOUT((after = get(port, "/api/v1/health")).status == 200, Wait);
    }

    void windowDoesNotStartBesideIt() {
        QProcess window;
        QProcessEnvironment env = service.processEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        window.setProcessEnvironment(env);
        window.start(TestBinary("norvik3"), {});
        QVERIFY(window.waitForFinished(Wait));
        QCOMPARE(window.exitCode(), 0);
        QVERIFY(window.readAllStandardError().contains("norvik3d"));
        QProcess second;
        second.setProcessEnvironment(service.processEnvironment());
        second.start(TestBinary("norvik3d"), {});
        QVERIFY(second.waitForFinished(Wait));
        QCOMPARE(second.exitCode(), 1);
        QVERIFY(second.readAllStandardError().contains("in use by norvik3d"));
    }

    void stopsInOrderOnSigterm() {
        QVERIFY(::kill(pid_t(service.processId()), SIGTERM) == 0);
        QVERIFY(service.waitForFinished(Wait));
        QCOMPARE(service.exitStatus(), QProcess::NormalExit);
        QCOMPARE(service.exitCode(), 0);
        QVERIFY(log().contains("norvik3d: stopped"));
        QCOMPARE(QDir(tmp.path()).entryList({"norvik3-*"}, QDir::Dirs), QStringList());
    }

    // The window starts the schedule at launch when the setting says so,
    // and serves the same endpoint.
    void windowStartsTheScheduleWhenAsked() {
        for (const bool autoStart : {true, false}) {
            QTemporaryDir windowHome;
            const quint16 windowPort = FreeTcpPort();
            {
                QSettings s(windowHome.filePath(QStringLiteral("Norvik3.conf")),
                            QSettings::IniFormat);
                s.setValue("Setting/ScheduleAutoStart", autoStart ? "1" : "0");
                s.setValue("Setting/StatusHttpPort", QString::number(windowPort));
            }
            QProcess window;
            startIn(window, windowHome.path(), QStringLiteral("norvik3"));
            QVERIFY(window.waitForStarted());
            Answer health;
            QTRY_VERIFY_WITH_TIMEOUT((health = get(windowPort, "/api/v1/health", {})).status == 200,
                                     Wait);
            QCOMPARE(QJsonDocument::fromJson(health.body).object()["schedule_running"].toBool(),
                     autoStart);
            QVERIFY(::kill(pid_t(window.processId()), SIGTERM) == 0);
            QVERIFY(window.waitForFinished(Wait));
            QCOMPARE(window.exitCode(), 0);
        }
    }

    // Listening beyond loopback without a token is said at start.
    void warnsOfAnEndpointOpenToAll() {
        for (const QString& address : {QStringLiteral("0.0.0.0"), QStringLiteral("127.0.0.1")}) {
            QTemporaryDir openHome;
            QProcess open;
            startIn(open, openHome.path(), QStringLiteral("norvik3d"),
                    {"--no-schedule", "--http-address", address, "--http-port",
                     QString::number(FreeTcpPort())});
            QVERIFY(open.waitForStarted());
            QByteArray said;
            QTRY_VERIFY_WITH_TIMEOUT((said += open.readAllStandardError()).contains("started on"),
                                     Wait);
            QVERIFY(::kill(pid_t(open.processId()), SIGTERM) == 0);
            QVERIFY(open.waitForFinished(Wait));
            said += open.readAllStandardError();
            QVERIFY2(said.contains("status endpoint on port"), said.constData());
            QCOMPARE(said.contains("norvik3d: Status endpoint on 0.0.0.0 port"),
                     address == QLatin1String("0.0.0.0"));
            QCOMPARE(said.contains("has no token"), address == QLatin1String("0.0.0.0"));
        }
    }

    // PJLink projectors run through the same service: its start line counts
    // them, a passwords file open to others is refused plainly and used
    // once made private and reloaded, and a notification port that cannot
    // be bound is said without stopping the service.
    void pjlinkFleetAndItsProblemsAreSaid() {
        QUdpSocket taken;
        if (!taken.bind(QHostAddress::AnyIPv4, 4352, QUdpSocket::DontShareAddress))
            QSKIP("UDP port 4352 is in use here");
        QTemporaryDir pjHome;
        {
            QSettings s(pjHome.filePath(QStringLiteral("Norvik3.conf")), QSettings::IniFormat);
            s.setValue("PJInfo/PJNum", "2");
            for (int p = 1; p <= 2; ++p) {
                const QString g = QStringLiteral("PJInfo/%1/").arg(p);
                s.setValue(g + "ProjectorName", QStringLiteral("P%1").arg(p));
                s.setValue(g + "ConnectionKind", "1");
                s.setValue(g + "IPAddress", "127.0.0.1");
                s.setValue(g + "PortNo", QString::number(FreeTcpPort()));
            }
            s.setValue("PJInfo/2/Protocol", "PJLink");
            s.setValue("Setting/PJLinkNotifications", "1");
        }
        const QString passwords = pjHome.filePath(QStringLiteral("Norvik3.pjlink-passwords"));
        {
            QFile file(passwords);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("127.0.0.1:4352=not-to-be-said\n");
        }
        QVERIFY(QFile::setPermissions(passwords, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                     QFileDevice::ReadOther));
        QProcess pj;
        startIn(pj, pjHome.path(), QStringLiteral("norvik3d"), {"--no-schedule"});
        QVERIFY(pj.waitForStarted());
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += pj.readAllStandardError()).contains("started on"), Wait);
        QVERIFY2(said.contains(": 2 projectors (1 PJLink),"), said.constData());
        QVERIFY2(
            said.contains("PJLink passwords file " + passwords.toUtf8() + " is readable by others"),
            said.constData());
        QVERIFY2(said.contains("PJLink notifications") && said.contains("UDP port 4352"),
                 said.constData());

        QVERIFY(QFile::setPermissions(passwords, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        QTRY_VERIFY_WITH_TIMEOUT((said += pj.readAllStandardError()).contains("is used again"),
                                 Wait);
        taken.close();
        QVERIFY(::kill(pid_t(pj.processId()), SIGHUP) == 0);
        QTRY_VERIFY_WITH_TIMEOUT(
            (said += pj.readAllStandardError()).contains("PJLink notifications are received again"),
            Wait);
        QVERIFY(::kill(pid_t(pj.processId()), SIGTERM) == 0);
        QVERIFY(pj.waitForFinished(Wait));
        said += pj.readAllStandardError();
        QCOMPARE(pj.exitCode(), 0);
        QVERIFY(!said.contains("not-to-be-said"));
        QFile conf(pjHome.filePath(QStringLiteral("Norvik3.conf")));
        QVERIFY(conf.open(QIODevice::ReadOnly));
        QVERIFY(!conf.readAll().contains("not-to-be-said"));
    }

    // The sessions get each projector's password from the passwords file:
    // a right one opens the projector, a wrong one shows as an
    // authentication error, and a corrected file is used at the next pass,
    // without a restart. No password appears on standard error or the
    // endpoint.
    void pjlinkPasswordsReachTheProjectors() {
        SimProcess pjSim({"--pjlink", "2"});
        QVERIFY2(pjSim.isReady(), qPrintable(pjSim.errorString()));
        QCOMPARE(pjSim.command("pj 1 password hall-secret"), QString("OK"));
        QCOMPARE(pjSim.command("pj 2 password right-one"), QString("OK"));
        QCOMPARE(pjSim.command("pj all power 1"), QString("OK"));
        QTemporaryDir pjHome;
        const quint16 httpPort = FreeTcpPort();
        {
            QSettings s(pjHome.filePath(QStringLiteral("Norvik3.conf")), QSettings::IniFormat);
            s.setValue("PJInfo/PJNum", "2");
            for (int p = 1; p <= 2; ++p) {
                const QString g = QStringLiteral("PJInfo/%1/").arg(p);
                s.setValue(g + "ProjectorName", QStringLiteral("PJ%1").arg(p));
                s.setValue(g + "ConnectionKind", "1");
                s.setValue(g + "IPAddress", "127.0.0.1");
                s.setValue(g + "PortNo", QString::number(pjSim.pjlinkPort(p)));
                s.setValue(g + "Protocol", "PJLink");
            }
            s.setValue("Setting/StatusCheckInterval", "1");
            s.setValue("Setting/TcpTimeoutTime", "1000");
            s.setValue("Setting/StatusHttpPort", QString::number(httpPort));
        }
        const QString passwords = pjHome.filePath(QStringLiteral("Norvik3.pjlink-passwords"));
        const auto writePasswords = [&](const QByteArray& second) {
            QFile file(passwords + ".new");
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
            file.write("127.0.0.1:" + QByteArray::number(pjSim.pjlinkPort(1)) + "=hall-secret\n" +
                       "127.0.0.1:" + QByteArray::number(pjSim.pjlinkPort(2)) + '=' + second +
                       '\n');
            file.close();
            QFile::remove(passwords);
            QVERIFY(file.rename(passwords));
        };
        writePasswords("wrong-one");
        QProcess pj;
        startIn(pj, pjHome.path(), QStringLiteral("norvik3d"), {"--no-schedule"});
        QVERIFY(pj.waitForStarted());
        QJsonArray list;
        const auto fetch = [&] {
            const Answer answer = get(httpPort, "/api/v1/projectors", {});
            list = QJsonDocument::fromJson(answer.body).array();
            return answer.status == 200 && list.size() == 2;
        };
        const auto refused = [&](int index) {
            return list[index].toObject()["authentication_error"].toBool();
        };
        const auto answering = [&](int index) {
            const QJsonObject o = list[index].toObject();
            return !o["disconnected"].toBool() && o["power"]["code"].toInt(-1) == 1;
        };
        QTRY_VERIFY_WITH_TIMEOUT(fetch() && answering(0) && refused(1), Wait);
        QVERIFY(!refused(0));
        QCOMPARE(list[1].toObject()["protocol"].toString(), QStringLiteral("pjlink"));

        writePasswords("right-one");
        QTRY_VERIFY_WITH_TIMEOUT(fetch() && answering(1) && !refused(1), Wait);
        const QByteArray metrics = get(httpPort, "/metrics", {}).body;
        QVERIFY(!metrics.contains("secret") && !metrics.contains("right-one"));
        QVERIFY(::kill(pid_t(pj.processId()), SIGTERM) == 0);
        QVERIFY(pj.waitForFinished(Wait));
        const QByteArray said = pj.readAllStandardError();
        QVERIFY2(!said.contains("hall-secret") && !said.contains("-one"), said.constData());
    }

    void linksNoWidgetsOrGui() {
        QProcess ldd;
        ldd.start(QStringLiteral("ldd"), {TestBinary("norvik3d")});
        QVERIFY(ldd.waitForFinished(Wait));
        const QByteArray libraries = ldd.readAllStandardOutput();
        QVERIFY(libraries.contains("libQt6Core"));
        QVERIFY2(!libraries.contains("libQt6Gui") && !libraries.contains("libQt6Widgets"),
                 libraries.constData());
    }

    void commandLines() {
        for (const QString& program : {QStringLiteral("norvik3"), QStringLiteral("norvik3d")}) {
            QProcess version;
            // No display is needed for these.
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.remove("QT_QPA_PLATFORM");
            env.remove("DISPLAY");
            version.setProcessEnvironment(env);
            version.start(TestBinary(program), {"--version"});
            QVERIFY(version.waitForFinished(Wait));
            QCOMPARE(version.exitCode(), 0);
            QCOMPARE(version.readAllStandardOutput(), (program + " 3.0.0.4\n").toUtf8());
            QProcess help;
            help.setProcessEnvironment(env);
            help.start(TestBinary(program), {"--help"});
            QVERIFY(help.waitForFinished(Wait));
            QCOMPARE(help.exitCode(), 0);
            QVERIFY(help.readAllStandardOutput().startsWith("Usage: " + program.toUtf8()));
            QProcess wrong;
            wrong.setProcessEnvironment(env);
            wrong.start(TestBinary(program), {"--frobnicate"});
            QVERIFY(wrong.waitForFinished(Wait));
            QCOMPARE(wrong.exitCode(), 2);
            QVERIFY(wrong.readAllStandardError().contains("Usage: "));
        }
    }
};

QTEST_GUILESS_MAIN(TestService)
#include "test_service.moc"
