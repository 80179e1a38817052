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

// One pass and the longest stall meanwhile.
Pace TimedPass(BenchFleet& fleet) {
    return PollWhile(fleet, [](qint64) { return false; });
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
    const QCommandLineOption count =
        NumberOption({QStringLiteral("n")}, QStringLiteral("Number of projectors"), 256);
    const QCommandLineOption delay =
        NumberOption({QStringLiteral("delay-ms")},
                     QStringLiteral("Every projector answers after this many ms"), 30);
    const QCommandLineOption perGroup =
        NumberOption({QStringLiteral("per-group")}, QStringLiteral("Projectors in each group"), 16);
    parser.addOptions({count, delay, perGroup});
    parser.process(app);
    const int n = NumberValue(parser, count, 1, MaxProjectors);
    const int delayMs = NumberValue(parser, delay, 0);
    const int groupSize = NumberValue(parser, perGroup, 1);

    Pace service;
    {
        BenchFleet fleet(n, groupSize, EventSource::Service);
        if (!fleet.problem().isEmpty())
            return Failed("window_pass", fleet.problem());
        fleet.delayReplies(delayMs);
        service = TimedPass(fleet);
    }
    Pace window;
    {
        BenchFleet fleet(n, groupSize, EventSource::Window);
        if (!fleet.problem().isEmpty())
            return Failed("window_pass", fleet.problem());
        fleet.delayReplies(delayMs);
        MessageService messages;
        messages.setTestMode(true);
        const std::unique_ptr<MainForm> form = OpenWindow(fleet, messages);
        window = TimedPass(fleet);
        fleet.core().engine().setRefreshSink(nullptr);
    }
    if (!service.ended || !window.ended)
        return Failed("window_pass", QStringLiteral("a pass did not end within 120 s"));
    std::printf("projectors            %d (own protocol, LAN, %d ms reply delay)\n", n, delayMs);
    std::printf("service first pass    %lld ms, longest stall %.1f ms\n",
                static_cast<long long>(service.longestMs()), service.longestStallMs);
    std::printf("window first pass     %lld ms, longest stall %.1f ms\n",
                static_cast<long long>(window.longestMs()), window.longestStallMs);
    std::printf("window / service      %.2f\n",
                double(window.longestMs()) / double(std::max<qint64>(1, service.longestMs())));
    return 0;
}
