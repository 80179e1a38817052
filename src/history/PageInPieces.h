#pragma once

#include "history/EventStore.h"

#include <QDeadlineTimer>

#include <functional>
#include <optional>

// A scan covers at most this much time per query, so that a filter matching
// little never reads the whole file before the reader looks up again.
inline constexpr qint64 EventPieceMs = 6LL * 3600 * 1000;

// The page as EventStore::page gives it, read in pieces of at most
// EventPieceMs each; none when superseded() says so between two pieces.
std::optional<EventPage> ReadPageInPieces(const EventStore& store, const EventFilter& filter,
                                          const std::optional<EventCursor>& after, int limit,
                                          const std::function<bool()>& superseded);

// The same, but once `budget` has expired (checked between pieces, after
// the first) the page holds what was found so far, and `next` goes on from
// where the scan stopped.
EventPage ReadPageWithin(const EventStore& store, const EventFilter& filter,
                         const std::optional<EventCursor>& after, int limit,
                         const QDeadlineTimer& budget);
