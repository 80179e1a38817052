// Clients trickling their request heads from many addresses (96 from 12 by
// default, 8 each) against the endpoint of a polled fleet, while a
// well-behaved client asks for /metrics once a second on a new connection:
// how many of its requests are answered and how fast, and the polling pace
// and longest event-loop stall beside them. The clients run as a second
// process (--client), so they do not share the endpoint's event loop. With
// --remote they run on another host: the endpoint listens on 192.0.2.1 in
// one network namespace, the clients come from 192.0.2.10 on (and the
// well-behaved one from 192.0.2.250) in another (needs root).
// --max-connections sets the endpoint's limit, to compare.
//
//   build/bench/slow_clients/slow_clients [--slow 800 --addresses 100] [--remote]

#include "BenchKit.h"

#include "platform/OpenFiles.h"
#include "status/StatusServer.h"
#include "support/NetworkPair.h"
#include "support/SlowClients.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QProcess>

#include <cstdio>

using namespace std::chrono_literals;

namespace {

// Where the clients come from and what they reach.
struct Addresses {
    QHostAddress server;
    QHostAddress firstSlow;
    QHostAddress probe;
};

const Addresses Local{QHostAddress::LocalHost, QHostAddress(QStringLiteral("127.0.1.1")),
                      QHostAddress(QStringLiteral("127.0.9.1"))};
const Addresses Remote{QHostAddress(NetworkPair::ProgramAddress),
                       QHostAddress(QStringLiteral("192.0.2.10")),
                       QHostAddress(QStringLiteral("192.0.2.250"))};

int RunClient(const Addresses& at, quint16 port, int slow, int addresses, int seconds) {
    SlowClients clients(
        {at.server, port, SlowClients::Sources(at.firstSlow, addresses), at.probe, 10s});
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&clients] {
        if (clients.done())
            QCoreApplication::quit();
    });
    check.start(100ms);
    clients.start(slow, seconds);
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
    const QCommandLineOption slowOption =
        NumberOption({QStringLiteral("slow")}, QStringLiteral("Slow clients"), 96);
    const QCommandLineOption addressesOption =
        NumberOption({QStringLiteral("addresses")}, QStringLiteral("Their addresses"), 12);
    const QCommandLineOption secondsOption = NumberOption(
        {QStringLiteral("seconds")}, QStringLiteral("Well-behaved requests, one a second"), 60);
    const QCommandLineOption projectorsOption =
        NumberOption({QStringLiteral("projectors")}, QStringLiteral("Projectors polled"), 64);
    const QCommandLineOption maxOption(
        QStringLiteral("max-connections"),
        QStringLiteral("The endpoint's connection limit (default the program's)."),
        QStringLiteral("n"));
    const QCommandLineOption remoteOption(
        QStringLiteral("remote"),
        QStringLiteral("The clients on another host: a network namespace pair (needs root)."));
    const QCommandLineOption clientOption(
        QStringLiteral("client"), QStringLiteral("Be the clients of the endpoint on this port."),
        QStringLiteral("port"));
    parser.addOptions({slowOption, addressesOption, secondsOption, projectorsOption, maxOption,
                       remoteOption, clientOption});
    parser.process(app);
    const bool remote = parser.isSet(remoteOption);
    const Addresses& at = remote ? Remote : Local;
    const int slow = NumberValue(parser, slowOption, 0, 4000);
    // On the remote side the addresses must stay below the well-behaved one's.
    const int addresses = NumberValue(parser, addressesOption, 1, remote ? 200 : 2000);
    const int seconds = NumberValue(parser, secondsOption, 1);
    if (parser.isSet(clientOption))
        return RunClient(at, quint16(parser.value(clientOption).toUInt()), slow, addresses,
                         seconds);

    std::optional<NetworkPair> pair;
    if (remote) {
        QStringList sides;
        for (const QHostAddress& source : SlowClients::Sources(at.firstSlow, addresses))
            sides << source.toString();
        sides << at.probe.toString();
        pair.emplace(sides);
        // The endpoint, the fleet and its simulator on the program's side.
        if (!pair->isReady() || !pair->enter(NetworkPair::Side::Program))
            return Failed("slow_clients", pair->error());
    }
    BenchFleet fleet(NumberValue(parser, projectorsOption, 1, MaxProjectors), 16);
    if (!fleet.problem().isEmpty())
        return Failed("slow_clients", fleet.problem());
    EndpointLimits limits;
    if (parser.isSet(maxOption))
        limits.maxConnections = NumberValue(parser, maxOption, 1);
    StatusServer server(fleet.state(), StatusEndpointSettings{at.server.toString(), 0, {}}, limits);
    if (!server.start())
        return Failed("slow_clients", server.problem());
    if (!RunPass(fleet.core().engine(), fleet.state(), 120s))
        return Failed("slow_clients", QStringLiteral("the first pass did not end"));
    QProcess client;
    // A child process lives in the namespace of the thread that starts it.
    if (pair)
        pair->enter(NetworkPair::Side::Projectors);
    QStringList arguments{QStringLiteral("--client"),    QString::number(server.port()),
                          QStringLiteral("--slow"),      QString::number(slow),
                          QStringLiteral("--addresses"), QString::number(addresses),
                          QStringLiteral("--seconds"),   QString::number(seconds)};
    if (remote)
        arguments << QStringLiteral("--remote");
    StartSelf(client, arguments);
    if (pair)
        pair->enter(NetworkPair::Side::Program);
    const Pace pace =
        PollWhile(fleet, [&client](qint64) { return client.state() != QProcess::NotRunning; });
    while (client.state() != QProcess::NotRunning)
        Pause(100ms);
    std::printf("endpoint on %s: limit %d connections, %d per address, open-files limit %llu\n",
                qPrintable(at.server.toString()), limits.maxConnections, limits.perAddress,
                static_cast<unsigned long long>(CurrentOpenFilesLimit().soft));
    std::printf("%s", client.readAllStandardOutput().constData());
    std::printf("polling beside them: %d passes in %.1f s, longest event-loop stall %.1f ms\n",
                pace.passes(), pace.seconds, pace.longestStallMs);
    return client.exitStatus() == QProcess::NormalExit && client.exitCode() == 0 ? 0 : 1;
}
