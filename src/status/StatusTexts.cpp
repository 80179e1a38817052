#include "status/StatusTexts.h"

#include "comm/StatusDisplay.h"
#include "core/AppState.h"
#include "core/Fleet.h"
#include "core/ProgramCore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <prometheus/counter.h>
#include <prometheus/gauge.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>

#include <optional>
#include <sstream>

namespace {

// The name of the group a projector stands in, empty under the root.
QString GroupOf(const AppState& state, int projector) {
    const int node = NodeOfProjector(state, projector);
    if (node == 0)
        return {};
    const int parent = NodeIndexOfKey(state, Node(state, node).ParentKey);
    return NodeKind(state, parent) == QLatin1Char('g') ? Node(state, parent).Text : QString();
}

constexpr double SecondsPerHour = 3600.0;

// A reported value as the JSON and the metrics show it, where the window
// shows "-": nothing (the JSON's null, no sample) while the projector is
// disconnected or the value was not reported (refused or never asked).
std::optional<qint16> Shown(const ProjectorInfo& info, qint16 value) {
    if (info.Disconnected || value < 0)
        return std::nullopt;
    return value;
}

bool Answering(const ProjectorInfo& info) {
    return !info.Disconnected && !info.AnswerLost;
}

double UnixSeconds(const QDateTime& time) {
    return double(time.toMSecsSinceEpoch()) / 1000.0;
}

} // namespace

std::string MetricsText(const AppState& state, const RefusalCounts& refusals) {
    // A registry of its own per answer: nothing of it outlives the request.
    prometheus::Registry registry;
    auto& up = prometheus::BuildGauge()
                   .Name("norvik3_projector_up")
                   .Help("1 when the projector answers, 0 when it is disconnected or refuses every "
                         "status query")
                   .Register(registry);
    auto& power = prometheus::BuildGauge()
                      .Name("norvik3_projector_power_state")
                      .Help("Power status code (0 off, 1 on, 2 cooling); absent when not reported")
                      .Register(registry);
    auto& error = prometheus::BuildGauge()
                      .Name("norvik3_projector_error_state")
                      .Help("Error status code (0 normal); absent when not reported")
                      .Register(registry);
    auto& lamp = prometheus::BuildGauge()
                     .Name("norvik3_projector_lamp_usage_seconds")
                     .Help("Lamp usage as reported by the projector")
                     .Register(registry);
    auto& filter = prometheus::BuildGauge()
                       .Name("norvik3_projector_filter_usage_seconds")
                       .Help("Filter usage as reported by the projector")
                       .Register(registry);
    auto& lastReply = prometheus::BuildGauge()
                          .Name("norvik3_projector_last_reply_timestamp_seconds")
                          .Help("When the projector last answered (Unix time)")
                          .Register(registry);
    for (int p = 1; p <= state.ProjectorCount; ++p) {
        const ProjectorInfo& info = state.Projectors[p];
        const prometheus::Labels labels{{"index", std::to_string(p)},
                                        {"projector", info.ProjectorName.toStdString()},
                                        {"group", GroupOf(state, p).toStdString()}};
        up.Add(labels).Set(info.Disconnected || info.Refusing ? 0 : 1);
        if (const auto value = Shown(info, info.PowerStatus))
            power.Add(labels).Set(*value);
        if (const auto value = Shown(info, info.ErrorStatus))
            error.Add(labels).Set(*value);
        if (const auto value = Shown(info, info.LampTime))
            lamp.Add(labels).Set(*value * SecondsPerHour);
        if (const auto value = Shown(info, info.FilterTime))
            filter.Add(labels).Set(*value * SecondsPerHour);
        if (info.LastReply.isValid())
            lastReply.Add(labels).Set(UnixSeconds(info.LastReply));
    }
    auto& commands = prometheus::BuildCounter()
                         .Name("norvik3_commands_total")
                         .Help("Commands handed over since start, by outcome")
                         .Register(registry);
    const RunCounters& counters = state.Counters;
    commands.Add({{"outcome", "acknowledged"}}).Increment(double(counters.CommandsAcknowledged));
    commands.Add({{"outcome", "refused"}}).Increment(double(counters.CommandsRefused));
    commands.Add({{"outcome", "timed_out"}}).Increment(double(counters.CommandsTimedOut));
    commands.Add({{"outcome", "data"}}).Increment(double(counters.CommandsData));
    auto& mails = prometheus::BuildCounter()
                      .Name("norvik3_alert_mails_total")
                      .Help("Alert mails attempted since start, by result")
                      .Register(registry);
    mails.Add({{"result", "sent"}}).Increment(double(counters.AlertMailsSent));
    mails.Add({{"result", "failed"}}).Increment(double(counters.AlertMailsFailed));
    auto& dropped = prometheus::BuildCounter()
                        .Name("norvik3_alerts_dropped_total")
                        .Help("Alerts dropped unsent since start: the oldest when the queue and "
                              "its spool were full, or refused by the server for good")
                        .Register(registry);
    dropped.Add({{"reason", "queue_full"}}).Increment(double(counters.AlertsDroppedQueueFull));
    dropped.Add({{"reason", "refused"}}).Increment(double(counters.AlertsDroppedRefused));

    const PollTiming& polling = state.Polling;
    if (polling.LastPassSeconds >= 0)
        prometheus::BuildGauge()
            .Name("norvik3_poll_duration_seconds")
            .Help("How long the last finished polling pass took")
            .Register(registry)
            .Add({})
            .Set(polling.LastPassSeconds);
    if (polling.LastPassEnd.isValid())
        prometheus::BuildGauge()
            .Name("norvik3_last_poll_timestamp_seconds")
            .Help("When the last polling pass finished (Unix time)")
            .Register(registry)
            .Add({})
            .Set(UnixSeconds(polling.LastPassEnd));
    prometheus::BuildGauge()
        .Name("norvik3_poll_behind")
        .Help("1 while the polling pass under way has outlasted its interval")
        .Register(registry)
        .Add({})
        .Set(polling.Behind ? 1 : 0);

    auto& refused = prometheus::BuildCounter()
                        .Name("norvik3_http_connections_refused_total")
                        .Help("Status endpoint connections refused at their start or cut off "
                              "before their answer, by reason")
                        .Register(registry);
    for (std::size_t r = 0; r < refusals.size(); ++r)
        refused.Add({{"reason", RefusalReasonName(RefusalReason(r))}})
            .Increment(double(refusals[r]));
    prometheus::BuildGauge()
        .Name("norvik3_build_info")
        .Help("The program's version")
        .Register(registry)
        .Add({{"version", ProgramVersion().toStdString()}})
        .Set(1);

    std::ostringstream out;
    prometheus::TextSerializer().Serialize(out, registry.Collect());
    return out.str();
}

