#include "schedule/DayMarks.h"

#include "core/AppState.h"
#include "schedule/ScheduleFiles.h"

DayMarks ComputeDayMarks(const AppState& state, const QDate& calendarMonth, const QDate& startDate,
                         const QString& section) {
    DayMarks marks{};
    const auto hasSection = [&](const QString& base) {
        return !section.isEmpty() && HasScheduleSection(state, base, section);
    };
    const bool byDefault = hasSection(ScheduleFileNames[0]);
    if (byDefault)
        marks[std::size_t(MarkIndex(0, 0))] |= MarkDefault;
    for (int column = 1; column < CalendarColumns; ++column) {
        const bool byWeekday = hasSection(ScheduleFileNames[std::size_t(column)]);
        for (int row = 1; row < CalendarRows; ++row) {
            qint16& mark = marks[std::size_t(MarkIndex(column, row))];
            const QDate date = CellDate(calendarMonth, column, row);
            const bool inMonth = date.month() == calendarMonth.month();
            if (byDefault)
                mark |= MarkDefault;
            if (byWeekday)
                mark |= MarkWeekday;
            if (!inMonth || date < startDate)
                mark |= MarkInactive;
            if (inMonth && hasSection(DateFileBase(date)))
                mark |= MarkDate;
        }
    }
    return marks;
}
