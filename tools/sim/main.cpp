#include "ControlChannel.h"
#include "ControlCommands.h"
#include "Fleet.h"
#include "PJLinkEndpoint.h"
#include "PtyEndpoint.h"
#include "SearchResponder.h"
#include "TcpEndpoint.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>

#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/resource.h>
#include <vector>

namespace {

struct Options {
    int tcp = 0;
    int pty = 0;
    int basePort = 0;
    std::optional<int> controlPort;
    bool exitOnEof = false;
    QHostAddress address{QHostAddress::LocalHost};
    bool addressEach = false;
    int pjlinkPort = 4352;
    std::optional<int> searchPort;
    sim::FleetSettings fleet;
};

// A closed standard descriptor would be reused by the first socket or pty
// opened, and control lines would then be read from or written to a projector.
void guardStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0)
            ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    }
}

// Hundreds of projectors need more descriptors than the usual soft limit.
void raiseFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

std::optional<Options> parseOptions(const QCoreApplication& app) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulates projectors that speak the binary 13-byte frame protocol, and\n"
                       "PJLink projectors. Prints 'TCP <id> <address> <port>', 'PTY <id> <path>'\n"
                       "or 'PJLINK <id> <address> <port>' per projector (TCP ids first, then pty,\n"
                       "then PJLink), 'SEARCH <port>' with --search-port, 'CONTROL 127.0.0.1 "
                       "<port>'\nwith --control-port, then 'READY'.\n\n") +
        sim::ControlCommands::usage());
    parser.addHelpOption();
    const QCommandLineOption tcp("tcp", "Number of projectors on TCP ports of 127.0.0.1.", "N",
                                 "0");
    const QCommandLineOption pty("pty", "Number of projectors on pseudo-terminals.", "M", "0");
    const QCommandLineOption pjlink(
        "pjlink", "Number of PJLink projectors on TCP ports of 127.0.0.1.", "K", "0");
    const QCommandLineOption pjlinkClass("pjlink-class", "PJLink class of every PJLink projector.",
                                         "1|2", "1");
    const QCommandLineOption pjlinkPassword(
        "pjlink-password", "Password of every PJLink projector (default: none).", "PW");
    const QCommandLineOption basePort("base-port",
                                      "First TCP port; the next ones follow, the PJLink ones after "
                                      "the others (default: any free ports).",
                                      "P", "0");
    const QCommandLineOption controlPort(
        "control-port", "Also take control lines on this TCP port of 127.0.0.1 (0: any free port).",
        "C");
    const QCommandLineOption coolDown("cooldown-ms", "Cool-down duration after power off.", "ms",
                                      "3000");
    const QCommandLineOption warmUp(
        "warmup-ms", "Warm-up duration of PJLink projectors after power on.", "ms", "3000");
    const QCommandLineOption hour("hour-ms", "Length of one lamp and filter hour.", "ms", "60000");
    const QCommandLineOption lamp("lamp", "Lamp hours at start.", "hours", "1200");
    const QCommandLineOption filter("filter", "Filter hours at start.", "hours", "300");
    const QCommandLineOption exitOnEof("exit-on-eof", "Exit when stdin reaches its end.");
    const QCommandLineOption address(
        "address", "The IPv4 address the projectors listen on (default 127.0.0.1).", "A");
    const QCommandLineOption addressEach(
        "address-each",
        "Every TCP and PJLink projector on an address of its own, counting up from --address: "
        "the TCP ones all on --base-port, the PJLink ones all on --pjlink-port.");
    const QCommandLineOption pjlinkPort(
        "pjlink-port", "The port of every PJLink projector with --address-each.", "P", "4352");
    const QCommandLineOption searchPort(
        "search-port",
        "Answer PJLink searches (%2SRCH) on this UDP port for the class 2 projectors.", "P");
    parser.addOptions({tcp, pty, pjlink, pjlinkClass, pjlinkPassword, basePort, controlPort,
                       coolDown, warmUp, hour, lamp, filter, exitOnEof, address, addressEach,
                       pjlinkPort, searchPort});
    parser.process(app);

    const auto number = [&](const QCommandLineOption& option, int min,
                            int max) -> std::optional<int> {
        bool ok = false;
        const int value = parser.value(option).toInt(&ok);
        if (ok && value >= min && value <= max)
            return value;
        std::fprintf(stderr, "norvik3-sim: --%s must be a number from %d to %d\n",
                     qPrintable(option.names().first()), min, max);
        return std::nullopt;
    };
    Options options;
    const auto tcpCount = number(tcp, 0, 4096);
    const auto ptyCount = number(pty, 0, 4096);
    const auto base = number(basePort, 0, 65535);
    const auto pjlinkCount = number(pjlink, 0, 4096);
    const auto pjClass = number(pjlinkClass, 1, 2);
    const auto coolMs = number(coolDown, 0, 24 * 3600 * 1000);
    const auto warmMs = number(warmUp, 0, 24 * 3600 * 1000);
    const auto hourMs = number(hour, 1, 24 * 3600 * 1000);
    const auto lampHours = number(lamp, 0, 65535);
    const auto filterHours = number(filter, 0, 65535);
    if (!tcpCount || !ptyCount || !pjlinkCount || !pjClass || !base || !coolMs || !warmMs ||
        !hourMs || !lampHours || !filterHours)
        return std::nullopt;
    if (parser.isSet(address)) {
        options.address = QHostAddress(parser.value(address));
        if (options.address.protocol() != QAbstractSocket::IPv4Protocol ||
            parser.value(address).count(QLatin1Char('.')) != 3) {
            std::fprintf(stderr, "norvik3-sim: --address must be an IPv4 address\n");
            return std::nullopt;
        }
    }
    options.addressEach = parser.isSet(addressEach);
    const auto pjPort = number(pjlinkPort, 1, 65535);
    if (!pjPort)
        return std::nullopt;
    options.pjlinkPort = *pjPort;
    if (parser.isSet(searchPort)) {
        options.searchPort = number(searchPort, 0, 65535);
        if (!options.searchPort)
            return std::nullopt;
    }
    if (parser.isSet(controlPort)) {
        options.controlPort = number(controlPort, 0, 65535);
        if (!options.controlPort)
            return std::nullopt;
    }
    if (!parser.isSet(addressEach) && *base > 0 && *base + *tcpCount + *pjlinkCount - 1 > 65535) {
        std::fprintf(stderr, "norvik3-sim: --base-port leaves no room for %d ports\n",
                     *tcpCount + *pjlinkCount);
        return std::nullopt;
    }
    options.tcp = *tcpCount;
    options.pty = *ptyCount;
    options.basePort = *base;
    options.exitOnEof = parser.isSet(exitOnEof);
    options.fleet = {std::chrono::milliseconds(*coolMs),
                     std::chrono::milliseconds(*hourMs),
                     *lampHours,
                     *filterHours,
                     *pjlinkCount,
                     *pjClass,
                     parser.value(pjlinkPassword).toUtf8(),
                     std::chrono::milliseconds(*warmMs)};
    return options;
}

