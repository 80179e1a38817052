#include "status/HistoryAnswers.h"

#include "core/AppState.h"
#include "core/Fleet.h"
#include "core/Forecast.h"
#include "history/HistoryTime.h"
#include "status/CommandRequests.h"
#include "status/ProjectorFacts.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {

const QStringList EventsParameters = {
    QStringLiteral("since"), QStringLiteral("until"),  QStringLiteral("projector"),
    QStringLiteral("group"), QStringLiteral("kind"),   QStringLiteral("text"),
    QStringLiteral("limit"), QStringLiteral("cursor"),
};

QStringList listOf(const QString& value) {
    QStringList items = value.split(u',', Qt::SkipEmptyParts);
    for (QString& item : items)
        item = item.trimmed();
    items.removeAll(QString());
    return items;
}

QString kindNames() {
    QStringList names;
    for (int k = 0; k < EventKindCount; ++k)
        names << EventKindName(EventKind(k));
    return names.join(QStringLiteral(", "));
}

// The projector ids of every projector standing in one of the groups.
std::optional<QString> addGroups(const QStringList& groups, const AppState& state,
                                 QStringList& ids) {
    for (const QString& name : groups) {
        bool found = false;
        for (int n = 1; n <= NodeCount(state); ++n) {
            if (NodeKind(state, n) != QLatin1Char('g') ||
                Node(state, n).Text.compare(name, Qt::CaseInsensitive) != 0)
                continue;
            found = true;
            for (const int member : GroupMembers(state, n)) {
                const int p = ProjectorOfNode(state, member);
                if (p > 0 && !state.Projectors[p].ProjectorId.isEmpty())
                    ids << state.Projectors[p].ProjectorId;
            }
        }
        if (!found)
            return QStringLiteral("there is no group named \"%1\"").arg(name);
    }
    return std::nullopt;
}

void putText(QJsonObject& o, const char* key, const QString& text) {
    if (!text.isEmpty())
        o[QLatin1String(key)] = text;
}

void putNumber(QJsonObject& o, const char* key, const std::optional<qint64>& value) {
    if (value)
        o[QLatin1String(key)] = double(*value);
}

QJsonObject eventJson(const HistoryEvent& e) {
    QJsonObject o{{QStringLiteral("id"), double(e.id)},
                  {QStringLiteral("time"), HistoryTimeText(e.timeMs)},
                  {QStringLiteral("kind"), EventKindName(e.kind)}};
    putText(o, "projector_id", e.projectorId);
    putText(o, "projector", e.projectorName);
    putText(o, "group", e.groupName);
    putNumber(o, "value", e.value);
    putNumber(o, "value2", e.value2);
    putText(o, "text", e.text);
    putText(o, "outcome", e.outcome);
    putText(o, "source", EventSourceName(e.source));
    putText(o, "client", e.client);
    return o;
}

QString stateName(Forecast::State state) {
    switch (state) {
    case Forecast::State::NoData:
        break;
    case Forecast::State::NotBurning:
        return QStringLiteral("not-burning");
    case Forecast::State::Due:
        return QStringLiteral("due");
    case Forecast::State::Overdue:
        return QStringLiteral("overdue");
    }
    return QStringLiteral("no-data");
}

QJsonObject forecastJson(const Forecast& f, const QDateTime& now) {
    const bool hoursKnown = f.hours >= 0;
    const bool dated = f.state == Forecast::State::Due || f.state == Forecast::State::Overdue;
    const bool rated = f.state != Forecast::State::NoData;
    return QJsonObject{
        {QStringLiteral("hours"), hoursKnown ? QJsonValue(f.hours) : QJsonValue()},
        // The forecast keeps what is left to the threshold, not the threshold.
        {QStringLiteral("threshold"),
         hoursKnown ? QJsonValue(f.hours + f.remaining) : QJsonValue()},
        {QStringLiteral("hours_per_day"),
         rated ? QJsonValue(std::round(f.hoursPerDay * 100) / 100) : QJsonValue()},
        {QStringLiteral("remaining"), hoursKnown ? QJsonValue(f.remaining) : QJsonValue()},
        {QStringLiteral("due"), dated ? QJsonValue(HistoryTimeText(f.dueMs)) : QJsonValue()},
        {QStringLiteral("state"), stateName(f.state)},
        {QStringLiteral("text"), ForecastText(f, now)},
    };
}

QJsonValue textOrNull(const QString& text) {
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

} // namespace

