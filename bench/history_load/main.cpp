// Recording while 256 simulated projectors change state on every pass,
// through the whole program core: the events committed per second, and the
// longest stall of the event loop (the largest gap of a 1 ms timer) while
// polling and recording run.

#include "BenchKit.h"

#include "comm/CommEngine.h"
#include "history/HistoryWriter.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

using namespace std::chrono_literals;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Events committed per second and the longest event-loop stall while "
                       "simulated projectors change state on every pass."));
    parser.addHelpOption();
    const QCommandLineOption projectorsOption =
        NumberOption({QStringLiteral("projectors")}, QStringLiteral("Projectors"), 256);
    const QCommandLineOption passesOption =
        NumberOption({QStringLiteral("passes")}, QStringLiteral("Polling passes"), 10);
    parser.addOptions({projectorsOption, passesOption});
    parser.process(app);
    const int count = NumberValue(parser, projectorsOption, 1, MaxProjectors);
    const int passes = NumberValue(parser, passesOption, 1);

    BenchFleet fleet(count, count);
    if (!fleet.problem().isEmpty())
        return Failed("history_load", fleet.problem());
    ProgramCore& core = fleet.core();
    AppState& state = fleet.state();
    SimProcess& sim = fleet.sim();
    if (!RunPass(core.engine(), state, 120s))
        return Failed("history_load", QStringLiteral("the first pass did not end"));
    Pause(1500ms);

    HistoryWriter& writer = *core.history();
    const quint64 committedBefore = writer.committedCount();
    StallMeter meter;
    QElapsedTimer wall;
    wall.start();
    meter.start();
    for (int n = 1; n <= passes; ++n) {
        // Power, input and error all change on every projector.
        sim.command(QStringLiteral("power all %1").arg(n % 2));
        sim.command(QStringLiteral("input all %1").arg(n % 2 == 0 ? 0 : 5));
        sim.command(QStringLiteral("error all %1").arg(n % 2 == 0 ? 0 : 3));
        if (!RunPass(core.engine(), state, 120s))
            return Failed("history_load", QStringLiteral("pass %1 did not end").arg(n));
    }
    // Until the last batch is in the file.
    QElapsedTimer drain;
    drain.start();
    while ((writer.pendingCount() > 0 || drain.elapsed() < 1500) && drain.elapsed() < 60000)
        Pause(10ms);
    const double seconds = double(wall.elapsed()) / 1000.0;
    const quint64 committed = writer.committedCount() - committedBefore;
    std::printf("projectors %d, passes %d, %.1f s\n", count, passes, seconds);
    std::printf("events committed: %llu (%.0f per second), dropped %llu\n",
                static_cast<unsigned long long>(committed), double(committed) / seconds,
                static_cast<unsigned long long>(writer.droppedCount()));
    std::printf("longest event-loop stall: %.1f ms\n", meter.longestMs());
    return 0;
}
