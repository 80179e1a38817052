#include "schedule/SchedulePlan.h"

#include "core/AppState.h"
#include "core/Fleet.h"
#include "schedule/CalendarGeometry.h"
#include "schedule/ScheduleFileCache.h"
#include "schedule/ScheduleFiles.h"
#include "schedule/ScheduleMoment.h"

#include <algorithm>
#include <map>
#include <set>

std::array<std::pair<qint16, QString>, 3> DayFiles(const QDate& day) {
    return {{
        {FileKindDate, DateFileBase(day)},
        {FileKindWeekday, ScheduleFileNames[std::size_t(WeekdayNumber(day))]},
        {FileKindDefault, ScheduleFileNames[0]},
    }};
}

std::vector<SchedulePlanEntry> BuildPlan(const AppState& state, const QDate& day,
                                         ScheduleFileCache& files) {
    const auto names = DayFiles(day);
    std::vector<SchedulePlanEntry> plan;
    const int count = std::min(NodeCount(state), MaxNodes);
    for (int n = 1; n <= count; ++n) {
        const TreeNode& node = Node(state, n);
        if (node.KeyName.startsWith(QLatin1Char('r')) || node.Text.isEmpty())
            continue;
        for (const auto& [kind, base] : names) {
            if (HasScheduleSection(files.file(base), node.Text)) {
                plan.push_back({qint16(n), node.KeyName, node.Text, kind, base});
                break;
            }
        }
    }
    return plan;
}

std::vector<AgendaItem> BuildAgenda(const QDate& day, const std::vector<SchedulePlanEntry>& plan,
                                    ScheduleFileCache& files) {
    std::vector<AgendaItem> agenda;
    for (std::size_t i = 0; i < plan.size(); ++i) {
        const SchedulePlanEntry& entry = plan[i];
        std::set<QTime> seen; // the first entry of a time wins, as a lookup finds it
        for (const QString& line : files.file(entry.FileBase).readSection(entry.Section)) {
            const ScheduleEntry parsed = ParseScheduleEntry(line);
            if (!parsed.isValid() || parsed.command.isEmpty() || !seen.insert(parsed.time).second)
                continue;
            agenda.push_back({0, parsed.time, int(i), parsed.command});
        }
    }
    // Each time's instant once, not once per node.
    std::map<QTime, qint64> dueAt;
    for (AgendaItem& item : agenda) {
        auto [at, added] = dueAt.try_emplace(item.time, 0);
        if (added)
            at->second = FirstMomentAt(day, item.time);
        item.due = at->second;
    }
    std::stable_sort(agenda.begin(), agenda.end(), [](const AgendaItem& a, const AgendaItem& b) {
        return a.due != b.due ? a.due < b.due : a.time < b.time;
    });
    return agenda;
}
