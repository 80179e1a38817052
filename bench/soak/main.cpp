// Soak benchmark: runs the real communication engine unattended against N
// simulated projectors (a quarter of them faulty, a few with no listener)
// and, optionally, a mail server that never answers while alerts are raised.
// Every report period it prints one line of key=value words (resident
// memory, CPU time, the longest stall of the event loop, replies per class
// of projector, polling passes); at the end a summary and one "result" line.

#include "FleetPlan.h"
#include "ReplyCounter.h"
#include "SimControl.h"
#include "SoakAlerts.h"
#include "SoakRun.h"
#include "StallingMailServer.h"
#include "support/SimProcess.h"

#include "comm/CommEngine.h"
#include "core/AppState.h"
#include "core/SettingsStore.h"
#include "log/LogFileMaker.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// Beyond the run time this much is allowed for start-up, draining and
// shutting down; past it the process ends itself, so a soak never hangs.
constexpr auto WatchdogMargin = 180s;

void watchdogExpired(int) {
    static const char message[] = "soak: watchdog expired, the run hung\n";
    [[maybe_unused]] const auto written = ::write(STDERR_FILENO, message, sizeof message - 1);
    ::_exit(3);
}

void armWatchdog(std::chrono::milliseconds runTime) {
    struct sigaction action {};
    action.sa_handler = watchdogExpired;
    ::sigaction(SIGALRM, &action, nullptr);
    ::alarm(unsigned(std::chrono::ceil<std::chrono::seconds>(runTime + WatchdogMargin).count()));
}

int fail(const QString& message) {
    std::fprintf(stderr, "soak: %s\n", qPrintable(message));
    return 2;
}

struct ParsedOptions {
    SoakOptions options;
    QString error;
};

