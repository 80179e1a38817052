#include "discovery/DiscoverCommand.h"

#include "core/AppState.h"
#include "core/CsvText.h"
#include "core/FieldChecks.h"
#include "core/Fleet.h"
#include "core/FleetCopy.h"
#include "discovery/Discovery.h"

#include <QCoreApplication>
#include <QSet>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <unistd.h>

namespace {

// The word after `option`, or after `option=`; nothing when absent.
std::optional<QString> optionValue(int argc, char** argv, const char* option, bool* missing) {
    const std::size_t length = std::strlen(option);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], option) == 0) {
            if (i + 1 < argc)
                return QString::fromLocal8Bit(argv[i + 1]);
            *missing = true;
            return QString();
        }
        if (std::strncmp(argv[i], option, length) == 0 && argv[i][length] == '=')
            return QString::fromLocal8Bit(argv[i] + length + 1);
    }
    return std::nullopt;
}

bool knownModel(const AppState& state, const QString& name) {
    for (int m = 1; m <= state.ModelCount && m <= MaxModels; ++m) {
        if (state.Models[m].Name == name)
            return true;
    }
    return false;
}

// The names of the projectors directly under the root, where the rows'
// projectors go: a row with one of them would change that projector.
QSet<QString> rootNames(const AppState& state) {
    QSet<QString> names;
    for (const int node : GroupMembers(state, 1))
        names.insert(Node(state, node).Text);
    return names;
}

QString uniqueName(const QString& base, QSet<QString>& taken) {
    QString name = base;
    for (int n = 2; taken.contains(name); ++n)
        name = QStringLiteral("%1 (%2)").arg(base.left(MaxEntryNameLength - 8)).arg(n);
    taken.insert(name);
    return name;
}

} // namespace

std::optional<int> RunDiscoverCommand(int argc, char** argv, const char* programName) {
    bool missing = false;
    const std::optional<QString> text = optionValue(argc, argv, "--discover", &missing);
    if (!text)
        return std::nullopt;
    const QString model = optionValue(argc, argv, "--model", &missing).value_or(QString());
    if (missing) {
        std::fprintf(stderr,
                     "%s: --discover needs an address range such as 192.0.2.0/24, and --model "
                     "a model of the model file\n",
                     programName);
        return 2;
    }
    const DiscoveryRange range = ParseDiscoveryRange(*text);
    if (!range.error.isEmpty()) {
        std::fprintf(stderr, "%s: %s\n", programName, qPrintable(range.error));
        return 2;
    }
    QCoreApplication app(argc, argv);
    const auto fleet = LoadFleetCopy(QString::fromLocal8Bit(programName));
    if (!fleet)
        return 1;
    if (!model.isEmpty() && !knownModel(*fleet, model)) {
        std::fprintf(stderr, "%s: the model \"%s\" is not in the model file\n", programName,
                     qPrintable(model));
        return 2;
    }
    Discovery discovery(fleet.get());
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
    // A file gets the mark a spreadsheet needs to read UTF-8; a terminal none.
    QByteArray out = ::isatty(STDOUT_FILENO) ? QByteArray() : QByteArray(CsvByteOrderMark);
    out += DiscoveryCsvHeader();
    DiscoveryCounts counts;
    counts.answered = discovery.search().answerCount();
    counts.ignored = discovery.search().ignoredCount();
    counts.probed = discovery.probedCount();
    counts.found = int(finds.size());
    QSet<QString> taken = rootNames(*fleet);
    for (const DiscoveryFind& find : finds) {
        // Left out, so that the file imports as it is: the fleet has them.
        if (find.inFleet) {
            ++counts.inFleet;
            continue;
        }
        out += DiscoveryCsvRow(find, uniqueName(DiscoveryName(find), taken), model);
    }
    std::fwrite(out.constData(), 1, std::size_t(out.size()), stdout);
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", programName, qPrintable(DiscoverySummary(counts)));
    return 0;
}
