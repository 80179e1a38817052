// Clients trickling their request heads from many loopback addresses (96
// from 12 by default, 8 each) against the endpoint of a polled fleet, while
// a well-behaved client asks for /metrics once a second on a new
// connection: how many of its requests are answered and how fast, and the
// polling pace and longest event-loop stall beside them. The clients run
// as a second process (--client), so they do not share the endpoint's
// event loop. --max-connections sets the endpoint's limit, to compare.

#include "BenchKit.h"
#include "SlowClients.h"

#include "platform/OpenFiles.h"
#include "status/StatusServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QProcess>

#include <cstdio>

using namespace std::chrono_literals;

namespace {

int RunClient(quint16 port, int slow, int addresses, int seconds) {
    SlowClients clients(port, slow, addresses, seconds);
    QObject::connect(&clients, &SlowClients::finished, qApp, &QCoreApplication::quit);
    clients.start();
    QCoreApplication::exec();
    std::printf("%s", qPrintable(clients.report()));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    RaiseOpenFilesLimit();
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Slow clients from many addresses beside a well-behaved one."));
    parser.addHelpOption();
    const QCommandLineOption slowOption(QStringLiteral("slow"),
                                        QStringLiteral("Slow clients (default 96)."),
                                        QStringLiteral("n"), QStringLiteral("96"));
    const QCommandLineOption addressesOption(QStringLiteral("addresses"),
                                             QStringLiteral("Their addresses (default 12)."),
                                             QStringLiteral("n"), QStringLiteral("12"));
    const QCommandLineOption secondsOption(
        QStringLiteral("seconds"),
        QStringLiteral("Well-behaved requests, one a second (default 60)."), QStringLiteral("s"),
        QStringLiteral("60"));
    const QCommandLineOption projectorsOption(QStringLiteral("projectors"),
                                              QStringLiteral("Projectors polled (default 64)."),
                                              QStringLiteral("n"), QStringLiteral("64"));
    const QCommandLineOption maxOption(
        QStringLiteral("max-connections"),
        QStringLiteral("The endpoint's connection limit (default the program's)."),
        QStringLiteral("n"));
    const QCommandLineOption clientOption(
        QStringLiteral("client"), QStringLiteral("Be the clients of the endpoint on this port."),
        QStringLiteral("port"));
    parser.addOptions(
        {slowOption, addressesOption, secondsOption, projectorsOption, maxOption, clientOption});
    parser.process(app);
    const int slow = std::clamp(parser.value(slowOption).toInt(), 0, 4000);
    const int addresses = std::clamp(parser.value(addressesOption).toInt(), 1, 2000);
    const int seconds = std::max(1, parser.value(secondsOption).toInt());
    if (parser.isSet(clientOption))
        return RunClient(quint16(parser.value(clientOption).toUInt()), slow, addresses, seconds);

    BenchFleet fleet(std::clamp(parser.value(projectorsOption).toInt(), 1, MaxProjectors), 16);
    if (!fleet.problem().isEmpty()) {
        std::fprintf(stderr, "slow_clients: %s\n", qPrintable(fleet.problem()));
        return 1;
    }
    EndpointLimits limits;
    if (parser.isSet(maxOption))
        limits.maxConnections = std::max(1, parser.value(maxOption).toInt());
    StatusServer server(fleet.state(), StatusEndpointSettings{QStringLiteral("127.0.0.1"), 0, {}},
                        limits);
    if (!server.start()) {
        std::fprintf(stderr, "slow_clients: %s\n", qPrintable(server.problem()));
        return 1;
    }
    if (!RunPass(fleet.core().engine(), fleet.state(), 120s)) {
        std::fprintf(stderr, "slow_clients: the first pass did not end\n");
        return 1;
    }
    QProcess client;
    client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    client.start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--client"), QString::number(server.port()),
                  QStringLiteral("--slow"), QString::number(slow), QStringLiteral("--addresses"),
                  QString::number(addresses), QStringLiteral("--seconds"),
                  QString::number(seconds)});
    StallMeter meter;
    meter.start();
    int passes = 0;
    QElapsedTimer wall;
    wall.start();
    while (client.state() != QProcess::NotRunning &&
           RunPass(fleet.core().engine(), fleet.state(), 120s))
        ++passes;
    while (client.state() != QProcess::NotRunning)
        Pause(100ms);
    std::printf("endpoint limit %d connections, %d per address, open-files limit %llu\n",
                limits.maxConnections, limits.perAddress,
                static_cast<unsigned long long>(CurrentOpenFilesLimit().soft));
    std::printf("%s", client.readAllStandardOutput().constData());
    std::printf("polling beside them: %d passes in %.1f s, longest event-loop stall %.1f ms\n",
                passes, double(wall.elapsed()) / 1000.0, meter.longestMs());
    return client.exitStatus() == QProcess::NormalExit && client.exitCode() == 0 ? 0 : 1;
}
