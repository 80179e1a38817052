#include "status/CommandRequests.h"

#include "core/AppState.h"
#include "core/ModelFile.h"
#include "pjlink/PJLinkCodec.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <array>
#include <cctype>

namespace {

struct OnOff {
    const char* command;
    const char* on;
    const char* off;
    const char* query;
};

// Commands whose value is "on" or "off".
constexpr std::array<OnOff, 5> Switches = {{
    {"power", "PowerOnCommand", "PowerOffCommand", nullptr},
    {"blank", "BlankOnCommand", "BlankOffCommand", "BlankGetCommand"},
    {"mute", "MuteOnCommand", "MuteOffCommand", "MuteGetCommand"},
    {"whisper", "WhisperOnCommand", "WhisperNormalCommand", "WhisperGetCommand"},
    {"freeze", nullptr, nullptr, nullptr},
}};

struct Step {
    const char* command;
    const char* up;
    const char* down;
    const char* query;
};

// Picture settings, stepped "up" or "down".
constexpr std::array<Step, 5> Steps = {{
    {"brightness", "BrightnessIncrementCommand", "BrightnessDecrementCommand",
     "BrightnessGetCommand"},
    {"contrast", "ContrastIncrementCommand", "ContrastDecrementCommand", "ContrastGetCommand"},
    {"color", "ColorIncrementCommand", "ColorDecrementCommand", "ColorGetCommand"},
    {"tint", "TintIncrementCommand", "TintDecrementCommand", "TintGetCommand"},
    {"sharpness", "SharpnessIncrementCommand", "SharpnessDecrementCommand", "SharpnessGetCommand"},
}};

QueuedItem frame(const char* name) {
    return {QByteArray(name), {}};
}

CommandPlan refused(const QString& why) {
    return {{}, why};
}

// The code of the model's input or aspect entry shown as `value`.
std::optional<int> entryCode(const std::array<QString, MaxModelEntries + 1>& entries, int count,
                             const QString& value) {
    for (int k = 1; k <= std::min<int>(count, MaxModelEntries); ++k)
        if (GetField(QStringLiteral(";"), entries[std::size_t(k)], 2).trimmed() == value.trimmed())
            return ModelEntryCode(entries[std::size_t(k)]);
    return std::nullopt;
}

CommandPlan inputPlan(const AppState& state, const ProjectorInfo& info, const QString& value) {
    if (IsPJLink(info)) {
        if (const auto code = PJLinkInputNamed(info.PJLink.Inputs, value))
            return {{{{}, PJLinkInputLine(*code, info.PJLink.Class)}, frame("InputGetCommand")},
                    {}};
        return refused(QStringLiteral("the projector has no input \"%1\"").arg(value));
    }
    const ModelInfo* model = FindModel(state, info.ModelName);
    const std::optional<int> code =
        model ? entryCode(model->Input, model->InputNum, value) : std::nullopt;
    if (!code || *code < 0 || *code > 6)
        return refused(QStringLiteral("the projector's model has no input \"%1\"").arg(value));
    return {{frame(QByteArray("InputSet" + QByteArray::number(*code) + "Command")),
             frame("InputGetCommand")},
            {}};
}

// Aspect codes 0 to 7 and 16 have a frame of their own.
CommandPlan aspectPlan(const AppState& state, const ProjectorInfo& info, const QString& value) {
    if (IsPJLink(info))
        return refused(QStringLiteral("PJLink projectors have no aspect command"));
    const ModelInfo* model = FindModel(state, info.ModelName);
    const std::optional<int> code =
        model ? entryCode(model->Aspect, model->AspectNum, value) : std::nullopt;
    if (!code || ((*code < 0 || *code > 7) && *code != 16))
        return refused(QStringLiteral("the projector's model has no aspect \"%1\"").arg(value));
    return {{frame(QByteArray("AspectSet" + QByteArray::number(*code) + "Command")),
             frame("AspectGetCommand")},
            {}};
}

} // namespace

QString StrictProjectorId(const QString& text) {
    constexpr qsizetype Length = 36;
    if (text.size() != Length)
        return {};
    for (qsizetype k = 0; k < Length; ++k) {
        const QChar c = text[k];
        const bool dash = k == 8 || k == 13 || k == 18 || k == 23;
        if (dash ? c != u'-' : !isxdigit(c.toLatin1()) || c.unicode() > 0x7f)
            return {};
    }
    return text.toLower();
}

