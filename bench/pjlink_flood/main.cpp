// PJLink notifications and metrics at the size of a full fleet: 256 PJLink
// projectors on loopback addresses 127.0.1.1 ... 127.0.2.1. First one of
// them floods the listener with status notifications (the rest of the
// fleet sends one a second each), then the metrics answer for the whole
// fleet, with every value printed as its shortest decimal, is timed, and
// its gzip compression.
// Prints what was applied and limited, the longest stall of the event loop
// and the time of one metrics answer.

#include "comm/PJLinkNotifications.h"
#include "comm/ReplyInterpreter.h"
#include "core/AppState.h"
#include "status/EndpointLimits.h"
#include "status/GzipBody.h"
#include "status/StatusTexts.h"

#include "BenchKit.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QUdpSocket>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

QHostAddress addressOf(int projector) {
    return QHostAddress(quint32((127u << 24) | (1u << 8)) + quint32(projector));
}

void buildFleet(AppState& state) {
    state.ProjectorCount = MaxProjectors;
    for (int p = 1; p <= MaxProjectors; ++p) {
        ProjectorInfo& info = state.Projectors[p];
        info.ProjectorName = QStringLiteral("Room %1").arg(p);
        info.ProjectorId = QStringLiteral("6f1c2a4e-0000-4000-8000-%1").arg(p, 12, 10, QChar('0'));
        info.ConnectionKind = ConnectionLan;
        info.Protocol = ProtocolPJLink;
        info.IPAddress = addressOf(p).toString();
        info.PowerStatus = 1;
        info.ErrorStatus = 0;
        info.LampTime = 1000 + p;
        info.FilterTime = 100 + p;
        info.Disconnected = false;
        info.PJLink.Class = 2;
        info.PJLink.LampCount = PJLinkMaxLamps;
        for (int l = 0; l < PJLinkMaxLamps; ++l)
            info.PJLink.Lamps[std::size_t(l)] = {1000 + p + l, true};
    }
    state.Polling.LastPassSeconds = 8111 / 1000.0;
    state.Polling.LastPassEnd = QDateTime::currentDateTime();
}

quint16 freeUdpPort() {
    QUdpSocket probe;
    return probe.bind(QHostAddress::LocalHost, 0) ? probe.localPort() : 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("PJLink notification flood and metrics of 256 projectors");
    parser.addHelpOption();
    const QCommandLineOption datagrams("datagrams", "Datagrams the one projector floods with.", "n",
                                       "20000");
    const QCommandLineOption seconds("seconds", "Seconds the flood is spread over.", "s", "5");
    parser.addOptions({datagrams, seconds});
    parser.process(app);
    const int total = std::max(1, parser.value(datagrams).toInt());
    const int spread = std::max(1, parser.value(seconds).toInt());

    AppState state;
    buildFleet(state);
    ReplyInterpreter interpreter(state);
    PJLinkNotifications listener(state, [&](int p, const QByteArray& line) {
        return interpreter.ApplyPJLinkNotification(p, line);
    });
    const quint16 port = freeUdpPort();
    QString error;
    if (port == 0 || !listener.listen(port, &error)) {
        std::fprintf(stderr, "cannot listen: %s\n", qPrintable(error));
        return 1;
    }
    std::vector<std::unique_ptr<QUdpSocket>> senders;
    for (int p = 1; p <= MaxProjectors; ++p) {
        auto socket = std::make_unique<QUdpSocket>();
        if (!socket->bind(addressOf(p), 0)) {
            std::fprintf(stderr, "cannot bind to %s\n", qPrintable(addressOf(p).toString()));
            return 1;
        }
        senders.push_back(std::move(socket));
    }

    StallMeter stalls;
    stalls.start();
    QElapsedTimer clock;
    clock.start();
    const int ticks = spread * 100;
    int sent = 0;
    for (int tick = 0; tick < ticks; ++tick) {
        const int due = int(qint64(total) * (tick + 1) / ticks);
        for (; sent < due; ++sent)
            senders[0]->writeDatagram("%2ERST=000000\r", QHostAddress::LocalHost, port);
        if (tick % 100 == 0) {
            for (int p = 1; p < MaxProjectors; ++p)
                senders[std::size_t(p)]->writeDatagram("%2POWR=1\r", QHostAddress::LocalHost, port);
        }
        Pause(std::chrono::milliseconds(10));
    }
    Pause(std::chrono::milliseconds(500));
    const RunCounters& c = state.Counters;
    std::printf("flood: %d datagrams from one projector over %d s, %d others at 1/s\n", sent,
                spread, MaxProjectors - 1);
    std::printf("  applied %llu, limited %llu, ignored %llu (lost by the socket: %lld)\n",
                static_cast<unsigned long long>(c.PJLinkNotificationsApplied),
                static_cast<unsigned long long>(c.PJLinkNotificationsLimited),
                static_cast<unsigned long long>(c.PJLinkNotificationsIgnored),
                static_cast<long long>(sent + qint64(MaxProjectors - 1) * spread) -
                    static_cast<long long>(c.PJLinkNotificationsApplied +
                                           c.PJLinkNotificationsLimited +
                                           c.PJLinkNotificationsIgnored));
    std::printf("  longest event-loop stall %.1f ms, wall %.1f s\n", stalls.longestMs(),
                double(clock.elapsed()) / 1000.0);

    const RefusalCounts refusals{};
    constexpr int Runs = 50;
    std::size_t bytes = 0;
    QElapsedTimer metrics;
    metrics.start();
    for (int i = 0; i < Runs; ++i)
        bytes = MetricsText(state, refusals, false).size();
    std::printf("metrics: %zu bytes for %d projectors, %.2f ms an answer (mean of %d)\n", bytes,
                MaxProjectors, double(metrics.nsecsElapsed()) / 1e6 / Runs, Runs);
    // What a scraper that accepts gzip gets, and what compressing costs.
    const QByteArray text = QByteArray::fromStdString(MetricsText(state, refusals, false));
    qsizetype packed = 0;
    QElapsedTimer gzip;
    gzip.start();
    for (int i = 0; i < Runs; ++i)
        packed = GzipCompressed(text).value_or(QByteArray()).size();
    std::printf("gzip: %lld bytes, %.2f ms to compress (mean of %d)\n", qlonglong(packed),
                double(gzip.nsecsElapsed()) / 1e6 / Runs, Runs);
    return 0;
}
