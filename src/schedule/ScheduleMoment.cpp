#include "schedule/ScheduleMoment.h"

#include <QDateTime>

#include <algorithm>
#include <array>

namespace {

constexpr qint64 DayMs = 86'400'000;

qint64 OffsetMsAt(qint64 instant) {
    return qint64(QDateTime::fromMSecsSinceEpoch(instant, Qt::LocalTime).offsetFromUtc()) * 1000;
}

// What the wall clock shows at an instant, counted as if it were UTC.
qint64 WallAt(qint64 instant) {
    return instant + OffsetMsAt(instant);
}

} // namespace

qint64 FirstMomentAt(const QDate& day, const QTime& time) {
    const qint64 wall = QDateTime(day, time, Qt::UTC).toMSecsSinceEpoch();
    // The offsets in force a day before and after that wall time: around a
    // change of the clock, the one before it and the one after it.
    const std::array<qint64, 3> offsets = {OffsetMsAt(wall - DayMs), OffsetMsAt(wall),
                                           OffsetMsAt(wall + DayMs)};
    qint64 first = 0;
    bool found = false;
    for (const qint64 offset : offsets) {
        const qint64 instant = wall - offset;
        if (WallAt(instant) == wall && (!found || instant < first)) {
            first = instant;
            found = true;
        }
    }
    if (found)
        return first;
    // Skipped by a change: the wall clock jumps over it between the instant
    // that shows it under the larger offset (still before the change) and
    // the one under the smaller (already after). The change falls on a whole
    // second.
    const auto [smallest, largest] = std::minmax_element(offsets.begin(), offsets.end());
    qint64 before = (wall - *largest) / 1000; // shows an earlier time
    qint64 after = (wall - *smallest) / 1000; // shows a later time
    while (after - before > 1) {
        const qint64 middle = before + (after - before) / 2;
        if (WallAt(middle * 1000) >= wall)
            after = middle;
        else
            before = middle;
    }
    return after * 1000;
}
