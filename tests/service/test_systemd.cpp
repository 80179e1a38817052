// norvik3d under a service manager, spoken to the way systemd does: the
// notification socket named in NOTIFY_SOCKET receives READY=1 once the
// endpoint answers and WATCHDOG=1 while the event loop turns; SIGHUP reads
// the settings again without losing the alert still waiting for its mail;
// a port asked for on the command line that cannot be served is fatal.

#include "support/SimProcess.h"
#include "support/SmtpSink.h"
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
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int Wait = 30000;

// The service manager's end of the notification protocol: a Unix datagram
// socket, one notification per datagram, read from the event loop as they
// come, as the manager does.
class NotifySocket {
  public:
    explicit NotifySocket(const QString& path) : m_path(path) {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray bytes = QFile::encodeName(path);
        if (m_fd < 0 || size_t(bytes.size()) >= sizeof(address.sun_path))
            return;
        std::copy(bytes.begin(), bytes.end(), address.sun_path);
        m_bound = ::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
        m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { drain(); });
    }
    ~NotifySocket() {
        m_notifier.reset();
        if (m_fd >= 0)
            ::close(m_fd);
    }
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;

    bool isBound() const { return m_bound; }
    const QString& path() const { return m_path; }

    // Waits for the next datagram holding the line `wanted` ("READY=1")
    // after the one the last wait found.
    bool waitFor(const QByteArray& wanted) {
        const QDeadlineTimer deadline(Wait);
        while (!deadline.hasExpired()) {
            drain();
            for (; m_next < m_seen.size(); ++m_next) {
                if (m_seen[m_next].split('\n').contains(wanted)) {
                    ++m_next;
                    return true;
                }
            }
            QTest::qWait(10);
        }
        return false;
    }
    const QList<QByteArray>& seen() const { return m_seen; }
    // The datagram the last successful wait found.
    QByteArray found() const { return m_next > 0 ? m_seen[m_next - 1] : QByteArray(); }

  private:
    void drain() {
        char buffer[4096];
        ssize_t n = 0;
        while ((n = ::recv(m_fd, buffer, sizeof(buffer), 0)) > 0)
            m_seen << QByteArray(buffer, int(n));
    }

    QString m_path;
    int m_fd = -1;
    bool m_bound = false;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QList<QByteArray> m_seen;
    qsizetype m_next = 0;
};

QByteArray get(quint16 port, const QString& path, int* status = nullptr) {
    QNetworkAccessManager manager;
    std::unique_ptr<QNetworkReply> reply(manager.get(
        QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path)))));
    QDeadlineTimer deadline(Wait);
    while (!reply->isFinished() && !deadline.hasExpired())
        QTest::qWait(10);
    if (status)
        *status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return reply->readAll();
}

// Some alert mail failed (the counter's sample for failures is above 0).
bool mailFailed(quint16 port) {
    for (const QByteArray& line : get(port, "/metrics").split('\n')) {
        if (line.startsWith("norvik3_alert_mails_total{") && line.contains("failed") &&
            line.mid(line.lastIndexOf(' ') + 1).toDouble() >= 1)
            return true;
    }
    return false;
}

QJsonObject projector(quint16 port, int index) {
    const QJsonArray list = QJsonDocument::fromJson(get(port, "/api/v1/projectors")).array();
    for (const auto& entry : list) {
        if (entry.toObject()["index"].toInt() == index)
            return entry.toObject();
    }
    return {};
}

} // namespace

class TestSystemd : public QObject {
    Q_OBJECT

    QTemporaryDir home;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<SmtpSink> deferring;
    std::unique_ptr<SmtpSink> accepting;
    std::unique_ptr<NotifySocket> manager;
    QProcess service;
    quint16 port = 0;

    // The mail log and what the service said, for a failure's message.
    QString mailLog() {
        QString text = QString::fromLocal8Bit(service.readAllStandardError());
        const QDir folder(home.filePath(QStringLiteral("MailLog")));
        for (const QString& name : folder.entryList(QDir::Files)) {
            QFile file(folder.filePath(name));
            if (file.open(QIODevice::ReadOnly))
                text += QString::fromUtf8(file.readAll());
        }
        return text;
    }

    QString settingsFile() const { return home.filePath(QStringLiteral("Norvik3.conf")); }