CommandRequestParse ParseCommandRequest(const QByteArray& body) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError)
        return {{}, QStringLiteral("the body is not JSON: %1").arg(error.errorString())};
    if (!document.isObject())
        return {{}, QStringLiteral("the body is not a JSON object")};
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it)
        if (it.key() != QLatin1String("command") && it.key() != QLatin1String("value") &&
            it.key() != QLatin1String("confirm"))
            return {{}, QStringLiteral("unknown field \"%1\"").arg(it.key())};
    if (!object.value(QLatin1String("command")).isString())
        return {{}, QStringLiteral("\"command\" is missing or not a string")};
    const QJsonValue value = object.value(QLatin1String("value"));
    if (!value.isUndefined() && !value.isString())
        return {{}, QStringLiteral("\"value\" is not a string")};
    const QJsonValue confirm = object.value(QLatin1String("confirm"));
    if (!confirm.isUndefined() && !confirm.isBool())
        return {{}, QStringLiteral("\"confirm\" is not true or false")};
    return {CommandRequest{object.value(QLatin1String("command")).toString(), value.toString(),
                           confirm.toBool()},
            {}};
}

CommandPlan PlanCommand(const AppState& state, int projector, const CommandRequest& request) {
    if (projector < 1 || projector > state.ProjectorCount)
        return refused(QStringLiteral("no such projector"));
    const ProjectorInfo& info = state.Projectors[std::size_t(projector)];
    const QString& command = request.command;
    const QString& value = request.value;
    for (const OnOff& s : Switches) {
        if (command != QLatin1String(s.command))
            continue;
        if (value != QLatin1String("on") && value != QLatin1String("off"))
            return refused(QStringLiteral("\"%1\" takes \"on\" or \"off\"").arg(command));
        const bool on = value == QLatin1String("on");
        if (!s.on) {
            if (!IsPJLink(info) || info.PJLink.Class != 2)
                return refused(QStringLiteral("only PJLink class 2 projectors freeze"));
            return {{{{}, PJLinkFreezeLine(on)}, {{}, QByteArrayLiteral("%2FREZ ?")}}, {}};
        }
        CommandPlan plan{{frame(on ? s.on : s.off)}, {}};
        if (s.query)
            plan.items.push_back(frame(s.query));
        return plan;
    }
    for (const Step& s : Steps) {
        if (command != QLatin1String(s.command))
            continue;
        if (value != QLatin1String("up") && value != QLatin1String("down"))
            return refused(QStringLiteral("\"%1\" takes \"up\" or \"down\"").arg(command));
        return {{frame(value == QLatin1String("up") ? s.up : s.down), frame(s.query)}, {}};
    }
    if (command == QLatin1String("input"))
        return inputPlan(state, info, value);
    if (command == QLatin1String("aspect"))
        return aspectPlan(state, info, value);
    if (command == QLatin1String("mirror")) {
        static const std::array<std::pair<const char*, const char*>, 4> mirrors = {{
            {"normal", "MirrorNormalCommand"},
            {"horizontal", "MirrorHInverseCommand"},
            {"vertical", "MirrorVInverseCommand"},
            {"both", "MirrorHVInverseCommand"},
        }};
        for (const auto& [name, frameName] : mirrors)
            if (value == QLatin1String(name))
                return {{frame(frameName), frame("MirrorGetCommand")}, {}};
        return refused(QStringLiteral(
            "\"mirror\" takes \"normal\", \"horizontal\", \"vertical\" or \"both\""));
    }
    if (command == QLatin1String("auto-adjust"))
        return {{frame("AutoAdjustExecuteCommand")}, {}};
    if (command == QLatin1String("lamp-reset") || command == QLatin1String("filter-reset")) {
        if (!request.confirm)
            return refused(QStringLiteral("\"%1\" needs \"confirm\": true").arg(command));
        const bool lamp = command == QLatin1String("lamp-reset");
        return {{frame(lamp ? "LampTimeResetCommand" : "FilterTimeResetCommand"),
                 frame(lamp ? "LampTimeGetCommand" : "FilterTimeGetCommand")},
                {}};
    }
    return refused(QStringLiteral("unknown command \"%1\"").arg(command));
}
