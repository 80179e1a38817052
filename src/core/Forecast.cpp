#include "core/Forecast.h"

#include <QSet>
#include <QTimeZone>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

constexpr qint64 MsPerDay = 24LL * 60 * 60 * 1000;

} // namespace

Forecast ForecastReplacement(std::vector<HoursSample> samples, qint64 nowMs, qint32 threshold) {
    Forecast forecast;
    const qint64 windowStart = nowMs - ForecastWindowDays * MsPerDay;
    std::erase_if(samples, [&](const HoursSample& s) {
        return s.hours < 0 || s.timeMs < windowStart || s.timeMs > nowMs;
    });
    std::sort(samples.begin(), samples.end(),
              [](const HoursSample& a, const HoursSample& b) { return a.timeMs < b.timeMs; });
    // A lamp or filter replaced inside the window starts a new series.
    for (std::size_t n = samples.size(); n > 1; --n) {
        if (samples[n - 1].hours < samples[n - 2].hours) {
            samples.erase(samples.begin(), samples.begin() + qsizetype(n - 1));
            break;
        }
    }
    if (samples.empty())
        return forecast;
    const HoursSample& first = samples.front();
    const HoursSample& last = samples.back();
    forecast.hours = last.hours;
    forecast.remaining = threshold - last.hours;
    QSet<qint64> days;
    for (const HoursSample& s : samples)
        days.insert(s.timeMs / MsPerDay);
    if (days.size() < ForecastMinimumDays)
        return forecast;
    const double spanDays = double(last.timeMs - first.timeMs) / MsPerDay;
    forecast.hoursPerDay = double(last.hours - first.hours) / spanDays;
    if (forecast.remaining <= 0) {
        forecast.state = Forecast::State::Overdue;
        forecast.dueMs = last.timeMs;
        if (forecast.hoursPerDay > 0)
            forecast.dueMs +=
                qint64(std::llround(forecast.remaining / forecast.hoursPerDay * MsPerDay));
        return forecast;
    }
    if (forecast.hoursPerDay <= 0) {
        forecast.state = Forecast::State::NotBurning;
        return forecast;
    }
    forecast.dueMs =
        last.timeMs + qint64(std::llround(forecast.remaining / forecast.hoursPerDay * MsPerDay));
    forecast.state = forecast.dueMs <= nowMs ? Forecast::State::Overdue : Forecast::State::Due;
    return forecast;
}

Forecast SoonestForecast(const std::vector<Forecast>& forecasts) {
    const auto rank = [](const Forecast& f) {
        switch (f.state) {
        case Forecast::State::Due:
        case Forecast::State::Overdue:
            return std::pair{0, f.dueMs};
        case Forecast::State::NotBurning:
            return std::pair{1, qint64(0)};
        case Forecast::State::NoData:
            break;
        }
        return std::pair{2, qint64(0)};
    };
    const auto soonest =
        std::min_element(forecasts.begin(), forecasts.end(),
                         [&](const Forecast& a, const Forecast& b) { return rank(a) < rank(b); });
    return soonest == forecasts.end() ? Forecast() : *soonest;
}

QString ForecastText(const Forecast& forecast, const QDateTime& now) {
    switch (forecast.state) {
    case Forecast::State::NoData:
    case Forecast::State::NotBurning:
        return QStringLiteral("-");
    case Forecast::State::Overdue:
        return QStringLiteral("overdue");
    case Forecast::State::Due:
        break;
    }
    const QDateTime due = QDateTime::fromMSecsSinceEpoch(forecast.dueMs).toTimeZone(now.timeZone());
    const qint64 days = now.date().daysTo(due.date());
    if (days <= 0)
        return QStringLiteral("today");
    return days == 1 ? QStringLiteral("in 1 day") : QStringLiteral("in %1 days").arg(days);
}