    // Projectors 1..count on the simulator, an hour between polling passes,
    // error mails through `mailServer`.
    void writeSettings(int count, const QString& firstName, const QString& interval,
                       const QString& mailServer) {
        QSettings s(settingsFile(), QSettings::IniFormat);
        s.remove("PJInfo");
        s.setValue("PJInfo/PJNum", QString::number(count));
        for (int p = 1; p <= count; ++p) {
            const QString g = QStringLiteral("PJInfo/%1/").arg(p);
            s.setValue(g + "ProjectorName", p == 1 ? firstName : QStringLiteral("Foyer"));
            s.setValue(g + "ModelName", "VX-5100N");
            s.setValue(g + "ConnectionKind", "1");
            s.setValue(g + "IPAddress", "127.0.0.1");
            s.setValue(g + "PortNo", QString::number(sim->tcpPort(p)));
        }
        s.setValue("Setting/StatusCheckInterval", interval);
        s.setValue("Setting/StatusHttpPort", QString::number(port));
        s.setValue("MailSetting/MailSend", "1");
        // Any error reading is mailed, also the first one.
        s.setValue("MailSetting/MailSendKindFlag", "1");
        s.setValue("MailSetting/SMTPServer", mailServer);
        s.setValue("MailSetting/FromAddress", "norvik3@example.org");
        s.setValue("MailSetting/SendAddress1", "ops@example.org;TO");
        s.sync();
        QCOMPARE(s.status(), QSettings::NoError);
    }

