// One full polling pass over N simulated LAN projectors through the real
// engine: wall time until the last of the 5 x N replies was handed over,
// CPU time of this process during the pass, peak resident memory, and the
// CPU share while idle (all projectors configured, nothing due) over 10 s.

#include "support/SimProcess.h"

#include "comm/CommEngine.h"
#include "comm/RefreshSink.h"
#include "core/AppState.h"
#include "core/SettingsStore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <sys/resource.h>

namespace {

double cpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long peakRssKiB()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

struct CountingSink : RefreshSink {
    int handed = 0;
    int target = 0;
    QEventLoop* loop = nullptr;
    void statusChanged(int, StatusItem) override
    {
        if (++handed == target && loop)
            loop->quit();
    }
    void restoreDropDown(int, StatusItem) override {}
    void reachabilityChanged(int) override {}
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Times one polling pass over simulated projectors."));
    parser.addHelpOption();
    const QCommandLineOption count(QStringList{QStringLiteral("n")}, QStringLiteral("Number of projectors (1..256)."),
                                   QStringLiteral("N"), QStringLiteral("256"));
    parser.addOption(count);
    parser.process(app);
    const int n = parser.value(count).toInt();
    if (n < 1 || n > MaxProjectors) {
        std::fprintf(stderr, "poll_fleet: -n must be 1..%d\n", MaxProjectors);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("NORVIK3_SIM"))
        qputenv("NORVIK3_SIM", NORVIK3_SIM_PATH);

    SimProcess sim({QStringLiteral("--tcp"), QString::number(n)});
    if (!sim.isReady()) {
        std::fprintf(stderr, "poll_fleet: %s\n", qPrintable(sim.errorString()));
        return 1;
    }

    QTemporaryDir dir;
    AppState state;
    state.Timing.StatusCheckInterval = 3600;
    state.ProjectorCount = qint16(n);
    for (int p = 1; p <= n; ++p) {
        ProjectorInfo& info = state.Projectors[p];
        info.ProjectorName = QStringLiteral("PJ%1").arg(p);
        info.ConnectionKind = ConnectionLan;
        info.IPAddress = QStringLiteral("127.0.0.1");
        info.PortNo = QString::number(sim.tcpPort(p));
        info.MACAddress = QStringLiteral("00:00:00:00:00:00"); // no MAC pass
    }
    SettingsStore settings(dir.filePath(QStringLiteral("Norvik3.conf")));
    CommEngine engine(state, settings);
    CountingSink sink;
    QEventLoop loop;
    sink.target = 5 * n;
    sink.loop = &loop;
    engine.setRefreshSink(&sink);
    engine.InitializeQueues();

    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    engine.startPolling(0);
    loop.exec();
    const qint64 passMs = wall.elapsed();
    const double passCpu = cpuSeconds() - cpuBefore;
    if (sink.handed < sink.target) {
        std::fprintf(stderr, "poll_fleet: only %d of %d replies within 30 s\n", sink.handed, sink.target);
        return 1;
    }

    // Idle: everything configured, polling running, nothing due.
    QEventLoop idle;
    QTimer::singleShot(500, &idle, &QEventLoop::quit);
    idle.exec();
    const double idleCpuBefore = cpuSeconds();
    QElapsedTimer idleWall;
    idleWall.start();
    QTimer::singleShot(10000, &idle, &QEventLoop::quit);
    idle.exec();
    const double idleShare = (cpuSeconds() - idleCpuBefore) / (double(idleWall.elapsed()) / 1000.0);

    std::printf("projectors          %d\n", n);
    std::printf("replies handed over %d\n", sink.handed);
    std::printf("pass wall time      %lld ms\n", static_cast<long long>(passMs));
    std::printf("pass CPU time       %.0f ms\n", passCpu * 1000.0);
    std::printf("peak RSS            %.1f MiB\n", double(peakRssKiB()) / 1024.0);
    std::printf("idle CPU (10 s)     %.2f %% of one core\n", idleShare * 100.0);
    engine.shutdown();
    return 0;
}
