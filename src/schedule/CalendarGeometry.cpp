#include "schedule/CalendarGeometry.h"

#include "core/AppState.h"

int WeekdayNumber(const QDate& date) {
    return date.dayOfWeek() % 7 + 1; // Qt: Monday 1 .. Sunday 7
}

QDate FirstOfMonth(const QDate& date) {
    return QDate(date.year(), date.month(), 1);
}

QDate CellDate(const QDate& calendarMonth, int column, int row) {
    if (!calendarMonth.isValid() || column < 1 || column >= CalendarColumns || row < 1 ||
        row >= CalendarRows)
        return {};
    const int w = WeekdayNumber(calendarMonth);
    return calendarMonth.addDays(7 * (row - 1) + (column - w));
}

QPoint DateCell(const QDate& calendarMonth, const QDate& date) {
    if (!calendarMonth.isValid() || !date.isValid() || date.year() != calendarMonth.year() ||
        date.month() != calendarMonth.month())
        return {-1, -1};
    const int w = WeekdayNumber(calendarMonth);
    return {WeekdayNumber(date), 1 + (date.day() - 1 + w - 1) / 7};
}

SelectionKind ClassifySelection(const CalendarSelection& s) {
    const auto inside = [](int v, int last) { return v >= 0 && v <= last; };
    if (!inside(s.firstColumn, CalendarColumns - 1) || !inside(s.lastColumn, CalendarColumns - 1) ||
        !inside(s.firstRow, CalendarRows - 1) || !inside(s.lastRow, CalendarRows - 1) ||
        s.firstColumn > s.lastColumn || s.firstRow > s.lastRow)
        return SelectionNone;
    if (s == CalendarSelection{0, 0, 0, 0} ||
        s == CalendarSelection{1, CalendarColumns - 1, 1, CalendarRows - 1})
        return SelectionDefault;
    if (s.firstColumn == s.lastColumn && s.firstColumn >= 1) {
        const bool header = s.firstRow == 0 && s.lastRow == 0;
        const bool weeks = s.firstRow <= 1 && s.lastRow == CalendarRows - 1;
        if (header || weeks)
            return SelectionWeekday;
        if (s.firstRow == s.lastRow)
            return SelectionDay;
    }
    return SelectionNone;
}

QString DateFileBase(const QDate& date) {
    return date.toString(QStringLiteral("yyyyMMdd"));
}

QString ScheduleFileName(const QDate& calendarMonth, int column, int row) {
    if (column < 0 || column >= CalendarColumns || row < 0 || row >= CalendarRows)
        return {};
    if (row == 0)
        return column == 0 ? ScheduleFileNames[0] : ScheduleFileNames[std::size_t(column)];
    const QDate date = CellDate(calendarMonth, column, row);
    return date.isValid() ? DateFileBase(date) : QString();
}

QString ScheduleFileName(const QDate& calendarMonth, const CalendarSelection& selection) {
    switch (ClassifySelection(selection)) {
    case SelectionDefault:
        return ScheduleFileNames[0];
    case SelectionWeekday:
        return ScheduleFileName(calendarMonth, selection.firstColumn, 0);
    case SelectionDay:
        return ScheduleFileName(calendarMonth, selection.firstColumn, selection.firstRow);
    case SelectionNone:
        break;
    }
    return {};
}
