#include "discovery/DiscoverCommand.h"

#include "discovery/Discovery.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// The range after --discover, or after --discover=; nothing when absent.
std::optional<QString> rangeArgument(int argc, char** argv, bool* missing) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--discover") == 0) {
            if (i + 1 < argc)
                return QString::fromLocal8Bit(argv[i + 1]);
            *missing = true;
            return QString();
        }
        if (std::strncmp(argv[i], "--discover=", 11) == 0)
            return QString::fromLocal8Bit(argv[i] + 11);
    }
    return std::nullopt;
}

} // namespace

std::optional<int> RunDiscoverCommand(int argc, char** argv, const char* programName) {
    bool missing = false;
    const std::optional<QString> text = rangeArgument(argc, argv, &missing);
    if (!text)
        return std::nullopt;
    if (missing) {
        std::fprintf(stderr, "%s: --discover needs an address range such as 192.0.2.0/24\n",
                     programName);
        return 2;
    }
    const DiscoveryRange range = ParseDiscoveryRange(*text);
    if (!range.error.isEmpty()) {
        std::fprintf(stderr, "%s: %s\n", programName, qPrintable(range.error));
        return 2;
    }
    QCoreApplication app(argc, argv);
    Discovery discovery(nullptr);
    QObject::connect(&discovery, &Discovery::finished, &app, &QCoreApplication::quit);
    DiscoveryOptions options;
    options.addresses = range.addresses;
    discovery.start(options);
    app.exec();

    for (const QString& problem : discovery.problems())
        std::fprintf(stderr, "%s: %s\n", programName, qPrintable(problem));
    QList<DiscoveryFind> finds = discovery.finds();
    std::sort(finds.begin(), finds.end(), [](const DiscoveryFind& a, const DiscoveryFind& b) {
        const quint32 x = QHostAddress(a.address).toIPv4Address();
        const quint32 y = QHostAddress(b.address).toIPv4Address();
        return x != y ? x < y : a.port < b.port;
    });
    QString out = DiscoveryCsvHeader();
    for (const DiscoveryFind& find : finds)
        out += DiscoveryCsvRow(find);
    std::fputs(out.toUtf8().constData(), stdout);
    std::fflush(stdout);
    return 0;
}
