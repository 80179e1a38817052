#pragma once

#include <QDate>
#include <QPoint>
#include <QString>

// Geometry of the schedule calendar: 8 columns (0 = week labels, 1..7 =
// Sunday..Saturday) by 7 rows (0 = headers, 1..6 = the weeks of the shown
// month). calendarMonth is always the first day of the shown month.

inline constexpr int CalendarColumns = 8;
inline constexpr int CalendarRows = 7;

// Weekday number with Sunday = 1 .. Saturday = 7.
int WeekdayNumber(const QDate& date);
QDate FirstOfMonth(const QDate& date);

// The date shown in a day cell; an invalid date for headers, week labels and
// positions outside the grid.
QDate CellDate(const QDate& calendarMonth, int column, int row);
// The cell (x = column, y = row) of a date of the shown month; (-1, -1) for a
// date outside it.
QPoint DateCell(const QDate& calendarMonth, const QDate& date);

// A selected range of cells; all four are -1 when nothing valid is selected.
struct CalendarSelection {
    int firstColumn = -1;
    int lastColumn = -1;
    int firstRow = -1;
    int lastRow = -1;

    bool operator==(const CalendarSelection&) const = default;
};

enum SelectionKind {
    SelectionNone = -1,
    SelectionDefault = 0,
    SelectionDay = 1,
    SelectionWeekday = 3
};

// 0: the "Def" header, or the whole day block (columns 1..7, rows 1..6);
// 3: one weekday, either its header alone or its whole column of weeks;
// 1: one day cell; -1: anything else. A header range over several weekdays
// names no single weekday file and is therefore -1.
SelectionKind ClassifySelection(const CalendarSelection& selection);

// The base name of the schedule file for a cell: "default" for the "Def"
// header, the weekday name for a weekday header, "YYYYMMDD" for a day cell,
// empty for anything else.
QString ScheduleFileName(const QDate& calendarMonth, int column, int row);
// The base name for a whole selection (a weekday column uses its header).
QString ScheduleFileName(const QDate& calendarMonth, const CalendarSelection& selection);

QString DateFileBase(const QDate& date);
