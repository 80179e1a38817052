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

} // namespace

std::string MetricsText(const AppState& state) {
    // A registry of its own per answer: nothing of it outlives the request.
    prometheus::Registry registry;
    auto& up = prometheus::BuildGauge()
                   .Name("norvik3_projector_up")
                   .Help("1 when the projector answers, 0 when it is disconnected")
                   .Register(registry);
    auto& power = prometheus::BuildGauge()
                      .Name("norvik3_projector_power_state")
                      .Help("Power status code (0 off, 1 on, 2 cooling, -1 not reported)")
                      .Register(registry);
    auto& error = prometheus::BuildGauge()
                      .Name("norvik3_projector_error_state")
                      .Help("Error status code (0 normal, -1 not reported)")
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
        up.Add(labels).Set(info.Disconnected ? 0 : 1);
        power.Add(labels).Set(info.PowerStatus);
        error.Add(labels).Set(info.ErrorStatus);
        if (info.LampTime >= 0)
            lamp.Add(labels).Set(info.LampTime * SecondsPerHour);
        if (info.FilterTime >= 0)
            filter.Add(labels).Set(info.FilterTime * SecondsPerHour);
        if (info.LastReply.isValid())
            lastReply.Add(labels).Set(double(info.LastReply.toMSecsSinceEpoch()) / 1000.0);
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
        // Where the window shows "-", the answer has null.
        const bool shown = !info.Disconnected;
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
        o[QStringLiteral("power")] =
            shown && info.PowerStatus >= 0
                ? coded(info.PowerStatus, PowerDisplayText(info.PowerStatus))
                : QJsonValue();
        o[QStringLiteral("error")] =
            shown && info.ErrorStatus >= 0
                ? coded(info.ErrorStatus, ErrorDisplayText(info.ErrorStatus))
                : QJsonValue();
        o[QStringLiteral("input")] = shown && info.InputStatus >= 0
                                         ? coded(info.InputStatus, InputDisplayText(state, p))
                                         : QJsonValue();
        o[QStringLiteral("lamp_hours")] =
            shown && info.LampTime >= 0 ? QJsonValue(info.LampTime) : QJsonValue();
        o[QStringLiteral("filter_hours")] =
            shown && info.FilterTime >= 0 ? QJsonValue(info.FilterTime) : QJsonValue();
        o[QStringLiteral("last_reply")] =
            info.LastReply.isValid()
                ? QJsonValue(info.LastReply.toOffsetFromUtc(info.LastReply.offsetFromUtc())
                                 .toString(Qt::ISODate))
                : QJsonValue();
        list.append(o);
    }
    return QJsonDocument(list).toJson(QJsonDocument::Compact);
}

QByteArray HealthJson(const AppState& state, bool scheduleRunning) {
    const QJsonObject o{{QStringLiteral("status"), QStringLiteral("ok")},
                        {QStringLiteral("version"), ProgramVersion()},
                        {QStringLiteral("projectors"), state.ProjectorCount},
                        {QStringLiteral("schedule_running"), scheduleRunning}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}
