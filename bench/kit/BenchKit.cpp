#include "BenchKit.h"

#include "comm/CommEngine.h"
#include "core/AppState.h"
#include "core/Fleet.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTcpServer>

#include <algorithm>
#include <cstdio>

using namespace std::chrono_literals;

int Failed(const char* bench, const QString& what) {
    std::fprintf(stderr, "%s: %s\n", bench, qPrintable(what));
    return 1;
}

QCommandLineOption NumberOption(const QStringList& names, const QString& what, int fallback) {
    return QCommandLineOption(names, QStringLiteral("%1 (default %2).").arg(what).arg(fallback),
                              QStringLiteral("n"), QString::number(fallback));
}

int NumberValue(const QCommandLineParser& parser, const QCommandLineOption& option, int low,
                int high) {
    return std::clamp(parser.value(option).toInt(), low, high);
}

quint16 FreeLocalPort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

void StartSelf(QProcess& child, const QStringList& arguments) {
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), arguments);
}

void Pause(std::chrono::milliseconds time) {
    QEventLoop loop;
    QTimer::singleShot(time, &loop, &QEventLoop::quit);
    loop.exec();
}

std::optional<std::chrono::milliseconds> RunPass(CommEngine& engine, AppState& state,
                                                 std::chrono::milliseconds limit) {
    const QDateTime before = state.Polling.LastPassEnd;
    QEventLoop loop;
    QTimer check;
    check.setInterval(1ms);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (state.Polling.LastPassEnd != before)
            loop.quit();
    });
    QTimer::singleShot(limit, &loop, &QEventLoop::quit);
    state.LastStatusCheck = QDateTime();
    QElapsedTimer wall;
    wall.start();
    check.start();
    engine.startPolling(0);
    loop.exec();
    const std::chrono::milliseconds taken(wall.elapsed());
    engine.stopPolling();
    if (state.Polling.LastPassEnd == before)
        return std::nullopt;
    return taken;
}

StallMeter::StallMeter() {
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(1ms);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        const qint64 now = m_clock.nsecsElapsed();
        m_longestNs = std::max(m_longestNs, now - m_lastNs);
        m_lastNs = now;
    });
}

void StallMeter::start() {
    m_clock.start();
    m_lastNs = 0;
    m_longestNs = 0;
    m_timer.start();
}

BenchFleet::BenchFleet(int count, int perGroup, EventSource source) : m_count(count) {
    if (qEnvironmentVariableIsEmpty("NORVIK3_SIM"))
        qputenv("NORVIK3_SIM", NORVIK3_SIM_PATH);
    m_sim =
        std::make_unique<SimProcess>(QStringList{QStringLiteral("--tcp"), QString::number(count)});
    if (!m_sim->isReady()) {
        m_problem = m_sim->errorString();
        return;
    }
    qputenv("NORVIK3_HOME", m_home.path().toUtf8());
    // Room for the largest made-up history a benchmark fills in, so that the
    // program's own pruning does not fight the filling.
    QFile settings(m_home.filePath(QStringLiteral("Norvik3.conf")));
    if (!settings.open(QIODevice::WriteOnly) ||
        settings.write("[Setting]\nHistoryDays=3650\nHistoryMaxMiB=8192\n") < 0) {
        m_problem = settings.errorString();
        return;
    }
    settings.close();
    settings.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    m_core = std::make_unique<ProgramCore>();
    m_core->setProgramSource(source);
    if (!m_core->start({})) {
        m_problem = m_core->session().problem();
        return;
    }
    AppState& s = m_core->state();
    s.Timing.StatusCheckInterval = 3600;
    s.Timing.TcpTimeoutTime = 2000;
    ResetTree(s);
    s.ProjectorCount = 0;
    int group = 0;
    for (int p = 1; p <= count; ++p) {
        if ((p - 1) % perGroup == 0)
            group = AddGroupNode(s, QStringLiteral("G%1").arg((p - 1) / perGroup + 1), nullptr);
        ProjectorInfo config;
        config.ProjectorName = QStringLiteral("PJ%1").arg(p);
        config.ConnectionKind = ConnectionLan;
        config.IPAddress = QStringLiteral("127.0.0.1");
        config.PortNo = QString::number(m_sim->tcpPort(p));
        AddProjectorNode(s, group, config, nullptr);
    }
    m_core->engine().setToolPrograms(QStringLiteral("true"), QStringLiteral("true"));
    m_core->startCommunication();
    // Passes run when the benchmark asks (RunPass), so that none it times
    // began before it; the start's own pass would be half done by then.
    m_core->engine().stopPolling();
}

void BenchFleet::delayReplies(int ms) {
    for (int p = 1; p <= m_count; ++p)
        m_sim->command(QStringLiteral("delay %1 %2").arg(p).arg(ms));
}

BenchFleet::~BenchFleet() {
    if (m_core)
        m_core->shutdown();
}

qint64 Pace::medianMs() const {
    std::vector<qint64> sorted = passesMs;
    std::sort(sorted.begin(), sorted.end());
    return sorted.empty() ? 0 : sorted[sorted.size() / 2];
}

qint64 Pace::longestMs() const {
    return passesMs.empty() ? 0 : *std::max_element(passesMs.begin(), passesMs.end());
}

Pace PollWhile(BenchFleet& fleet, const std::function<bool(qint64 elapsedMs)>& going) {
    StallMeter meter;
    QElapsedTimer wall;
    wall.start();
    meter.start();
    Pace pace;
    do {
        const std::optional<std::chrono::milliseconds> taken =
            RunPass(fleet.core().engine(), fleet.state(), 120s);
        if (!taken) {
            pace.ended = false;
            break;
        }
        pace.passesMs.push_back(qint64(taken->count()));
    } while (going(wall.elapsed()));
    pace.seconds = double(wall.elapsed()) / 1000.0;
    pace.longestStallMs = meter.longestMs();
    return pace;
}
