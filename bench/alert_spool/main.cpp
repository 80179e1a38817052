// Queues alerts in bursts, as a fleet whose projectors fail together raises
// them, with the alert spool in a folder on a real disk, and reports how long
// the event loop was held up: its longest stall, the time it spent queueing,
// and the time until every alert's file was on disk.

#include "../soak/LoopStallMeter.h"

#include "core/AppState.h"
#include "log/LogFileMaker.h"
#include "mail/AlertQueue.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>

using namespace std::chrono_literals;

namespace {

struct Options {
    int alerts = 600;
    int burst = 256;
    QString folder;
};

Options parse(const QCoreApplication& app) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Event-loop stalls while alerts are spooled"));
    parser.addHelpOption();
    const QCommandLineOption alerts(QStringLiteral("alerts"), QStringLiteral("Alerts in all."),
                                    QStringLiteral("n"), QStringLiteral("600"));
    const QCommandLineOption burst(QStringLiteral("burst"),
                                   QStringLiteral("Alerts queued in one turn of the loop."),
                                   QStringLiteral("n"), QStringLiteral("256"));
    const QCommandLineOption folder(
        QStringLiteral("folder"),
        QStringLiteral("Where the program folder is made (default: the current folder, "
                       "which should be on the disk to measure, not a tmpfs)."),
        QStringLiteral("path"), QStringLiteral("."));
    parser.addOptions({alerts, burst, folder});
    parser.process(app);
    return {std::max(1, parser.value(alerts).toInt()), std::max(1, parser.value(burst).toInt()),
            parser.value(folder)};
}

int filesOnDisk(const QString& spool) {
    return int(QDir(spool).entryList({QStringLiteral("*.alert")}, QDir::Files).size());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const Options options = parse(app);
    QTemporaryDir home(QDir(options.folder).absoluteFilePath(QStringLiteral("alert_spool-XXXXXX")));
    if (!home.isValid()) {
        std::fprintf(stderr, "cannot make a folder in %s\n", qPrintable(options.folder));
        return 1;
    }
    auto state = std::make_unique<AppState>();
    state->ProgramFolder = home.path();
    state->MailLog = std::make_unique<LogFileMaker>(home.filePath(QStringLiteral("MailLog")));
    const QString spool = home.filePath(QStringLiteral("MailQueue"));
    const SpoolHandle opened = OpenAlertSpool(*state, spool);

    LoopStallMeter meter(5ms);
    QElapsedTimer clock;
    qint64 queueingNs = 0;
    qint64 longestBurstNs = 0;
    int queued = 0;
    QTimer bursts;
    bursts.setInterval(100ms);
    QTimer watch;
    watch.setInterval(20ms);

    const auto queueBurst = [&] {
        QElapsedTimer turn;
        turn.start();
        for (int n = 0; n < options.burst && queued < options.alerts; ++n, ++queued)
            EnqueueAlertMessage(*state, QStringLiteral("2026/12/08 08:00:00;%1;Lamp error %2")
                                            .arg(1 + queued % MaxProjectors)
                                            .arg(queued));
        const qint64 spent = turn.nsecsElapsed();
        queueingNs += spent;
        longestBurstNs = std::max(longestBurstNs, spent);
        if (queued == options.alerts) {
            bursts.stop();
            watch.start();
        }
    };
    QObject::connect(&bursts, &QTimer::timeout, queueBurst);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (filesOnDisk(spool) < options.alerts)
            return;
        watch.stop();
        app.quit();
    });

    clock.start();
    meter.start();
    QTimer::singleShot(0, &bursts, [&] {
        bursts.start();
        queueBurst();
    });
    app.exec();
    const double totalMs = double(clock.nsecsElapsed()) / 1e6;

    std::printf("alerts %d in bursts of %d, spool in %s\n", options.alerts, options.burst,
                qPrintable(spool));
    std::printf("longest event-loop stall   %9.1f ms\n", meter.overall().longestMs);
    std::printf("longest burst on the loop  %9.1f ms\n", double(longestBurstNs) / 1e6);
    std::printf("time queueing on the loop  %9.1f ms\n", double(queueingNs) / 1e6);
    std::printf("until every file on disk   %9.1f ms\n", totalMs);
    return 0;
}
