// Discovery of a /24 holding 20 simulated projectors (10 of the own
// protocol, 10 PJLink class 2), in a network namespace pair, while the
// engine polls a fleet of its own: the time to the last find and to the end,
// and the polling pace (passes and replies a second) before and during the
// run, with the longest late tick of the event loop. With --spoof N, N
// search answers under as many MAC addresses also come from the 20
// projectors' addresses while --range (192.0.2.7/32, say) holds none of
// them: none of those may be probed or found. Needs root.

#include "support/NetworkPair.h"
#include "support/SimProcess.h"

#include "comm/CommEngine.h"
#include "core/AppState.h"
#include "core/SettingsStore.h"
#include "discovery/Discovery.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <cstdio>

using namespace std::chrono_literals;

namespace {

// Back-to-back polling passes, counted.
class PassCounter : public QObject {
  public:
    PassCounter(CommEngine& engine, AppState& state) : m_engine(engine), m_state(state) {
        m_check.setInterval(1ms);
        connect(&m_check, &QTimer::timeout, this, [this] {
            if (m_state.Polling.LastPassEnd == m_lastEnd)
                return;
            ++m_passes;
            startPass();
        });
    }
    void start() {
        startPass();
        m_check.start();
    }
    void stop() {
        m_check.stop();
        m_engine.stopPolling();
    }
    int passes() const { return m_passes; }

  private:
    void startPass() {
        m_engine.stopPolling();
        m_lastEnd = m_state.Polling.LastPassEnd;
        m_state.LastStatusCheck = QDateTime();
        m_engine.startPolling(0);
    }
    CommEngine& m_engine;
    AppState& m_state;
    QTimer m_check;
    QDateTime m_lastEnd;
    int m_passes = 0;
};

// The longest delay of a 10 ms timer beyond its interval.
class LatenessMeter : public QObject {
  public:
    LatenessMeter() {
        m_timer.setInterval(10ms);
        connect(&m_timer, &QTimer::timeout, this,
                [this] { m_worst = std::max(m_worst, m_clock.restart() - 10); });
    }
    void start() {
        m_worst = 0;
        m_clock.start();
        m_timer.start();
    }
    qint64 worst() const { return m_worst; }

  private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_worst = 0;
};

struct Pace {
    double passesPerSecond = 0;
    double repliesPerSecond = 0;
    qint64 worstLateMs = 0;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Times discovery of a /24 with 20 simulated projectors while polling goes on."));
    parser.addHelpOption();
    const QCommandLineOption polled(QStringLiteral("polled"),
                                    QStringLiteral("Projectors polled meanwhile (1..256)."),
                                    QStringLiteral("N"), QStringLiteral("64"));
    parser.addOption(polled);
    const QCommandLineOption range(QStringLiteral("range"), QStringLiteral("The range probed."),
                                   QStringLiteral("CIDR"), QStringLiteral("192.0.2.0/24"));
    parser.addOption(range);
    const QCommandLineOption spoof(QStringLiteral("spoof"),
                                   QStringLiteral("Search answers sent from the projectors' "
                                                  "addresses under made-up MAC addresses."),
                                   QStringLiteral("N"), QStringLiteral("0"));
    parser.addOption(spoof);
    parser.process(app);
    const DiscoveryRange probed = ParseDiscoveryRange(parser.value(range));
    if (!probed.error.isEmpty()) {
        std::fprintf(stderr, "discover_fleet: %s\n", qPrintable(probed.error));
        return 2;
    }
    const int spoofed = parser.value(spoof).toInt();
    const int n = parser.value(polled).toInt();
    if (n < 1 || n > MaxProjectors) {
        std::fprintf(stderr, "discover_fleet: --polled must be 1..%d\n", MaxProjectors);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("NORVIK3_SIM"))
        qputenv("NORVIK3_SIM", NORVIK3_SIM_PATH);

