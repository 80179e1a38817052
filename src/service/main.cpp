// norvik3d: the program without a window, for a machine without a desktop.
// It starts like the window (same folder, settings and lock), runs the
// schedule unless told not to, serves the status endpoint when one is set,
// and writes one line to standard error for its start, a reload, its stop
// and any fatal problem. Under systemd it reports readiness and keeps the
// watchdog fed; SIGHUP reads the settings again.

#include "comm/CommEngine.h"
#include "core/CommandLine.h"
#include "core/Version.h"
#include "discovery/DiscoverCommand.h"
#include "fleetcsv/FleetCommands.h"
#include "history/HistoryExportCommand.h"
#include "program/ProgramCore.h"
#include "schedule/ScheduleRunner.h"
#include "service/BackupCommand.h"
#include "service/ServiceLog.h"
#include "service/ServiceManager.h"
#include "status/StatusServer.h"
#include "status/TokenCommands.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

void say(const QString& line) {
    Say(LogPriority::Notice, line);
}

// From where, what is served, and on which address and port.
QString Serving(ProgramCore& core) {
    const AppState& state = core.state();
    const StatusServer* status = core.statusServer();
    const QString endpoint = status && status->isListening()
                                 ? QStringLiteral("status endpoint on port %1 of %2")
                                       .arg(status->port())
                                       .arg(core.endpointSettings().address)
                                 : QStringLiteral("status endpoint off");
    int pjlink = 0;
    for (int p = 1; p <= state.ProjectorCount; ++p)
        pjlink += IsPJLink(state.Projectors[std::size_t(p)]) ? 1 : 0;
    const QString fleet =
        pjlink > 0
            ? QStringLiteral("%1 projectors (%2 PJLink)").arg(state.ProjectorCount).arg(pjlink)
            : QStringLiteral("%1 projectors").arg(state.ProjectorCount);
    return QStringLiteral("%1: %2, schedule %3, %4")
        .arg(state.ProgramFolder, fleet,
             core.runner().isRunning() ? QStringLiteral("running") : QStringLiteral("stopped"),
             endpoint);
}

} // namespace

int main(int argc, char* argv[]) {
    if (const std::optional<int> code =
            RunFleetCommand(ArgumentsOf(argc, argv), QStringLiteral("norvik3d")))
        return *code;
    if (const auto code = RunDiscoverCommand(argc, argv, "norvik3d"))
        return *code;
    if (const auto code = RunTokenCommand(ArgumentsOf(argc, argv), QStringLiteral("norvik3d")))
        return *code;
    if (const auto code =
            RunHistoryExportCommand(ArgumentsOf(argc, argv), QStringLiteral("norvik3d")))
        return *code;
    if (const auto code = RunBackupCommand(ArgumentsOf(argc, argv), QStringLiteral("norvik3d")))
        return *code;
    const CommandLine line = ParseServiceCommandLine(ArgumentsOf(argc, argv));
    switch (line.action) {
    case CommandLine::Action::Help:
        std::fputs(qPrintable(ServiceUsage()), stdout);
        return 0;
    case CommandLine::Action::Version:
        std::printf("norvik3d %s\n", qPrintable(ProgramVersion()));
        return 0;
    case CommandLine::Action::Error:
        std::fprintf(stderr, "norvik3d: %s\n%s", qPrintable(line.error),
                     qPrintable(ServiceUsage()));
        return 2;
    case CommandLine::Action::Run:
        break;
    }

    InstallServiceMessageHandler();
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("KESTRAN"));
    // The lock file names its holder by this name, so a window started on
    // the same folder can say that the service holds it.
    QCoreApplication::setApplicationName(QStringLiteral("norvik3d"));

    ProgramCore core;
    core.setReloadOnHangUp(true);
    core.setProgramSource(EventSource::Service);
    const QStringList words = line.commLog ? QStringList{QStringLiteral("DON")} : line.words;
    if (!core.start(words)) {
        const ProgramSession& session = core.session();
        if (session.outcome() == ProgramSession::Outcome::AlreadyRunning)
            Say(LogPriority::Error,
                QStringLiteral("the program folder %1 is in use by %2; not started")
                    .arg(core.state().ProgramFolder, session.problem().isEmpty()
                                                         ? QStringLiteral("another program")
                                                         : session.problem()));
        else
            Say(LogPriority::Error, QStringLiteral("cannot start: %1").arg(session.problem()));
        return 1;
    }
    ServiceManager manager;
    QObject::connect(&core, &ProgramCore::stopRequested, &core,
                     [&core, &manager](int signalNumber) {
                         manager.stopping();
                         say(QStringLiteral("stopping on signal %1").arg(signalNumber));
                         core.shutdown();
                         QCoreApplication::exit(0);
                     });
    QObject::connect(&core, &ProgramCore::reloadRequested, &core, [&core, &manager] {
        manager.reloading();
        core.reload();
        const QString serving = Serving(core);
        say(QStringLiteral("settings reloaded on ") + serving);
        if (const StatusServer* status = core.statusServer(); status && !status->isListening())
            Say(LogPriority::Warning, status->problem());
        manager.ready(serving);
    });

    for (const QString& warning : core.session().warnings())
        Say(LogPriority::Warning, warning);
    // What keeps the service from its whole job is said once when it
    // begins and once when it ends, for the journal and the administrator.
    QObject::connect(&core.state().Health, &HealthReport::changed, &core,
                     [](HealthCondition, bool active, const QString& text) {
                         if (active)
                             Say(LogPriority::Warning, text);
                         else if (!text.isEmpty())
                             say(text);
                     });
    // Those seen while the core started (a passwords file refused) too.
    for (int c = 0; c < int(HealthCondition::Count); ++c)
        if (const HealthReport::Entry& entry = core.state().Health.entry(HealthCondition(c));
            entry.active)
            Say(LogPriority::Warning, entry.text);
    AppState& state = core.state();
    core.store().LoadTree(state);
    core.startCommunication();
    if (!line.noSchedule)
        core.runner().ScheduleStart();
    core.startStatusEndpoint(line.httpAddress, line.httpPort);

    if (const StatusServer* status = core.statusServer(); status && !status->isListening()) {
        // A port asked for on the command line is what the administrator
        // wants served; one from the settings file leaves the service running.
        if (line.httpPort > 0) {
            Say(LogPriority::Error, status->problem());
            core.shutdown();
            return 1;
        }
        Say(LogPriority::Warning, status->problem());
    }
    const QString serving = Serving(core);
    say(QStringLiteral("%1 started on %2").arg(ProgramVersion(), serving));
    if (const StatusServer* status = core.statusServer(); status && !status->warning().isEmpty())
        Say(LogPriority::Warning, status->warning());
    manager.ready(serving);
    const int code = app.exec();
    core.shutdown();
    say(QStringLiteral("stopped"));
    return code;
}
