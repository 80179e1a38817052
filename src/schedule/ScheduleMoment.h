#pragma once

#include <QDate>
#include <QTime>

// When a schedule entry of a day is due, as an instant (milliseconds since
// the epoch): the first instant at which the local wall clock shows that day
// and time or later. So a time that the spring change skips falls due at the
// first instant after the skipped hour, and a time that the autumn change
// shows twice falls due at its first showing only.
qint64 FirstMomentAt(const QDate& day, const QTime& time);

// The instant of the day's midnight, or the first after it when a change of
// the clock skips midnight.
inline qint64 DayStartMoment(const QDate& day) {
    return FirstMomentAt(day, QTime(0, 0));
}

inline constexpr qint64 MinuteMs = 60'000;

// The whole minutes from `due` to `now`, counted between their minutes: an
// entry run within its own minute is 0 minutes late.
inline qint64 MinutesLate(qint64 dueMs, qint64 nowMs) {
    return nowMs / MinuteMs - dueMs / MinuteMs;
}
