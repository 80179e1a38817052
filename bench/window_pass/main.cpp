// The first polling pass over N simulated own-protocol LAN projectors that
// answer after --delay-ms, once through the engine alone (as the service
// runs it) and once with the real window offscreen as the engine's refresh
// sink: the root selected, the fleet overview sorted by Status, the History
// tab opened once. Prints both wall times and the longest stall of the
// event loop during each pass.
//
//   build/bench/window_pass/window_pass [-n 256] [--delay-ms 30] [--per-group 16]

#include "BenchKit.h"

#include "comm/CommEngine.h"
#include "core/AppState.h"
#include "core/SettingsStore.h"
#include "ui/MainForm.h"
#include "ui/MessageService.h"
#include "ui/Panels.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTabWidget>
#include <QTreeWidget>

#include <cstdio>
#include <memory>

using namespace std::chrono_literals;

namespace {

struct PassFigures {
    qint64 wallMs = 0; // 0: the pass did not end
    double longestStallMs = 0;
};

void DelayReplies(BenchFleet& fleet, int count, int delayMs) {
    if (delayMs > 0)
        for (int p = 1; p <= count; ++p)
            fleet.sim().command(QStringLiteral("delay %1 %2").arg(p).arg(delayMs));
}

PassFigures TimedPass(BenchFleet& fleet) {
    StallMeter stalls;
    stalls.start();
    const std::optional<std::chrono::milliseconds> taken =
        RunPass(fleet.core().engine(), fleet.state(), 120s);
    return {taken ? qint64(taken->count()) : 0, stalls.longestMs()};
}

// The window as the program opens it, on the fleet's own core.
std::unique_ptr<MainForm> OpenWindow(BenchFleet& fleet, MessageService& messages) {
    ProgramCore& core = fleet.core();
    // The window loads the tree from the settings file.
    core.store().SaveTreeAndProjectors(fleet.state());
    auto form = std::make_unique<MainForm>(fleet.state(), core.store(), core.engine(), messages);
    form->setHistory(core.history());
    form->InitProjectorTree();
    core.engine().setRefreshSink(form.get());
    form->show();
    form->selectNode(1);
    auto* tabs = form->findChild<QTabWidget*>(QStringLiteral("SSTab"));
    tabs->setCurrentIndex(MainForm::TabHistory);
    Pause(300ms);
    tabs->setCurrentIndex(MainForm::TabStatus);
    form->findChild<QTreeWidget*>(QStringLiteral("ListViewFleet"))
        ->sortByColumn(ColumnStatus, Qt::AscendingOrder);
    Pause(300ms);
    return form;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Times the window's first polling pass beside the service's."));
    parser.addHelpOption();
    const QCommandLineOption count(QStringList{QStringLiteral("n")},
                                   QStringLiteral("Number of projectors (1..256)."),
                                   QStringLiteral("N"), QStringLiteral("256"));
    const QCommandLineOption delay(QStringLiteral("delay-ms"),
                                   QStringLiteral("Every projector answers after this many ms."),
                                   QStringLiteral("ms"), QStringLiteral("30"));
    const QCommandLineOption perGroup(QStringLiteral("per-group"),
                                      QStringLiteral("Projectors in each group."),
                                      QStringLiteral("N"), QStringLiteral("16"));
    parser.addOptions({count, delay, perGroup});
    parser.process(app);
    const int n = parser.value(count).toInt();
    const int delayMs = parser.value(delay).toInt();
    const int groupSize = parser.value(perGroup).toInt();
    if (n < 1 || n > MaxProjectors || delayMs < 0 || groupSize < 1) {
        std::fprintf(stderr, "window_pass: -n must be 1..%d, --delay-ms 0 or more\n",
                     MaxProjectors);
        return 2;
    }

    PassFigures service;
    {
        BenchFleet fleet(n, groupSize, EventSource::Service);
        if (!fleet.problem().isEmpty()) {
            std::fprintf(stderr, "window_pass: %s\n", qPrintable(fleet.problem()));
            return 1;
        }
        DelayReplies(fleet, n, delayMs);
        service = TimedPass(fleet);
    }
    PassFigures window;
    {
        BenchFleet fleet(n, groupSize, EventSource::Window);
        if (!fleet.problem().isEmpty()) {
            std::fprintf(stderr, "window_pass: %s\n", qPrintable(fleet.problem()));
            return 1;
        }
        DelayReplies(fleet, n, delayMs);
        MessageService messages;
        messages.setTestMode(true);
        const std::unique_ptr<MainForm> form = OpenWindow(fleet, messages);
        window = TimedPass(fleet);
        fleet.core().engine().setRefreshSink(nullptr);
    }
    if (service.wallMs == 0 || window.wallMs == 0) {
        std::fprintf(stderr, "window_pass: a pass did not end within 120 s\n");
        return 1;
    }
    std::printf("projectors            %d (own protocol, LAN, %d ms reply delay)\n", n, delayMs);
    std::printf("service first pass    %lld ms, longest stall %.1f ms\n",
                static_cast<long long>(service.wallMs), service.longestStallMs);
    std::printf("window first pass     %lld ms, longest stall %.1f ms\n",
                static_cast<long long>(window.wallMs), window.longestStallMs);
    std::printf("window / service      %.2f\n", double(window.wallMs) / double(service.wallMs));
    return 0;
}
