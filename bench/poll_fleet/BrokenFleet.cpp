#include "BrokenFleet.h"

#include "BenchKit.h"
#include "support/DeadPorts.h"

#include "comm/CommEngine.h"
#include "comm/EngineObserver.h"
#include "core/AppState.h"
#include "core/SettingsStore.h"
#include "log/LogFileMaker.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// When each projector's round began: its first query (power) was handed
// over; and how often each command of a projector was handed over.
class RoundClock : public EngineObserver {
  public:
    RoundClock(int projectors, QByteArray ownPower, QByteArray pjlinkPower)
        : m_starts(std::size_t(projectors) + 1), m_finished(std::size_t(projectors) + 1, 0),
          m_ownPower(std::move(ownPower)), m_pjlinkPower(std::move(pjlinkPower)) {
        m_clock.start();
    }
    void commandFinished(int p, const QByteArray& frame, CommandOutcome) override {
        if (p < 1 || std::size_t(p) >= m_starts.size())
            return;
        ++m_finished[std::size_t(p)];
        if (frame == m_ownPower || frame == m_pjlinkPower)
            m_starts[std::size_t(p)].push_back(m_clock.elapsed());
    }
    // Gaps in ms between the starts of successive rounds of projector p,
    // after the first `skip` rounds.
    std::vector<qint64> gaps(int p, std::size_t skip) const {
        const std::vector<qint64>& s = m_starts[std::size_t(p)];
        std::vector<qint64> out;
        for (std::size_t i = skip + 1; i < s.size(); ++i)
            out.push_back(s[i] - s[i - 1]);
        return out;
    }
    int finished(int p) const { return m_finished[std::size_t(p)]; }

  private:
    QElapsedTimer m_clock;
    std::vector<std::vector<qint64>> m_starts;
    std::vector<int> m_finished;
    QByteArray m_ownPower;
    QByteArray m_pjlinkPower;
};

// Connections opened to projector p, as the communication log in `folder`
// tells them.
int connects(const QString& folder, int p) {
    const QByteArray own = QStringLiteral("TCP(%1)_Connect:").arg(p).toLatin1();
    const QByteArray pjlink = QStringLiteral("PJLink(%1)_Connect:").arg(p).toLatin1();
    int n = 0;
    const QDir logs(folder);
    for (const QString& name : logs.entryList({QStringLiteral("*.log")}, QDir::Files)) {
        QFile file(logs.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = file.readAll();
        n += int(text.count(own) + text.count(pjlink));
    }
    return n;
}

} // namespace

int RunBrokenFleet(int n, std::chrono::seconds duration) {
    const int live = n - 3;
    const int dead = n - 2, refusing = n - 1, slow = n;
    SimProcess sim({QStringLiteral("--tcp"), QString::number(live), QStringLiteral("--pjlink"),
                    QStringLiteral("1")});
    const BlackHolePort hole;
    if (!sim.isReady() || hole.port() == 0) {
        std::fprintf(stderr, "poll_fleet: %s\n",
                     sim.isReady() ? "no black hole port" : qPrintable(sim.errorString()));
        return 1;
    }
    sim.command(QStringLiteral("pj %1 delay 2000").arg(live + 1));

    QTemporaryDir dir;
    // Too large for the stack beside the caller's own.
    const auto owned = std::make_unique<AppState>();
    AppState& state = *owned;
    state.Timing.StatusCheckInterval = 10;
    const QString logFolder = dir.filePath(QStringLiteral("Log"));
    state.CommLogEnabled = 1;
    state.CommLog = std::make_unique<LogFileMaker>(logFolder);
    state.CommLog->setMaxSize(256 * 1024 * 1024); // every line of the run is counted
    state.ProjectorCount = qint16(n);
    for (int p = 1; p <= n; ++p) {
        ProjectorInfo& info = state.Projectors[p];
        info.ProjectorName = QStringLiteral("PJ%1").arg(p);
        info.ConnectionKind = ConnectionLan;
        info.IPAddress = QStringLiteral("127.0.0.1");
        info.MACAddress = QStringLiteral("00:00:00:00:00:00"); // no MAC pass
        quint16 port = p <= live ? sim.tcpPort(p) : 0;
        if (p == dead)
            port = hole.port();
        else if (p == refusing)
            port = RefusingPort();
        else if (p == slow) {
            port = sim.pjlinkPort(live + 1);
            info.Protocol = ProtocolPJLink;
        }
        info.PortNo = QString::number(port);
    }
    SettingsStore settings(dir.filePath(QStringLiteral("Norvik3.conf")));
    CommEngine engine(state, settings);
    engine.setToolPrograms(QStringLiteral("true"), QStringLiteral("true"));
    RoundClock rounds(n, engine.commands().PowerGetCommand.toByteArray(), "%1POWR ?");
    engine.addObserver(&rounds);
    engine.InitializeQueues();
    engine.startPolling(0);
    Pause(duration);
    engine.shutdown();

    // The first round of each is left out: every projector starts it at once.
    std::vector<qint64> all;
    for (int p = 1; p <= live; ++p) {
        const std::vector<qint64> g = rounds.gaps(p, 1);
        all.insert(all.end(), g.begin(), g.end());
    }
    std::printf("projectors          %d (%d live, 1 dead address, 1 refusing, "
                "1 PJLink answering in 2 s)\n",
                n, live);
    std::printf("interval, run       %d s, %lld s\n", state.Timing.StatusCheckInterval,
                static_cast<long long>(duration.count()));
    if (all.empty()) {
        std::printf("live polling period no second round of a live projector\n");
    } else {
        std::sort(all.begin(), all.end());
        double sum = 0;
        for (qint64 g : all)
            sum += double(g);
        std::printf("live polling period mean %.1f s, median %.1f s, max %.1f s (%zu gaps)\n",
                    sum / double(all.size()) / 1000.0, double(all[all.size() / 2]) / 1000.0,
                    double(all.back()) / 1000.0, all.size());
    }
    const std::vector<qint64> slowGaps = rounds.gaps(slow, 0);
    std::printf("slow PJLink rounds  %zu, commands handed over %d\n", slowGaps.size() + 1,
                rounds.finished(slow));
    std::printf("dead address        %d connections tried, %d commands handed over\n",
                connects(logFolder, dead), rounds.finished(dead));
    std::printf("refusing port       %d connections tried, %d commands handed over\n",
                connects(logFolder, refusing), rounds.finished(refusing));
    std::printf("polling behind      %s\n", state.Polling.Behind ? "yes" : "no");
    return 0;
}