ParsedOptions parseOptions(const QCoreApplication& app) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Soak benchmark: polls simulated projectors through the real engine for a long time\n"
        "and reports memory, CPU time, event-loop stalls and replies per projector class.\n"
        "A quarter of the projectors are faulty (silent, refusing, split replies, trailing\n"
        "garbage, hang-up mid-reply, slow, one-off garbage replies) and up to four point at\n"
        "ports where nothing listens. One line of key=value words per report period, then a\n"
        "summary ending with a 'result ...' line. Exit status 0 after a complete run.\n"
        "\n"
        "Line keys: t (seconds since start), passes (polling passes so far), rss_kib,\n"
        "cpu_s (user+system), cpu_pct (of one core since the previous line), stall_ms and\n"
        "stall_at (longest event-loop stall since the previous line, when it began),\n"
        "run_stall_ms and run_stall_at (the same for the whole run), one <class>=<replies>\n"
        "per projector class, healthy_min/healthy_max (replies per healthy projector) against\n"
        "healthy_expect (5 x passes), queue_max (longest command queue), control_failed\n"
        "(simulator control lines not answered OK); with --mail-stall also alerts,\n"
        "alerts_dropped, alert_queue, mail_conns, mail_retry, mail_sending."));
    parser.addHelpOption();
    const QCommandLineOption count(QStringList{QStringLiteral("n")},
                                   QStringLiteral("Number of projectors (1..256)."),
                                   QStringLiteral("N"), QStringLiteral("256"));
    const QCommandLineOption interval(QStringLiteral("interval"),
                                      QStringLiteral("Polling interval in seconds (1 or more)."),
                                      QStringLiteral("s"), QStringLiteral("1"));
    const QCommandLineOption minutes(QStringLiteral("minutes"),
                                     QStringLiteral("Run time in minutes, fractions allowed."),
                                     QStringLiteral("m"), QStringLiteral("20"));
    const QCommandLineOption seconds(QStringLiteral("seconds"),
                                     QStringLiteral("Run time in seconds (overrides --minutes)."),
                                     QStringLiteral("s"));
    const QCommandLineOption timeout(QStringLiteral("timeout-ms"),
                                     QStringLiteral("Reply time-out (TcpTimeoutTime) in ms."),
                                     QStringLiteral("ms"), QStringLiteral("1000"));
    const QCommandLineOption reportEvery(QStringLiteral("report-seconds"),
                                         QStringLiteral("Seconds between report lines."),
                                         QStringLiteral("s"), QStringLiteral("60"));
    const QCommandLineOption mailStall(
        QStringLiteral("mail-stall"),
        QStringLiteral("Turn alert mail on, aim it at a local server that accepts and never "
                       "answers, and make four healthy projectors report an error every other "
                       "5 s so alerts keep coming."));
    const QCommandLineOption commLog(
        QStringLiteral("comm-log"),
        QStringLiteral("Write the communication log (into a temporary folder)."));
    const QCommandLineOption slow(QStringLiteral("slow-ms"),
                                  QStringLiteral("Reply delay of the slow projectors in ms."),
                                  QStringLiteral("ms"), QStringLiteral("150"));
    const QCommandLineOption split(
        QStringLiteral("split-ms"),
        QStringLiteral("Gap between reply bytes of the split-reply projectors in ms."),
        QStringLiteral("ms"), QStringLiteral("40"));
    const QCommandLineOption maxStall(
        QStringLiteral("max-stall-ms"),
        QStringLiteral("Longest event-loop stall still counted responsive."), QStringLiteral("ms"),
        QStringLiteral("100"));
    const QCommandLineOption maxGrowth(
        QStringLiteral("max-growth-kib"),
        QStringLiteral("Largest RSS growth over the second half of the run still counted flat."),
        QStringLiteral("KiB"), QStringLiteral("1024"));
    parser.addOptions({count, interval, minutes, seconds, timeout, reportEvery, mailStall, commLog,
                       slow, split, maxStall, maxGrowth});
    parser.process(app);

    ParsedOptions parsed;
    SoakOptions& o = parsed.options;
    bool ok = false;
    o.projectors = parser.value(count).toInt(&ok);
    if (!ok || o.projectors < 1 || o.projectors > MaxProjectors)
        parsed.error = QStringLiteral("-n must be 1..%1").arg(MaxProjectors);
    const int intervalSeconds = parser.value(interval).toInt(&ok);
    if (!ok || intervalSeconds < 1)
        parsed.error = QStringLiteral("--interval must be 1 or more seconds");
    o.interval = std::chrono::seconds(intervalSeconds);
    const double runSeconds = parser.isSet(seconds) ? parser.value(seconds).toDouble(&ok)
                                                    : parser.value(minutes).toDouble(&ok) * 60.0;
    if (!ok || runSeconds <= 0 || runSeconds > 7 * 24 * 3600)
        parsed.error = QStringLiteral("the run time must be positive (at most a week)");
    o.duration = std::chrono::milliseconds(qint64(runSeconds * 1000.0));
    const int timeoutMs = parser.value(timeout).toInt(&ok);
    if (!ok || timeoutMs < 100 || timeoutMs > 60000)
        parsed.error = QStringLiteral("--timeout-ms must be 100..60000");
    o.replyTimeout = std::chrono::milliseconds(timeoutMs);
    const int reportSeconds = parser.value(reportEvery).toInt(&ok);
    if (!ok || reportSeconds < 1)
        parsed.error = QStringLiteral("--report-seconds must be 1 or more");
    o.reportEvery = std::chrono::seconds(reportSeconds);
    o.mailStall = parser.isSet(mailStall);
    o.commLog = parser.isSet(commLog);
    const int slowMs = parser.value(slow).toInt(&ok);
    if (!ok || slowMs < 1)
        parsed.error = QStringLiteral("--slow-ms must be 1 or more");
    o.faults.slow = std::chrono::milliseconds(slowMs);
    const int splitMs = parser.value(split).toInt(&ok);
    if (!ok || splitMs < 1)
        parsed.error = QStringLiteral("--split-ms must be 1 or more");
    o.faults.split = std::chrono::milliseconds(splitMs);
    o.limits.maxStallMs = parser.value(maxStall).toDouble(&ok);
    if (!ok || o.limits.maxStallMs <= 0)
        parsed.error = QStringLiteral("--max-stall-ms must be positive");
    o.limits.maxGrowthKiB = parser.value(maxGrowth).toLong(&ok);
    if (!ok || o.limits.maxGrowthKiB < 0)
        parsed.error = QStringLiteral("--max-growth-kib must be 0 or more");
    return parsed;
}

// Mail settings that make every error report an alert for the given server.
void enableAlertMail(MailSettings& mail, quint16 serverPort) {
    mail.MailSend = true;
    mail.ErrorAlarmSend = true;
    mail.SMTPServer = QStringLiteral("127.0.0.1:%1").arg(serverPort);
    mail.FromAddress = QStringLiteral("norvik3-soak@example.com");
    mail.SendAddress[1] = QStringLiteral("operator@example.com;TO");
    mail.Subject = QStringLiteral("Norvik3 soak alert");
    mail.LampErrorText = QStringLiteral("Lamp error");
    mail.DisconnectText = QStringLiteral("Disconnected");
}