EventsRequestParse ParseEventsRequest(const QUrlQuery& query, const AppState& state,
                                      const QTimeZone& zone) {
    EventsRequestParse parse;
    EventsRequest request;
    const auto refuse = [&parse](const QString& why) {
        parse.error = why;
        return parse;
    };
    QStringList seen;
    QStringList groups;
    for (const auto& [key, value] : query.queryItems(QUrl::FullyDecoded)) {
        // "?&limit=5" and the like, as scripts join their parameters.
        if (key.isEmpty() && value.isEmpty())
            continue;
        if (!EventsParameters.contains(key))
            return refuse(QStringLiteral("unknown parameter \"%1\" (known: %2)")
                              .arg(key, EventsParameters.join(QStringLiteral(", "))));
        if (seen.contains(key))
            return refuse(QStringLiteral("%1 is given more than once").arg(key));
        seen << key;
        // An empty value is the same as none, for scripts that fill them in.
        if (value.trimmed().isEmpty())
            continue;
        if (key == QLatin1String("since") || key == QLatin1String("until")) {
            const std::optional<qint64> time = HistoryTimeFrom(value, zone);
            if (!time)
                return refuse(QStringLiteral("%1 \"%2\" is no ISO 8601 date or date and time")
                                  .arg(key, value));
            (key == QLatin1String("since") ? request.filter.fromMs : request.filter.toMs) = time;
        } else if (key == QLatin1String("projector")) {
            for (const QString& item : listOf(value)) {
                const QString id = StrictProjectorId(item);
                if (id.isEmpty())
                    return refuse(QStringLiteral("projector \"%1\" is no projector id").arg(item));
                request.filter.projectorIds << id;
            }
        } else if (key == QLatin1String("group")) {
            groups = listOf(value);
        } else if (key == QLatin1String("kind")) {
            for (const QString& item : listOf(value)) {
                const std::optional<EventKind> kind = EventKindFromName(item);
                if (!kind)
                    return refuse(
                        QStringLiteral("unknown kind \"%1\" (known: %2)").arg(item, kindNames()));
                request.filter.kinds << *kind;
            }
        } else if (key == QLatin1String("text")) {
            request.filter.text = value.trimmed();
        } else if (key == QLatin1String("limit")) {
            bool ok = false;
            request.limit = value.trimmed().toInt(&ok);
            if (!ok || request.limit < 1 || request.limit > EventStore::MaxPage)
                return refuse(QStringLiteral("limit must be a whole number from 1 to %1")
                                  .arg(EventStore::MaxPage));
        } else {
            request.after = EventCursor::fromText(value.trimmed());
            if (!request.after)
                return refuse(
                    QStringLiteral("cursor \"%1\" is not one this endpoint gave out").arg(value));
        }
    }
    const bool byProjector = !request.filter.projectorIds.isEmpty() || !groups.isEmpty();
    if (const auto problem = addGroups(groups, state, request.filter.projectorIds))
        return refuse(*problem);
    request.filter.projectorIds.removeDuplicates();
    if (byProjector && request.filter.projectorIds.isEmpty())
        request.matchesNothing = true;
    parse.request = std::move(request);
    return parse;
}

QByteArray EventsJson(const EventPage& page) {
    QJsonArray events;
    for (const HistoryEvent& e : page.events)
        events.append(eventJson(e));
    QJsonObject o{{QStringLiteral("events"), events}};
    if (page.next)
        o[QStringLiteral("next")] = page.next->toText();
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray ForecastJson(const AppState& state, const QDateTime& now) {
    QJsonArray list;
    for (int p = 1; p <= state.ProjectorCount; ++p) {
        const ProjectorInfo& info = state.Projectors[p];
        // Lamp 1 is listed, like `lamp`, before the history holds its hours.
        std::vector<Forecast> forecasts = info.LampForecasts;
        if (forecasts.empty())
            forecasts.emplace_back();
        QJsonArray lamps;
        for (std::size_t l = 0; l < forecasts.size(); ++l) {
            QJsonObject lamp = forecastJson(forecasts[l], now);
            lamp.insert(QStringLiteral("lamp"), qint64(l + 1));
            lamps.append(lamp);
        }
        list.append(QJsonObject{
            {QStringLiteral("index"), p},
            {QStringLiteral("id"), textOrNull(info.ProjectorId)},
            {QStringLiteral("name"), textOrNull(info.ProjectorName)},
            {QStringLiteral("group"), textOrNull(GroupOfProjector(state, p))},
            {QStringLiteral("lamp"), forecastJson(forecasts.front(), now)},
            {QStringLiteral("lamps"), lamps},
            {QStringLiteral("filter"), forecastJson(info.FilterForecast, now)},
        });
    }
    return QJsonDocument(list).toJson(QJsonDocument::Compact);
}