namespace {

QJsonValue coded(qint16 code, const QString& text) {
    return QJsonObject{{QStringLiteral("code"), code}, {QStringLiteral("text"), text}};
}

} // namespace

QByteArray ProjectorsJson(const AppState& state) {
    QJsonArray list;
    for (int p = 1; p <= state.ProjectorCount; ++p) {
        const ProjectorInfo& info = state.Projectors[p];
        const auto codedOrNull = [&](qint16 status, const auto& text) {
            const auto value = Shown(info, status);
            return value ? coded(*value, text()) : QJsonValue();
        };
        const auto numberOrNull = [&](qint16 status) {
            const auto value = Shown(info, status);
            return value ? QJsonValue(*value) : QJsonValue();
        };
        QJsonObject o;
        o[QStringLiteral("index")] = p;
        o[QStringLiteral("name")] = info.ProjectorName;
        o[QStringLiteral("group")] = GroupOf(state, p);
        o[QStringLiteral("model")] = info.ModelName;
        o[QStringLiteral("connection")] =
            info.ConnectionKind == ConnectionSerial ? QJsonValue(QStringLiteral("serial"))
            : info.ConnectionKind == ConnectionLan  ? QJsonValue(QStringLiteral("lan"))
                                                    : QJsonValue();
        o[QStringLiteral("address")] = info.IPAddress;
        o[QStringLiteral("port")] = info.PortNo;
        o[QStringLiteral("com_port")] = info.COMPort;
        o[QStringLiteral("mac")] = info.MACAddress;
        o[QStringLiteral("disconnected")] = info.Disconnected;
        o[QStringLiteral("refusing")] = info.Refusing;
        o[QStringLiteral("power")] =
            codedOrNull(info.PowerStatus, [&] { return PowerDisplayText(info.PowerStatus); });
        o[QStringLiteral("error")] =
            codedOrNull(info.ErrorStatus, [&] { return ErrorDisplayText(info.ErrorStatus); });
        o[QStringLiteral("input")] =
            codedOrNull(info.InputStatus, [&] { return InputDisplayText(state, p); });
        o[QStringLiteral("lamp_hours")] = numberOrNull(info.LampTime);
        o[QStringLiteral("filter_hours")] = numberOrNull(info.FilterTime);
        o[QStringLiteral("last_reply")] =
            info.LastReply.isValid()
                ? QJsonValue(info.LastReply.toOffsetFromUtc(info.LastReply.offsetFromUtc())
                                 .toString(Qt::ISODate))
                : QJsonValue();
        list.append(o);
    }
    return QJsonDocument(list).toJson(QJsonDocument::Compact);
}

bool HealthFailing(const AppState& state) {
    // Before the first pass every projector is still "disconnected".
    if (state.ProjectorCount == 0 || !state.Polling.LastPassEnd.isValid())
        return false;
    for (int p = 1; p <= state.ProjectorCount; ++p)
        if (Answering(state.Projectors[p]))
            return false;
    return true;
}

QByteArray HealthJson(const AppState& state, bool scheduleRunning) {
    const auto reason = [](const QString& name, const QString& text, const QDateTime& since) {
        QJsonObject r{{QStringLiteral("name"), name}, {QStringLiteral("text"), text}};
        if (since.isValid())
            r[QStringLiteral("since")] =
                since.toOffsetFromUtc(since.offsetFromUtc()).toString(Qt::ISODate);
        return r;
    };
    QJsonArray reasons;
    const bool failing = HealthFailing(state);
    if (failing)
        reasons.append(reason(
            QStringLiteral("no_projector_answering"),
            QStringLiteral("None of the %1 projectors answers").arg(state.ProjectorCount), {}));
    for (int c = 0; c < int(HealthCondition::Count); ++c) {
        const HealthReport::Entry& entry = state.Health.entry(HealthCondition(c));
        if (entry.active)
            reasons.append(
                reason(HealthConditionName(HealthCondition(c)), entry.text, entry.since));
    }
    const QString status = failing             ? QStringLiteral("failing")
                           : reasons.isEmpty() ? QStringLiteral("ok")
                                               : QStringLiteral("degraded");
    const QJsonObject o{{QStringLiteral("status"), status},
                        {QStringLiteral("reasons"), reasons},
                        {QStringLiteral("version"), ProgramVersion()},
                        {QStringLiteral("projectors"), state.ProjectorCount},
                        {QStringLiteral("schedule_running"), scheduleRunning}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}
