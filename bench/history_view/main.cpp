// history_view [FILE]: the History tab's first page on a file of a million
// events (made in a temporary folder unless FILE, made by an earlier run
// with --keep, is given), then the export of every event and a projector's
// chart, each with the longest stall of the window's event loop. Run with
// QT_QPA_PLATFORM=offscreen.
//   history_view --keep FILE   makes FILE and measures on it

#include "HistoryRows.h"

#include "ui/HistoryModel.h"
#include "ui/HistoryPanel.h"
#include "ui/HistoryReader.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr int Runs = 15;

struct Figures {
    double median = 0;
    double worst = 0;
};

Figures Measure(const std::function<void()>& step) {
    std::vector<double> ms;
    for (int run = 0; run < Runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        step();
        ms.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back()};
}

void Print(const char* what, const Figures& figures, int rows) {
    std::printf("%-44s median %7.2f ms  worst %7.2f ms  (%d rows)\n", what, figures.median,
                figures.worst, rows);
}

// The longest the event loop went without turning (a 1 ms timer's largest
// gap) from step() until busy() is false.
double StallWhile(const std::function<void()>& step, const std::function<bool()>& busy) {
    double stallMs = 0;
    QElapsedTimer gap;
    gap.start();
    QTimer tick;
    tick.setInterval(1ms);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        stallMs = std::max(stallMs, double(gap.nsecsElapsed()) / 1e6);
        gap.restart();
    });
    tick.start();
    step();
    while (busy())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return stallMs;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    QTemporaryDir temp;
    const bool keep = args.value(0) == QStringLiteral("--keep");
    const QString given = keep ? args.value(1) : args.value(0);
    const QString path = given.isEmpty() ? temp.path() + QStringLiteral("/History.sqlite") : given;
    const HistoryRows rows(1'000'000, QDateTime::currentMSecsSinceEpoch() - 60'000, {});
    if (given.isEmpty() || keep) {
        QElapsedTimer built;
        built.start();
        const QString problem = rows.build(path);
        if (!problem.isEmpty()) {
            std::fprintf(stderr, "history_view: %s\n", qPrintable(problem));
            return 1;
        }
        std::printf("1,000,000 events written in %.1f s, file %.1f MiB\n",
                    double(built.elapsed()) / 1000, double(QFileInfo(path).size()) / (1024 * 1024));
    }

    HistoryReader reader(path);
    HistoryModel model;
    const QDate day = QDateTime::fromMSecsSinceEpoch(rows.newestMs).date().addDays(-30);
    struct Case {
        const char* name;
        EventFilter filter;
    };
    std::vector<Case> cases = {
        {"every event", {}},
        {"kind: commands", {{EventKind::Command}, {}, {}, {}, {}}},
        {"kind: state changes", {KindsOf(HistoryKindChoice::StateChanges), {}, {}, {}, {}}},
        {"a projector", {{}, {rows.ids[0]}, {}, {}, {}}},
        {"a group of 8 projectors", {{}, rows.ids.mid(0, 8), {}, {}, {}}},
        {"a projector's errors", {{EventKind::Error}, {rows.ids[0]}, {}, {}, {}}},
        {"one day, 30 days ago",
         {{},
          {},
          day.startOfDay().toMSecsSinceEpoch(),
          day.addDays(1).startOfDay().toMSecsSinceEpoch(),
          {}}},
        {"search: a projector's name", {{}, {}, {}, {}, QStringLiteral("R017")}},
        {"search: commands \"power off\"",
         {{EventKind::Command}, {}, {}, {}, QStringLiteral("power off")}},
        {"search: a text found nowhere", {{}, {}, {}, {}, QStringLiteral("no such text")}},
    };
    // The answer's wait and, beside it, the longest the event loop went
    // without turning while the page was read (a 1 ms timer's largest gap).
    const auto waitRead = [&](const std::function<void()>& step, double& stallMs) {
        stallMs = std::max(stallMs, StallWhile(step, [&] { return model.isReading(); }));
    };
    model.setReader(&reader);
    for (const Case& c : cases) {
        double stall = 0;
        const Figures figures =
            Measure([&] { waitRead([&] { model.setFilter(c.filter); }, stall); });
        Print(c.name, figures, model.rowCount());
        std::printf("%-44s longest event-loop stall %7.2f ms\n", "", stall);
    }
    model.setFilter({});
    double stall = 0;
    waitRead([] {}, stall);
    const Figures next = Measure([&] { waitRead([&] { model.fetchMore({}); }, stall); });
    Print("next page (fetchMore)", next, HistoryModel::PageSize);

    // As the tab shows it: the table laid out and painted.
    HistoryPanel panel(path);
    panel.resize(1000, 700);
    panel.show();
    panel.setActive(true);
    int flip = 0;
    const Figures shown = Measure([&] {
        HistoryScope scope;
        scope.everything = (++flip % 2) == 0;
        scope.projectorIds = rows.ids.mid(0, 8);
        panel.setScope(scope);
        while (panel.model()->isReading())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        panel.table()->viewport()->repaint();
    });
    Print("tab: scope changed, table painted", shown, panel.model()->rowCount());

    // The whole file exported, and a projector's hours charted, while the
    // window's event loop keeps turning.
    bool exporting = true;
    QObject::connect(&panel, &HistoryPanel::exportFinished, [&] { exporting = false; });
    panel.setScope({});
    QElapsedTimer exportTime;
    exportTime.start();
    const double exportStall =
        StallWhile([&] { panel.exportTo(temp.path() + QStringLiteral("/History.csv")); },
                   [&] { return exporting; });
    std::printf("%-44s %7.2f s       longest event-loop stall %7.2f ms\n", "export: every event",
                double(exportTime.elapsed()) / 1000, exportStall);
    bool charting = true;
    QObject::connect(&panel, &HistoryPanel::chartShown, [&] { charting = false; });
    HistoryScope projector;
    projector.everything = false;
    projector.projectorIds = {rows.ids[0]};
    projector.chartProjectorId = rows.ids[0];
    const double chartStall =
        StallWhile([&] { panel.setScope(projector); }, [&] { return charting; });
    std::printf("%-44s longest event-loop stall %7.2f ms\n", "chart: a projector's hours",
                chartStall);
    return 0;
}