QString classCounts(const FleetPlan& plan) {
    QStringList words;
    for (int k = 0; k < ProjectorClassCount; ++k) {
        if (plan.count(ProjectorClass(k)) > 0)
            words << className(ProjectorClass(k)) +
                         QStringLiteral("=%1").arg(plan.count(ProjectorClass(k)));
    }
    return words.join(QLatin1Char(' '));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const ParsedOptions parsed = parseOptions(app);
    if (!parsed.error.isEmpty())
        return fail(parsed.error);
    const SoakOptions& options = parsed.options;
    armWatchdog(options.duration);
    if (qEnvironmentVariableIsEmpty("NORVIK3_SIM"))
        qputenv("NORVIK3_SIM", NORVIK3_SIM_PATH);

    const FleetPlan plan(options.projectors);
    // A socket bound but not listening keeps its port free of listeners for
    // the whole run: connections to it are refused.
    std::vector<std::unique_ptr<QTcpSocket>> deadPorts;
    // The simulator exits when this process's end closes its input.
    SimProcess sim({QStringLiteral("--tcp"), QString::number(plan.simulatedCount()),
                    QStringLiteral("--control-port"), QStringLiteral("0"),
                    QStringLiteral("--exit-on-eof")});
    if (!sim.isReady())
        return fail(sim.errorString());

    QTemporaryDir dir;
    if (!dir.isValid())
        return fail(QStringLiteral("no temporary folder: ") + dir.errorString());
    AppState state;
    state.ProgramFolder = dir.path();
    state.Timing.StatusCheckInterval = qint32(options.interval.count());
    state.Timing.TcpTimeoutTime = qint32(options.replyTimeout.count());
    state.ProjectorCount = qint16(plan.size());
    for (int p = 1; p <= plan.size(); ++p) {
        ProjectorInfo& info = state.Projectors[p];
        info.ProjectorName = QStringLiteral("PJ%1").arg(p);
        info.ConnectionKind = ConnectionLan;
        info.IPAddress = QStringLiteral("127.0.0.1");
        if (plan.classOf(p) == ProjectorClass::NoListener) {
            auto& socket = deadPorts.emplace_back(std::make_unique<QTcpSocket>());
            if (!socket->bind(QHostAddress::LocalHost, 0))
                return fail(QStringLiteral("cannot reserve a port: ") + socket->errorString());
            info.PortNo = QString::number(socket->localPort());
        } else {
            info.PortNo = QString::number(sim.tcpPort(plan.simId(p)));
        }
        for (const QString& line : plan.faultCommands(p, options.faults)) {
            const QString answer = sim.command(line);
            if (!answer.startsWith(QLatin1String("OK")))
                return fail(QStringLiteral("simulator refused '%1': %2").arg(line, answer));
        }
    }
    state.MailLog = std::make_unique<LogFileMaker>(dir.filePath(QStringLiteral("MailLog/")));
    state.MailLog->setClock(&state.clock);
    if (options.commLog) {
        state.CommLogEnabled = 1;
        state.CommLog = std::make_unique<LogFileMaker>(dir.filePath(QStringLiteral("Log/")));
        state.CommLog->setClock(&state.clock);
    }

    SettingsStore settings(dir.filePath(QStringLiteral("Norvik3.conf")));
    CommEngine engine(state, settings);
    ReplyCounter counter(plan.size());
    engine.setRefreshSink(&counter);

    StallingMailServer mailServer;
    SoakAlerts alerts(state, QStringLiteral(NORSEND_LIBRARY_PATH));
    std::optional<SoakMail> mail;
    if (options.mailStall) {
        if (!mailServer.listen())
            return fail(QStringLiteral("mail server: ") + mailServer.errorString());
        enableAlertMail(state.Mail, mailServer.port());
        mail.emplace(SoakMail{alerts.sender(), mailServer});
    }

    SimControl control(sim.controlPort());
    SoakRun run(options, plan, state, engine, counter, control, mail);
    engine.setAlertStarter([&run, &alerts] {
        run.noteAlert();
        alerts.sender().StartAlertSender();
    });
    QObject::connect(&run, &SoakRun::finished, &app, &QCoreApplication::quit, Qt::QueuedConnection);

    std::printf("# soak projectors=%d %s interval_s=%lld timeout_ms=%lld run_s=%.1f "
                "mail_stall=%s comm_log=%s\n",
                plan.size(), qPrintable(classCounts(plan)),
                static_cast<long long>(options.interval.count()),
                static_cast<long long>(options.replyTimeout.count()),
                double(options.duration.count()) / 1000.0, options.mailStall ? "on" : "off",
                options.commLog ? "on" : "off");
    std::fflush(stdout);

    engine.InitializeQueues();
    run.start();
    app.exec();
    alerts.shutdown();
    engine.setAlertStarter({});
    engine.setRefreshSink(nullptr);
    return 0;
}
