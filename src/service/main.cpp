// norvik3d: the program without a window, for a machine without a desktop.
// It starts like the window (same folder, settings and lock), runs the
// schedule unless told not to, serves the status endpoint when one is set,
// and writes one line to standard error for its start, its stop and any
// fatal problem.

#include "comm/CommEngine.h"
#include "core/CommandLine.h"
#include "core/ProgramCore.h"
#include "schedule/ScheduleRunner.h"
#include "status/StatusServer.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

void say(const QString& line) {
    std::fprintf(stderr, "norvik3d: %s\n", qPrintable(line));
    std::fflush(stderr);
}

} // namespace

int main(int argc, char* argv[]) {
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

    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("KESTRAN"));
    // The lock file names its holder by this name, so a window started on
    // the same folder can say that the service holds it.
    QCoreApplication::setApplicationName(QStringLiteral("norvik3d"));

    ProgramCore core;
    const QStringList words = line.commLog ? QStringList{QStringLiteral("DON")} : line.words;
    if (!core.start(words)) {
        const ProgramSession& session = core.session();
        if (session.outcome() == ProgramSession::Outcome::AlreadyRunning)
            say(QStringLiteral("the program folder %1 is in use by %2; not started")
                    .arg(core.state().ProgramFolder, session.problem().isEmpty()
                                                         ? QStringLiteral("another program")
                                                         : session.problem()));
        else
            say(QStringLiteral("cannot start: %1").arg(session.problem()));
        return 1;
    }
    QObject::connect(&core, &ProgramCore::stopRequested, &core, [&core](int signalNumber) {
        say(QStringLiteral("stopping on signal %1").arg(signalNumber));
        core.shutdown();
        QCoreApplication::exit(0);
    });

    for (const QString& warning : core.session().warnings())
        say(warning);
    AppState& state = core.state();
    core.store().LoadTree(state);
    core.startCommunication();
    if (!line.noSchedule)
        core.runner().ScheduleStart();
    core.startStatusEndpoint(line.httpAddress, line.httpPort);

    const StatusServer* status = core.statusServer();
    say(QStringLiteral("%1 started on %2: %3 projectors, schedule %4, status endpoint %5%6")
            .arg(ProgramVersion(), state.ProgramFolder)
            .arg(state.ProjectorCount)
            .arg(core.runner().isRunning() ? QStringLiteral("running") : QStringLiteral("stopped"),
                 status && status->isListening() ? QStringLiteral("on port ")
                                                 : QStringLiteral("off"),
                 status && status->isListening() ? QString::number(status->port()) : QString()));
    if (status && !status->warning().isEmpty())
        say(status->warning());
    const int code = app.exec();
    core.shutdown();
    say(QStringLiteral("stopped"));
    return code;
}
