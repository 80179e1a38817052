#pragma once

#include "history/EventStore.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QTimeZone>
#include <QUrlQuery>

#include <optional>

struct AppState;

// The endpoint's answers about the history and the forecasts, free of I/O.

inline constexpr int DefaultEventsLimit = 100;

// What GET /api/v1/events asks for:
//   since, until  ISO 8601 date or date and time: events at or after since,
//                 before until (a time without offset is local time)
//   projector     one or more projector ids, comma-separated
//   group         one or more group names: the projectors standing in them
//   kind          one or more event kinds (power, error, ...), comma-separated
//   text          found in the projector's or group's name, the text or the
//                 outcome, in any case
//   limit         1..EventStore::MaxPage events, DefaultEventsLimit without it
//   cursor        the `next` of the answer before, for the following page
// Given both, projector and group add up.
struct EventsRequest {
    EventFilter filter;
    std::optional<EventCursor> after;
    int limit = DefaultEventsLimit;
    // Projectors or groups were asked for, and not one projector with an id
    // stands in them: no event can match.
    bool matchesNothing = false;
};
struct EventsRequestParse {
    std::optional<EventsRequest> request;
    QString error; // why the request is refused, when there is none
};
EventsRequestParse ParseEventsRequest(const QUrlQuery& query, const AppState& state,
                                      const QTimeZone& zone);

// {"events": [...newest first], "next": "<cursor>"}, `next` left out on the
// last page; in each event the parts it does not have are left out.
QByteArray EventsJson(const EventPage& page);

// GET /api/v1/forecast: per projector in index order its identity and the
// forecasts of its lamp and filter, with the texts the window shows `now`.
QByteArray ForecastJson(const AppState& state, const QDateTime& now);
