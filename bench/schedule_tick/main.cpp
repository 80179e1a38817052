// Time of the schedule runner's minute tick with 256 projectors in 16 groups
// and a realistic schedule file (about 24 KB: one section per node, a few
// entries each). "cached" runs the runner as it is; "reread" does what a
// runner without the file cache would do: read and parse the file again for
// every node of the plan each minute. Prints the median and the range over
// the minutes of one day. "restart" times the first minute after the program
// was down from 12:00 to 22:00: every entry in between is recorded as
// missed or caught up, and the record of runs written once.

#include "comm/CommandQueue.h"
#include "core/AppState.h"
#include "core/Fleet.h"
#include "schedule/ScheduleFiles.h"
#include "schedule/ScheduleRunner.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int Groups = 16;
constexpr int PerGroup = 16;

void buildFleet(AppState& state) {
    for (int g = 1; g <= Groups; ++g) {
        const int group = AddGroupNode(state, QStringLiteral("Floor %1").arg(g), nullptr);
        for (int k = 1; k <= PerGroup; ++k) {
            ProjectorInfo config;
            config.ProjectorName =
                QStringLiteral("Room %1-%2").arg(g).arg(k, 2, 10, QLatin1Char('0'));
            config.ConnectionKind = ConnectionLan;
            config.IPAddress = QStringLiteral("127.0.0.1");
            config.PortNo = DefaultPortNo;
            AddProjectorNode(state, group, config, nullptr);
        }
    }
}

// One section per node with four or five entries: about 24 KB for 272 nodes.
QByteArray scheduleFile(const AppState& state) {
    QByteArray file;
    for (int n = 1; n <= NodeCount(state); ++n) {
        const TreeNode& node = Node(state, n);
        if (node.Text.isEmpty() || node.KeyName.startsWith(QLatin1Char('r')))
            continue;
        file += "[" + node.Text.toUtf8() + "]\r\n";
        file += QStringLiteral("%1:%2=Power ON\r\n")
                    .arg(7 + n % 2, 2, 10, QLatin1Char('0'))
                    .arg(n % 60, 2, 10, QLatin1Char('0'))
                    .toUtf8();
        file +=
            QStringLiteral("12:%1=Input HDMI\r\n").arg(n % 60, 2, 10, QLatin1Char('0')).toUtf8();
        file += QStringLiteral("18:%1=Power OFF\r\n").arg(n % 60, 2, 10, QLatin1Char('0')).toUtf8();
        file += "20:00=Power OFF\r\n";
        if (n % 2 == 0)
            file += "22:30=Power OFF\r\n";
    }
    return file;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("Times the schedule runner's minute tick.");
    parser.addHelpOption();
    parser.addPositionalArgument("mode", "cached (the runner), reread (parse per node) or restart");
    parser.process(app);
    const QString mode = parser.positionalArguments().value(0, QStringLiteral("cached"));
    if (mode != QLatin1String("cached") && mode != QLatin1String("reread") &&
        mode != QLatin1String("restart")) {
        std::fprintf(stderr, "mode must be cached, reread or restart\n");
        return 2;
    }

    QTemporaryDir home;
    // The settings (none: the default catch-up) and the record of runs.
    qputenv("NORVIK3_HOME", home.path().toUtf8());
    AppState state;
    state.ProgramFolder = home.path();
    buildFleet(state);
    QDir().mkpath(ScheduleFolder(state));
    const QByteArray text = scheduleFile(state);
    QFile file(ScheduleFilePath(state, QStringLiteral("default")));
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()) {
        std::fprintf(stderr, "cannot write the schedule file\n");
        return 1;
    }
    file.close();

    const QDate day(2024, 3, 15);
    state.clock.set(QDateTime(day, QTime(0, 0, 30)));
    auto runner = std::make_unique<ScheduleRunner>(state);
    runner->tick(); // builds the plan
    std::vector<double> ticks;
    const QTime start(6, 0);
    const int minutes = 18 * 60;
    for (int m = 0; m < minutes; ++m) {
        const QTime minute = start.addSecs(m * 60);
        state.clock.set(QDateTime(day, minute));
        QElapsedTimer timer;
        timer.start();
        if (mode != QLatin1String("reread")) {
            runner->tick();
        } else {
            for (const SchedulePlanEntry& entry : runner->SchedulePlan())
                ScheduleCommandAt(state, entry.FileBase, entry.Section, minute);
        }
        ticks.push_back(double(timer.nsecsElapsed()) / 1e6);
        for (int p = 1; p <= state.ProjectorCount; ++p)
            ResetProjectorQueue(state, p);
    }
    const int planCount = runner->SchedulePlanCount();
    const int parses = runner->scheduleFiles().parseCount();
    if (mode == QLatin1String("restart")) {
        runner.reset(); // its record written
        {
            ScheduleRunner first(state);
            state.clock.set(QDateTime(day.addDays(1), QTime(0, 0, 30)));
            first.tick();
            state.clock.set(QDateTime(day.addDays(1), QTime(12, 0)));
            first.ScheduleStart();
            first.tick();
            first.stopAtProgramEnd();
        }
        int missed = 0;
        double ms = 0;
        {
            ScheduleRunner second(state);
            second.setActionObserver([&](const ScheduleActionReport& r) { missed += r.Missed; });
            state.clock.set(QDateTime(day.addDays(1), QTime(22, 0)));
            second.ScheduleStart();
            second.tick(); // builds the plan
            QElapsedTimer timer;
            timer.start();
            second.tick();
            ms = double(timer.nsecsElapsed()) / 1e6;
            second.stopAtProgramEnd();
        }
        std::printf("schedule_tick restart: %d plan entries, down 12:00 to 22:00: first minute "
                    "%.3f ms, %d entries recorded as missed, record %lld bytes\n",
                    planCount, ms, missed,
                    static_cast<long long>(QFileInfo(home.filePath("ScheduleRuns.json")).size()));
        return 0;
    }
    std::sort(ticks.begin(), ticks.end());
    std::printf("schedule_tick %s: %d projectors, %d plan entries, file %lld bytes, %d minutes\n",
                qPrintable(mode), int(state.ProjectorCount), planCount,
                static_cast<long long>(text.size()), minutes);
    std::printf("per-minute tick: median %.3f ms, min %.3f ms, max %.3f ms; file parses %d\n",
                ticks[ticks.size() / 2], ticks.front(), ticks.back(), parses);
    return 0;
}
