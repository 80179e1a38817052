// Recording while 256 simulated projectors change state on every pass,
// through the whole program core: the events committed per second, and the
// longest stall of the event loop (the largest gap of a 1 ms timer) while
// polling and recording run.

#include "support/SimProcess.h"

#include "comm/CommEngine.h"
#include "core/Fleet.h"
#include "core/ProgramCore.h"
#include "history/HistoryWriter.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

// The largest gap between two firings of a 1 ms timer.
class GapMeter {
  public:
    GapMeter() {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_longestNs = std::max(m_longestNs, now - m_lastNs);
            m_lastNs = now;
        });
    }
    void start() {
        m_clock.start();
        m_lastNs = 0;
        m_timer.start();
    }
    double longestMs() const { return double(m_longestNs) / 1e6; }

  private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_lastNs = 0;
    qint64 m_longestNs = 0;
};

bool runPass(CommEngine& engine, AppState& state) {
    const QDateTime before = state.Polling.LastPassEnd;
    QEventLoop loop;
    QTimer check;
    check.setInterval(5);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (state.Polling.LastPassEnd != before)
            loop.quit();
    });
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    state.LastStatusCheck = QDateTime();
    check.start();
    engine.startPolling(0);
    loop.exec();
    engine.stopPolling();
    return state.Polling.LastPassEnd != before;
}

void waitFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Events committed per second and the longest event-loop stall while "
                       "simulated projectors change state on every pass."));
    parser.addHelpOption();
    const QCommandLineOption projectorsOption(QStringLiteral("projectors"),
                                              QStringLiteral("Projectors (default 256)."),
                                              QStringLiteral("n"), QStringLiteral("256"));
    const QCommandLineOption passesOption(QStringLiteral("passes"),
                                          QStringLiteral("Polling passes (default 10)."),
                                          QStringLiteral("n"), QStringLiteral("10"));
    parser.addOption(projectorsOption);
    parser.addOption(passesOption);
    parser.process(app);
    const int count = std::clamp(parser.value(projectorsOption).toInt(), 1, MaxProjectors);
    const int passes = std::max(1, parser.value(passesOption).toInt());

    qputenv("NORVIK3_SIM", NORVIK3_SIM_PATH);
    SimProcess sim({QStringLiteral("--tcp"), QString::number(count)});
    if (!sim.isReady()) {
        std::fprintf(stderr, "history_load: %s\n", qPrintable(sim.errorString()));
        return 1;
    }
    QTemporaryDir home;
    qputenv("NORVIK3_HOME", home.path().toUtf8());
    ProgramCore core;
    core.setProgramSource(EventSource::Service);
    if (!core.start({})) {
        std::fprintf(stderr, "history_load: %s\n", qPrintable(core.session().problem()));
        return 1;
    }
    AppState& state = core.state();
    state.Timing.StatusCheckInterval = 3600;
    state.Timing.TcpTimeoutTime = 2000;
    ResetTree(state);
    state.ProjectorCount = 0;
    const int group = AddGroupNode(state, QStringLiteral("Fleet"), nullptr);
    for (int p = 1; p <= count; ++p) {
        ProjectorInfo config;
        config.ProjectorName = QStringLiteral("PJ%1").arg(p);
        config.ConnectionKind = ConnectionLan;
        config.IPAddress = QStringLiteral("127.0.0.1");
        config.PortNo = QString::number(sim.tcpPort(p));
        AddProjectorNode(state, group, config, nullptr);
    }
    core.engine().setToolPrograms(QStringLiteral("true"), QStringLiteral("true"));
    core.startCommunication();
    if (!runPass(core.engine(), state)) {
        std::fprintf(stderr, "history_load: the first pass did not end\n");
        return 1;
    }
    waitFor(1500);

    HistoryWriter& writer = *core.history();
    const quint64 committedBefore = writer.committedCount();
    GapMeter meter;
    QElapsedTimer wall;
    wall.start();
    meter.start();
    for (int n = 1; n <= passes; ++n) {
        // Power, input and error all change on every projector.
        sim.command(QStringLiteral("power all %1").arg(n % 2));
        sim.command(QStringLiteral("input all %1").arg(n % 2 == 0 ? 0 : 5));
        sim.command(QStringLiteral("error all %1").arg(n % 2 == 0 ? 0 : 3));
        if (!runPass(core.engine(), state)) {
            std::fprintf(stderr, "history_load: pass %d did not end\n", n);
            return 1;
        }
    }
    // Until the last batch is in the file.
    QElapsedTimer drain;
    drain.start();
    while ((writer.pendingCount() > 0 || drain.elapsed() < 1500) && drain.elapsed() < 60000)
        waitFor(10);
    const double seconds = double(wall.elapsed()) / 1000.0;
    const quint64 committed = writer.committedCount() - committedBefore;
    std::printf("projectors %d, passes %d, %.1f s\n", count, passes, seconds);
    std::printf("events committed: %llu (%.0f per second), dropped %llu\n",
                static_cast<unsigned long long>(committed), double(committed) / seconds,
                static_cast<unsigned long long>(writer.droppedCount()));
    std::printf("longest event-loop stall: %.1f ms\n", meter.longestMs());
    core.shutdown();
    return 0;
}