// The address of the n-th network projector (from 0): the same for all, or
// one each counting up.
QHostAddress addressOf(const Options& options, int n) {
    if (!options.addressEach)
        return options.address;
    return QHostAddress(options.address.toIPv4Address() + quint32(n));
}

} // namespace

int main(int argc, char* argv[]) {
    guardStandardDescriptors();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("norvik3-sim"));
    const std::optional<Options> options = parseOptions(app);
    if (!options)
        return 2;
    raiseFileLimit();

    sim::Fleet fleet(options->tcp + options->pty, options->fleet);
    sim::ControlCommands commands(fleet);
    sim::ControlChannel control(commands);
    QObject::connect(&commands, &sim::ControlCommands::quitRequested, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);

    QString error;
    std::vector<std::unique_ptr<sim::TcpEndpoint>> tcpEndpoints;
    std::vector<std::unique_ptr<sim::PtyEndpoint>> ptyEndpoints;
    std::vector<std::unique_ptr<sim::PJLinkEndpoint>> pjlinkEndpoints;
    QStringList lines;
    QList<QHostAddress> pjlinkAddresses;
    for (int id = 1; id <= options->tcp; ++id) {
        auto endpoint = std::make_unique<sim::TcpEndpoint>(*fleet.projector(id));
        const QHostAddress address = addressOf(*options, id - 1);
        const quint16 port = options->addressEach || options->basePort == 0
                                 ? quint16(options->basePort)
                                 : quint16(options->basePort + id - 1);
        if (!endpoint->listen(address, port, &error)) {
            std::fprintf(stderr, "norvik3-sim: %s\n", qPrintable(error));
            return 1;
        }
        lines
            << QStringLiteral("TCP %1 %2 %3").arg(id).arg(address.toString()).arg(endpoint->port());
        tcpEndpoints.push_back(std::move(endpoint));
    }
    for (int id = options->tcp + 1; id <= fleet.count(); ++id) {
        auto endpoint = std::make_unique<sim::PtyEndpoint>(*fleet.projector(id));
        if (!endpoint->open(&error)) {
            std::fprintf(stderr, "norvik3-sim: %s\n", qPrintable(error));
            return 1;
        }
        lines << QStringLiteral("PTY %1 %2").arg(id).arg(endpoint->slavePath());
        ptyEndpoints.push_back(std::move(endpoint));
    }
    for (int k = 0; k < fleet.pjlinkCount(); ++k) {
        const int id = fleet.firstPJLinkId() + k;
        auto endpoint = std::make_unique<sim::PJLinkEndpoint>(*fleet.pjlink(id));
        const QHostAddress address = addressOf(*options, options->tcp + k);
        const quint16 port = options->addressEach    ? quint16(options->pjlinkPort)
                             : options->basePort > 0 ? quint16(options->basePort + options->tcp + k)
                                                     : 0;
        if (!endpoint->listen(address, port, &error)) {
            std::fprintf(stderr, "norvik3-sim: %s\n", qPrintable(error));
            return 1;
        }
        lines << QStringLiteral("PJLINK %1 %2 %3")
                     .arg(id)
                     .arg(address.toString())
                     .arg(endpoint->port());
        pjlinkAddresses << address;
        pjlinkEndpoints.push_back(std::move(endpoint));
    }
    std::unique_ptr<sim::SearchResponder> search;
    if (options->searchPort) {
        search = std::make_unique<sim::SearchResponder>(fleet, pjlinkAddresses);
        if (!search->listen(quint16(*options->searchPort), &error)) {
            std::fprintf(stderr, "norvik3-sim: %s\n", qPrintable(error));
            return 1;
        }
        lines << QStringLiteral("SEARCH %1").arg(search->port());
    }
    if (options->controlPort) {
        if (!control.listen(quint16(*options->controlPort), &error)) {
            std::fprintf(stderr, "norvik3-sim: %s\n", qPrintable(error));
            return 1;
        }
        lines << QStringLiteral("CONTROL 127.0.0.1 %1").arg(control.port());
    }
    lines << QStringLiteral("READY");
    for (const QString& line : lines)
        sim::ControlChannel::printLine(line);

    if (options->exitOnEof)
        QObject::connect(&control, &sim::ControlChannel::stdinClosed, &app,
                         &QCoreApplication::quit);
    control.readStdin();
    return app.exec();
}
