#include "history/PageInPieces.h"

#include <algorithm>
#include <limits>

namespace {

enum class Stop { No, Drop, Cut };

std::optional<EventPage> readPieces(const EventStore& store, const EventFilter& filter,
                                    const std::optional<EventCursor>& after, int limit,
                                    const std::function<Stop()>& stop) {
    EventPage result;
    EventFilter any;
    // Where the scan starts: the cursor, the end of the range, or the
    // newest event.
    std::optional<qint64> end;
    if (after)
        end = after->timeMs + 1;
    if (filter.toMs)
        end = std::min(end.value_or(*filter.toMs), *filter.toMs);
    if (!end) {
        EventPage newest = store.page(any, std::nullopt, 1);
        if (!newest.problem.isEmpty() || newest.events.empty())
            return newest;
        end = newest.events.front().timeMs + 1;
    }
    std::optional<EventCursor> cursor = after;
    for (bool first = true;; first = false) {
        const Stop now = stop();
        if (now == Stop::Drop)
            return std::nullopt;
        // Every event from `end` on was looked at.
        if (now == Stop::Cut && !first) {
            result.next = EventCursor{*end - 1, std::numeric_limits<qint64>::max()};
            return result;
        }
        const qint64 start = *end - EventPieceMs;
        EventFilter piece = filter;
        piece.toMs = *end;
        piece.fromMs = filter.fromMs ? std::max(*filter.fromMs, start) : start;
        const int wanted = limit - int(result.events.size());
        EventPage page = store.page(piece, cursor, wanted);
        cursor.reset();
        if (!page.problem.isEmpty()) {
            result.problem = page.problem;
            return result;
        }
        result.events.insert(result.events.end(), std::make_move_iterator(page.events.begin()),
                             std::make_move_iterator(page.events.end()));
        if (page.next) {
            result.next = page.next;
            return result;
        }
        const bool full = int(result.events.size()) >= limit;
        if (filter.fromMs && start <= *filter.fromMs) {
            if (full)
                result.next = EventCursor{result.events.back().timeMs, result.events.back().id};
            return result;
        }
        any.toMs = start;
        const EventPage older = store.page(any, std::nullopt, 1);
        if (!older.problem.isEmpty()) {
            result.problem = older.problem;
            return result;
        }
        if (older.events.empty())
            return result;
        if (full) {
            result.next = EventCursor{result.events.back().timeMs, result.events.back().id};
            return result;
        }
        // Nothing between here and the next older event: skip the gap.
        end = std::min(start, older.events.front().timeMs + 1);
    }
}

} // namespace

std::optional<EventPage> ReadPageInPieces(const EventStore& store, const EventFilter& filter,
                                          const std::optional<EventCursor>& after, int limit,
                                          const std::function<bool()>& superseded) {
    return readPieces(store, filter, after, limit,
                      [&] { return superseded() ? Stop::Drop : Stop::No; });
}

EventPage ReadPageWithin(const EventStore& store, const EventFilter& filter,
                         const std::optional<EventCursor>& after, int limit,
                         const QDeadlineTimer& budget) {
    return *readPieces(store, filter, after, limit,
                       [&] { return budget.hasExpired() ? Stop::Cut : Stop::No; });
}
