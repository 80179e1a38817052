#pragma once

#include "schedule/CalendarGeometry.h"

#include <QDate>
#include <QString>

#include <array>

struct AppState;

// Flags per calendar cell (index row * 8 + column).
inline constexpr qint16 MarkDefault = 1;   // the default file has the node's section
inline constexpr qint16 MarkWeekday = 2;   // the weekday file of the cell's column has it
inline constexpr qint16 MarkDate = 4;      // the date file of the cell's day has it
inline constexpr qint16 MarkInactive = 16; // before the start date or outside the month

using DayMarks = std::array<qint16, CalendarColumns * CalendarRows>;

inline int MarkIndex(int column, int row) {
    return row * CalendarColumns + column;
}

// The marks of the shown month for the section of the selected node (an
// empty section marks only the inactive days).
DayMarks ComputeDayMarks(const AppState& state, const QDate& calendarMonth, const QDate& startDate,
                         const QString& section);
