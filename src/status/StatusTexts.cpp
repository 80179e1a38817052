#include "status/StatusTexts.h"

#include "comm/StatusDisplay.h"
#include "core/AppState.h"
#include "core/Fleet.h"
#include "core/Version.h"
#include "pjlink/PJLinkCodec.h"
#include "status/ProjectorFacts.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <optional>

namespace {

bool Answering(const ProjectorInfo& info) {
    return !info.Disconnected && !info.AnswerLost;
}

QJsonValue coded(qint16 code, const QString& text) {
    return QJsonObject{{QStringLiteral("code"), code}, {QStringLiteral("text"), text}};
}

// A value that is not set is null, never an empty text.
QJsonValue textOrNull(const QString& text) {
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

// The TCP port as a number; null when it is not set or is no port number.
QJsonValue portOrNull(const QString& text) {
    bool ok = false;
    const uint port = text.trimmed().toUInt(&ok);
    return ok && port >= 1 && port <= 65535 ? QJsonValue(int(port)) : QJsonValue();
}

// What a PJLink projector reported about itself; the values of a
// disconnected one are null like its status, its identity stays, and its
// lamps are listed only while their hours are current.
QJsonObject pjlinkFacts(const ProjectorInfo& info) {
    const PJLinkFacts& pj = info.PJLink;
    QJsonArray lamps;
    for (int l = 0; l < CurrentLampCount(info); ++l) {
        const PJLinkLamp& lamp = pj.Lamps[std::size_t(l)];
        lamps.append(QJsonObject{
            {QStringLiteral("lamp"), l + 1},
            {QStringLiteral("hours"), lamp.hours >= 0 ? QJsonValue(lamp.hours) : QJsonValue()},
            {QStringLiteral("on"), lamp.on}});
    }
    const auto reported = [&](const QString& text) {
        return info.Disconnected ? QJsonValue() : textOrNull(text);
    };
    return QJsonObject{
        {QStringLiteral("class"), pj.Class > 0 ? QJsonValue(pj.Class) : QJsonValue()},
        {QStringLiteral("name"), textOrNull(pj.Name)},
        {QStringLiteral("maker"), textOrNull(pj.Maker)},
        {QStringLiteral("product"), textOrNull(pj.Product)},
        {QStringLiteral("serial_number"), textOrNull(pj.SerialNumber)},
        {QStringLiteral("input_code"), reported(pj.InputCode)},
        {QStringLiteral("input_name"), reported(pj.InputName)},
        {QStringLiteral("lamps"), lamps},
    };
}

} // namespace

QString ProjectorWarning(const ProjectorInfo& info) {
    return info.Disconnected || !IsPJLink(info) ? QString() : info.PJLink.Warning;
}

const char* ProtocolLabel(const ProjectorInfo& info) {
    return IsPJLink(info) ? "pjlink" : "native";
}

std::optional<qint32> ReportedValue(const ProjectorInfo& info, qint32 value) {
    if (info.Disconnected || value < 0)
        return std::nullopt;
    return value;
}

int CurrentLampCount(const ProjectorInfo& info) {
    if (!IsPJLink(info) || !ReportedValue(info, info.LampTime))
        return 0;
    return std::clamp<int>(info.PJLink.LampCount, 0, PJLinkMaxLamps);
}

QByteArray ProjectorsJson(const AppState& state) {
    QJsonArray list;
    for (int p = 1; p <= state.ProjectorCount; ++p) {
        const ProjectorInfo& info = state.Projectors[p];
        const auto codedOrNull = [&](qint16 status, const auto& text) {
            const auto value = ReportedValue(info, status);
            return value ? coded(*value, text()) : QJsonValue();
        };
        const auto numberOrNull = [&](qint32 status) {
            const auto value = ReportedValue(info, status);
            return value ? QJsonValue(*value) : QJsonValue();
        };
        QJsonObject o;
        o[QStringLiteral("index")] = p;
        o[QStringLiteral("id")] = textOrNull(info.ProjectorId);
        o[QStringLiteral("name")] = textOrNull(info.ProjectorName);
        o[QStringLiteral("group")] = textOrNull(GroupOfProjector(state, p));
        o[QStringLiteral("model")] = textOrNull(info.ModelName);
        o[QStringLiteral("protocol")] = QLatin1String(ProtocolLabel(info));
        o[QStringLiteral("connection")] =
            info.ConnectionKind == ConnectionSerial ? QJsonValue(QStringLiteral("serial"))
            : info.ConnectionKind == ConnectionLan  ? QJsonValue(QStringLiteral("lan"))
                                                    : QJsonValue();
        o[QStringLiteral("address")] = textOrNull(info.IPAddress);
        o[QStringLiteral("port")] = portOrNull(info.PortNo);
        o[QStringLiteral("com_port")] = info.COMPort > 0 ? QJsonValue(info.COMPort) : QJsonValue();
        o[QStringLiteral("mac")] = textOrNull(info.MACAddress);
        o[QStringLiteral("disconnected")] = info.Disconnected;
        o[QStringLiteral("refusing")] = info.Refusing;
        o[QStringLiteral("authentication_error")] =
            IsPJLink(info) && info.PJLink.AuthenticationError;
        o[QStringLiteral("warning")] = textOrNull(ProjectorWarning(info));
        o[QStringLiteral("power")] =
            codedOrNull(info.PowerStatus, [&] { return PowerDisplayText(info.PowerStatus); });
        o[QStringLiteral("error")] =
            codedOrNull(info.ErrorStatus, [&] { return ErrorDisplayText(info.ErrorStatus); });
        o[QStringLiteral("input")] = codedOrNull(info.InputStatus, [&] {
            return IsPJLink(info) ? PJLinkInputDisplay(info) : InputDisplayText(state, p);
        });
        o[QStringLiteral("lamp_hours")] = numberOrNull(info.LampTime);
        o[QStringLiteral("filter_hours")] = numberOrNull(info.FilterTime);
        o[QStringLiteral("last_reply")] =
            info.LastReply.isValid()
                ? QJsonValue(info.LastReply.toOffsetFromUtc(info.LastReply.offsetFromUtc())
                                 .toString(Qt::ISODate))
                : QJsonValue();
        o[QStringLiteral("pjlink")] = IsPJLink(info) ? QJsonValue(pjlinkFacts(info)) : QJsonValue();
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
                        {QStringLiteral("site"), textOrNull(state.SiteName)},
                        {QStringLiteral("projectors"), state.ProjectorCount},
                        {QStringLiteral("schedule_running"), scheduleRunning}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}
