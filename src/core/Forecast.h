#pragma once

#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

// When a lamp or a filter reaches its replacement threshold, from the
// hours recorded once a day.

struct HoursSample {
    qint64 timeMs = 0; // UTC
    qint32 hours = -1; // negative: not reported
};

inline constexpr int ForecastWindowDays = 30;
inline constexpr int ForecastMinimumDays = 7;

struct Forecast {
    enum class State {
        NoData,     // fewer than ForecastMinimumDays days since the window or the last reset
        NotBurning, // the hours did not rise: no date can be given
        Due,        // dueMs is when the threshold is reached
        Overdue,    // the threshold is already reached
    };
    State state = State::NoData;
    double hoursPerDay = 0;
    qint32 hours = -1;    // the latest hours
    qint32 remaining = 0; // threshold less the latest hours (negative once overdue)
    qint64 dueMs = 0;     // UTC, for Due and Overdue
    bool operator==(const Forecast&) const = default;
};

// From the samples (any order) of the last ForecastWindowDays days before
// nowMs, after the last reset (the hours going down), with data on at
// least ForecastMinimumDays different days.
Forecast ForecastReplacement(std::vector<HoursSample> samples, qint64 nowMs, qint32 threshold);

// The one due first: a dated one (Due or Overdue) by its date, then
// NotBurning, then NoData; the lower index on a tie. NoData when empty.
Forecast SoonestForecast(const std::vector<Forecast>& forecasts);

// "in 23 days", "in 1 day", "overdue" or "-", counted in calendar days of
// `now`'s time zone.
QString ForecastText(const Forecast& forecast, const QDateTime& now);
