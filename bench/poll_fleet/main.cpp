// One full polling pass over N simulated LAN projectors through the real
// engine: wall time until the last of the 5 x N replies was handed over,
// CPU time of this process during the pass, peak resident memory, and the
// CPU share while idle (all projectors configured, nothing due) over 10 s.
// With --broken SECONDS: the live projectors' polling period in a fleet with
// a dead, a refusing and a slow projector (see BrokenFleet.h).

#include "BenchKit.h"
#include "BrokenFleet.h"
#include "ProcessStats.h"

#include "comm/CommEngine.h"
#include "core/AppState.h"
#include "core/SettingsStore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>

using namespace std::chrono_literals;

namespace {

// One polling pass until every query it queued was handed over: its wall
// time in ms (0 when it did not end within 60 s), its CPU time added to cpu.
qint64 runPass(CommEngine& engine, AppState& state, double& cpu) {
    const double cpuBefore = cpuSeconds();
    const std::optional<std::chrono::milliseconds> taken = RunPass(engine, state, 60s);
    cpu += cpuSeconds() - cpuBefore;
    return taken ? qint64(taken->count()) : 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Times one polling pass over simulated projectors."));
    parser.addHelpOption();
    const QCommandLineOption count =
        NumberOption({QStringLiteral("n")}, QStringLiteral("Number of projectors"), 256);
    const QCommandLineOption delay =
        NumberOption({QStringLiteral("delay-ms")},
                     QStringLiteral("Every projector answers after this many ms"), 0);
    const QCommandLineOption pjlink(
        QStringLiteral("pjlink"),
        QStringLiteral("Also poll as many PJLink projectors, and compare."));
    const QCommandLineOption broken(
        QStringLiteral("broken"),
        QStringLiteral("Poll a fleet with a dead, a refusing and a slow projector for this long."),
        QStringLiteral("seconds"));
    parser.addOptions({count, delay, pjlink, broken});
    parser.process(app);
    const int n = NumberValue(parser, count, 1, MaxProjectors);
    const int delayMs = NumberValue(parser, delay, 0);
    if (qEnvironmentVariableIsEmpty("NORVIK3_SIM"))
        qputenv("NORVIK3_SIM", NORVIK3_SIM_PATH);
    if (parser.isSet(broken)) {
        const int seconds = parser.value(broken).toInt();
        if (n < 4 || seconds < 1) {
            std::fprintf(stderr, "poll_fleet: --broken needs -n 4 or more and 1 s or more\n");
            return 2;
        }
        return RunBrokenFleet(n, std::chrono::seconds(seconds));
    }

    const bool withPJLink = parser.isSet(pjlink);
    SimProcess sim({QStringLiteral("--tcp"), QString::number(n), QStringLiteral("--pjlink"),
                    QString::number(withPJLink ? n : 0)});
    if (!sim.isReady())
        return Failed("poll_fleet", sim.errorString());
    if (delayMs > 0) {
        for (int p = 1; p <= n; ++p)
            sim.command(QStringLiteral("delay %1 %2").arg(p).arg(delayMs));
        if (withPJLink)
            sim.command(QStringLiteral("pj all delay %1").arg(delayMs));
    }

    QTemporaryDir dir;
    AppState state;
    state.Timing.StatusCheckInterval = 3600;
    state.ProjectorCount = qint16(n);
    const auto configure = [&](bool asPJLink) {
        for (int p = 1; p <= n; ++p) {
            ProjectorInfo& info = state.Projectors[p];
            info = ProjectorInfo{};
            info.ProjectorName = QStringLiteral("PJ%1").arg(p);
            info.ConnectionKind = ConnectionLan;
            info.IPAddress = QStringLiteral("127.0.0.1");
            info.Protocol = asPJLink ? ProtocolPJLink : ProtocolNative;
            info.PortNo = QString::number(asPJLink ? sim.pjlinkPort(n + p) : sim.tcpPort(p));
            info.MACAddress = QStringLiteral("00:00:00:00:00:00"); // no MAC pass
        }
    };
    configure(false);
    SettingsStore settings(dir.filePath(QStringLiteral("Norvik3.conf")));
    CommEngine engine(state, settings);
    engine.InitializeQueues();

    double passCpu = 0;
    const qint64 passMs = runPass(engine, state, passCpu);
    if (passMs == 0) {
        std::fprintf(stderr, "poll_fleet: the pass did not end within 60 s\n");
        return 1;
    }
    const quint64 replies = state.Counters.CommandsData;

    // Idle: everything configured, nothing due.
    Pause(500ms);
    const double idleCpuBefore = cpuSeconds();
    QElapsedTimer idleWall;
    idleWall.start();
    Pause(10s);
    const double idleShare = (cpuSeconds() - idleCpuBefore) / (double(idleWall.elapsed()) / 1000.0);

    std::printf("projectors          %d\n", n);
    std::printf("reply delay         %d ms\n", delayMs);
    std::printf("replies handed over %llu\n", static_cast<unsigned long long>(replies));
    std::printf("pass wall time      %lld ms\n", static_cast<long long>(passMs));
    std::printf("pass CPU time       %.0f ms\n", passCpu * 1000.0);
    std::printf("peak RSS            %.1f MiB\n", double(peakResidentKiB()) / 1024.0);
    std::printf("idle CPU (10 s)     %.2f %% of one core\n", idleShare * 100.0);

    if (withPJLink) {
        // The same fleet as PJLink projectors: the first pass also asks each
        // who it is; the second is what every later pass costs.
        configure(true);
        engine.InitializeQueues();
        const quint64 before = state.Counters.CommandsData;
        double firstCpu = 0;
        double laterCpu = 0;
        const qint64 firstMs = runPass(engine, state, firstCpu);
        Pause(std::chrono::milliseconds(state.Timing.PJLinkSessionGap));
        const qint64 laterMs = runPass(engine, state, laterCpu);
        if (firstMs == 0 || laterMs == 0) {
            std::fprintf(stderr, "poll_fleet: a PJLink pass did not end within 60 s\n");
            return 1;
        }
        std::printf("PJLink replies      %llu in two passes, %llu failed\n",
                    static_cast<unsigned long long>(state.Counters.CommandsData - before),
                    static_cast<unsigned long long>(state.Counters.CommandsTimedOut +
                                                    state.Counters.CommandsRefused));
        std::printf("PJLink first pass   %lld ms wall, %.0f ms CPU\n",
                    static_cast<long long>(firstMs), firstCpu * 1000.0);
        std::printf("PJLink later pass   %lld ms wall, %.0f ms CPU (%.2f x the own protocol's)\n",
                    static_cast<long long>(laterMs), laterCpu * 1000.0,
                    double(laterMs) / double(passMs));
        std::printf("peak RSS            %.1f MiB\n", double(peakResidentKiB()) / 1024.0);
    }
    engine.shutdown();
    return 0;
}