    QProcessEnvironment environment(const QString& folder) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("NORVIK3_HOME", folder);
        env.remove("JOURNAL_STREAM");
        env.remove("NOTIFY_SOCKET");
        env.remove("WATCHDOG_USEC");
        env.remove("WATCHDOG_PID");
        return env;
    }

  private slots:
    void initTestCase() {
        sim = std::make_unique<SimProcess>(QStringList{"--tcp", "2"});
        QVERIFY2(sim->isReady(), qPrintable(sim->errorString()));
        deferring = std::make_unique<SmtpSink>(SmtpSink::TempFail);
        accepting = std::make_unique<SmtpSink>(SmtpSink::Accept);
        QVERIFY2(deferring->isReady() && accepting->isReady(),
                 qPrintable(deferring->errorString() + accepting->errorString()));
        QCOMPARE(sim->command("error 1 3"), QString("OK"));
        port = FreeTcpPort();
        writeSettings(1, QStringLiteral("Hall"), QStringLiteral("3600"), deferring->server());

        manager = std::make_unique<NotifySocket>(home.filePath(QStringLiteral("notify")));
        QVERIFY(manager->isBound());
        QProcessEnvironment env = environment(home.path());
        env.insert("NOTIFY_SOCKET", manager->path());
        env.insert("WATCHDOG_USEC", "200000");
        service.setProcessEnvironment(env);
        service.start(TestBinary("norvik3d"), {});
        QVERIFY(service.waitForStarted());
    }

    void readyOnceServing() {
        QVERIFY2(manager->waitFor("READY=1"), manager->seen().join('|').constData());
        // READY=1 comes after the endpoint listens and the fleet is loaded.
        int status = 0;
        get(port, "/api/v1/health", &status);
        QCOMPARE(status, 200);
        QVERIFY(manager->found().contains("STATUS=" + home.path().toUtf8() + ": 1 projectors"));
        const QByteArray started = service.readAllStandardError();
        QCOMPARE(started.count('\n'), 1);
        QVERIFY2(
            started.contains("started on " + home.path().toUtf8()) &&
                started.contains(
                    QStringLiteral("status endpoint on port %1 of 127.0.0.1").arg(port).toUtf8()),
            started.constData());
    }

    void watchdogFedFromTheLoop() {
        for (int i = 0; i < 3; ++i)
            QVERIFY2(manager->waitFor("WATCHDOG=1"), manager->seen().join('|').constData());
    }

    void hangUpReloadsAndKeepsTheQueuedAlert() {
        // The error alert is queued at the first pass; its mail is deferred,
        // so it waits in the queue for a retry minutes away.
        QTRY_COMPARE_WITH_TIMEOUT(projector(port, 1)["error"].toObject()["code"].toInt(), 3, Wait);
        QTRY_VERIFY2_WITH_TIMEOUT(mailFailed(port), qPrintable(mailLog()), Wait);
        QCOMPARE(accepting->mails().size(), 0);

        // Polled every second from now, with a renamed projector, a new one
        // and a mail server that takes the mail.
        QCOMPARE(sim->command("error 1 0"), QString("OK"));
        writeSettings(2, QStringLiteral("Hall East"), QStringLiteral("1"), accepting->server());
        QVERIFY(::kill(pid_t(service.processId()), SIGHUP) == 0);
        QVERIFY2(manager->waitFor("RELOADING=1"), manager->seen().join('|').constData());
        QVERIFY2(manager->waitFor("READY=1"), manager->seen().join('|').constData());

        QVERIFY(accepting->waitForMails(1));
        QVERIFY2(accepting->mails().first().text.contains("Hall"),
                 qPrintable(accepting->mails().first().text));
        QTRY_COMPARE_WITH_TIMEOUT(projector(port, 1)["error"].toObject()["code"].toInt(), 0, Wait);
        QCOMPARE(projector(port, 1)["name"].toString(), QStringLiteral("Hall East"));
        QTRY_VERIFY2_WITH_TIMEOUT(!projector(port, 2)["disconnected"].toBool(true),
                                  get(port, "/api/v1/projectors").constData(), Wait);
        QCOMPARE(service.state(), QProcess::Running);
        QVERIFY(service.readAllStandardError().contains("settings reloaded on"));
    }

    void stopsOnSigterm() {
        QVERIFY(::kill(pid_t(service.processId()), SIGTERM) == 0);
        QVERIFY2(manager->waitFor("STOPPING=1"), manager->seen().join('|').constData());
        QVERIFY(service.waitForFinished(Wait));
        QCOMPARE(service.exitStatus(), QProcess::NormalExit);
        QCOMPARE(service.exitCode(), 0);
    }

    // A port that is taken: fatal when the command line asks for it, a
    // warning when it comes from the settings file. Under the journal the
    // lines carry their priority.
    void portThatCannotBeServed_data() {
        QTest::addColumn<bool>("onCommandLine");
        QTest::addColumn<bool>("underJournal");
        QTest::newRow("command line") << true << false;
        QTest::newRow("command line, journal") << true << true;
        QTest::newRow("settings file, journal") << false << true;
    }
    void portThatCannotBeServed() {
        QFETCH(bool, onCommandLine);
        QFETCH(bool, underJournal);
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
        QTemporaryDir folder;
        QStringList arguments;
        if (onCommandLine) {
            arguments << QStringLiteral("--http-port=%1").arg(taken.serverPort());
        } else {
            QSettings s(folder.filePath(QStringLiteral("Norvik3.conf")), QSettings::IniFormat);
            s.setValue("Setting/StatusHttpPort", QString::number(taken.serverPort()));
        }
        QProcessEnvironment env = environment(folder.path());
        if (underJournal)
            env.insert("JOURNAL_STREAM", "8:12345");
        QProcess run;
        run.setProcessEnvironment(env);
        run.start(TestBinary("norvik3d"), arguments);
        QVERIFY(run.waitForStarted());
        QByteArray said;
        if (onCommandLine) {
            QVERIFY(run.waitForFinished(Wait));
            QCOMPARE(run.exitCode(), 1);
            said = run.readAllStandardError();
        } else {
            QTRY_VERIFY_WITH_TIMEOUT((said += run.readAllStandardError()).contains("started on"),
                                     Wait);
            QVERIFY(said.contains("status endpoint off"));
            QVERIFY(::kill(pid_t(run.processId()), SIGTERM) == 0);
            QVERIFY(run.waitForFinished(Wait));
            QCOMPARE(run.exitCode(), 0);
        }
        const QByteArray problem =
            (underJournal ? QByteArray(onCommandLine ? "<3>" : "<4>") : QByteArray()) +
            "norvik3d: Status endpoint off: cannot listen on 127.0.0.1 port " +
            QByteArray::number(taken.serverPort());
        QVERIFY2(said.split('\n').first().startsWith(problem), said.constData());
        // The endpoint's own diagnostic is not repeated beside it.
        QCOMPARE(said.count("cannot listen"), 1);
    }
};

QTEST_GUILESS_MAIN(TestSystemd)
#include "test_systemd.moc"