    QStringList addresses;
    for (int host = 10; host < 30; ++host)
        addresses << QStringLiteral("192.0.2.%1").arg(host);
    NetworkPair pair(addresses);
    if (!pair.isReady()) {
        std::fprintf(stderr, "discover_fleet: %s\n", qPrintable(pair.error()));
        return 1;
    }
    pair.enter(NetworkPair::Side::Projectors);
    SimProcess found({QStringLiteral("--tcp"), QStringLiteral("10"), QStringLiteral("--pjlink"),
                      QStringLiteral("10"), QStringLiteral("--pjlink-class"), QStringLiteral("2"),
                      QStringLiteral("--address"), QStringLiteral("192.0.2.10"),
                      QStringLiteral("--address-each"), QStringLiteral("--base-port"),
                      QStringLiteral("23"), QStringLiteral("--search-port"),
                      QStringLiteral("4352")});
    std::vector<std::unique_ptr<QUdpSocket>> spoofers;
    for (const QString& address : addresses) {
        spoofers.push_back(std::make_unique<QUdpSocket>());
        spoofers.back()->bind(QHostAddress(address), 0);
    }
    pair.enter(NetworkPair::Side::Program);
    SimProcess polledSim({QStringLiteral("--tcp"), QString::number(n)});
    if (!found.isReady() || !polledSim.isReady()) {
        std::fprintf(stderr, "discover_fleet: %s%s\n", qPrintable(found.errorString()),
                     qPrintable(polledSim.errorString()));
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
        info.PortNo = QString::number(polledSim.tcpPort(p));
        info.MACAddress = QStringLiteral("00:00:00:00:00:00"); // no MAC pass
    }
    SettingsStore settings(dir.filePath(QStringLiteral("Norvik3.conf")));
    CommEngine engine(state, settings);
    engine.InitializeQueues();
    PassCounter passes(engine, state);
    LatenessMeter lateness;

    const auto measure = [&](const std::function<void(QEventLoop&)>& during) {
        const int passesBefore = passes.passes();
        const quint64 repliesBefore = state.Counters.CommandsData;
        QElapsedTimer wall;
        wall.start();
        lateness.start();
        QEventLoop loop;
        during(loop);
        loop.exec();
        const double seconds = double(wall.elapsed()) / 1000.0;
        return Pace{double(passes.passes() - passesBefore) / seconds,
                    double(state.Counters.CommandsData - repliesBefore) / seconds,
                    lateness.worst()};
    };

    passes.start();
    // Settle, then the pace without discovery.
    measure([](QEventLoop& loop) { QTimer::singleShot(2s, &loop, &QEventLoop::quit); });
    const Pace before =
        measure([](QEventLoop& loop) { QTimer::singleShot(5s, &loop, &QEventLoop::quit); });

    Discovery discovery(&state);
    QElapsedTimer clock;
    qint64 lastFind = 0;
    qint64 end = 0;
    QObject::connect(&discovery, &Discovery::found, &app, [&](int) { lastFind = clock.elapsed(); });
    QObject::connect(&discovery, &Discovery::changed, &app,
                     [&](int) { lastFind = clock.elapsed(); });
    DiscoveryOptions options;
    options.addresses = probed.addresses;
    // A hundred answers every 10 ms, from each address in turn.
    QTimer flood;
    int sent = 0;
    flood.setInterval(10ms);
    QObject::connect(&flood, &QTimer::timeout, &app, [&] {
        for (int i = 0; i < 100 && sent < spoofed; ++i, ++sent)
            spoofers[std::size_t(sent) % spoofers.size()]->writeDatagram(
                "%2ACKN=026600" + QByteArray::number(sent, 16).rightJustified(6, '0') + '\r',
                QHostAddress(NetworkPair::ProgramAddress), 4352);
        if (sent >= spoofed)
            flood.stop();
    });
    const Pace during = measure([&](QEventLoop& loop) {
        QObject::connect(&discovery, &Discovery::finished, &loop, [&] {
            end = clock.elapsed();
            loop.quit();
        });
        clock.start();
        discovery.start(options);
        flood.start();
    });
    passes.stop();
    engine.shutdown();

    int pjlinkFinds = 0;
    int withMac = 0;
    for (const DiscoveryFind& find : discovery.finds()) {
        pjlinkFinds += find.protocol == ProtocolPJLink ? 1 : 0;
        withMac += find.mac.isEmpty() ? 0 : 1;
    }
    std::printf("range                %s\n", qPrintable(parser.value(range)));
    std::printf("spoofed answers sent %d\n", sent);
    std::printf("search answers       %d taken, %d ignored\n", discovery.search().answerCount(),
                discovery.search().ignoredCount());
    std::printf("addresses probed     %d (%d connects, at most %d at once)\n",
                int(options.addresses.size()), discovery.probe().started(),
                discovery.probe().mostInFlight());
    std::printf("finds                %d (%d PJLink, %d with a MAC address)\n",
                int(discovery.finds().size()), pjlinkFinds, withMac);
    std::printf("time to last find    %lld ms\n", static_cast<long long>(lastFind));
    std::printf("time to the end      %lld ms\n", static_cast<long long>(end));
    std::printf("polled projectors    %d\n", n);
    std::printf("polling before       %.2f passes/s, %.0f replies/s, worst late tick %lld ms\n",
                before.passesPerSecond, before.repliesPerSecond,
                static_cast<long long>(before.worstLateMs));
    std::printf("polling during       %.2f passes/s, %.0f replies/s, worst late tick %lld ms\n",
                during.passesPerSecond, during.repliesPerSecond,
                static_cast<long long>(during.worstLateMs));
    return 0;
}
