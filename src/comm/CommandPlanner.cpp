#include "comm/CommandPlanner.h"

#include "comm/CommandQueue.h"
#include "core/AppState.h"
#include "core/Fleet.h"
#include "core/ModelFile.h"
#include "pjlink/PJLinkCodec.h"
#include "protocol/CommandTable.h"

#include <array>
#include <optional>

namespace {

struct OnOff {
    const char* command;
    const char* on;
    const char* off;
    const char* query;
};

// Commands whose value is "on" or "off"; freeze is PJLink's own.
constexpr std::array<OnOff, 4> Switches = {{
    {"power", "PowerOnCommand", "PowerOffCommand", nullptr},
    {"blank", "BlankOnCommand", "BlankOffCommand", "BlankGetCommand"},
    {"mute", "MuteOnCommand", "MuteOffCommand", "MuteGetCommand"},
    {"whisper", "WhisperOnCommand", "WhisperNormalCommand", "WhisperGetCommand"},
}};

// Picture settings, stepped "up" or "down".
constexpr std::array<OnOff, 5> Steps = {{
    {"brightness", "BrightnessIncrementCommand", "BrightnessDecrementCommand",
     "BrightnessGetCommand"},
    {"contrast", "ContrastIncrementCommand", "ContrastDecrementCommand", "ContrastGetCommand"},
    {"color", "ColorIncrementCommand", "ColorDecrementCommand", "ColorGetCommand"},
    {"tint", "TintIncrementCommand", "TintDecrementCommand", "TintGetCommand"},
    {"sharpness", "SharpnessIncrementCommand", "SharpnessDecrementCommand", "SharpnessGetCommand"},
}};

constexpr std::array<std::pair<const char*, const char*>, 4> Mirrors = {{
    {"normal", "MirrorNormalCommand"},
    {"horizontal", "MirrorHInverseCommand"},
    {"vertical", "MirrorVInverseCommand"},
    {"both", "MirrorHVInverseCommand"},
}};

const QByteArray FreezeQuery = QByteArrayLiteral("%2FREZ ?");

PlannedItem frame(const QByteArray& name) {
    return {BuildCommandTable().byName(QString::fromLatin1(name)), {}};
}

PlannedItem line(const QByteArray& text) {
    return {nullptr, text};
}

// The code of the model's input or aspect entry shown as `value`.
std::optional<int> entryCode(const std::array<QString, MaxModelEntries + 1>& entries, int count,
                             const QString& value) {
    for (int k = 1; k <= std::min<int>(count, MaxModelEntries); ++k)
        if (GetField(QStringLiteral(";"), entries[std::size_t(k)], 2).trimmed() == value.trimmed())
            return ModelEntryCode(entries[std::size_t(k)]);
    return std::nullopt;
}

// A PJLink input by the name a class 2 projector gave its current input, its
// code ("31") or its kind and number ("DIGITAL 1").
std::optional<QString> pjlinkInput(const PJLinkFacts& pj, const QString& value) {
    const QString wanted = value.simplified();
    if (!pj.InputName.isEmpty() && pj.InputName.simplified() == wanted)
        for (const QString& code : pj.Inputs)
            if (code.compare(pj.InputCode, Qt::CaseInsensitive) == 0)
                return code;
    return PJLinkInputNamed(pj.Inputs, wanted);
}

struct Plan {
    std::vector<PlannedItem> items;
    QString error;
};

Plan refused(const QString& why, std::vector<PlannedItem> queries = {}) {
    return {std::move(queries), why};
}

Plan inputPlan(const AppState& state, const ProjectorInfo& info, const QString& value) {
    if (IsPJLink(info)) {
        if (const auto code = pjlinkInput(info.PJLink, value))
            return {{line(PJLinkInputLine(*code, info.PJLink.Class)), frame("InputGetCommand")},
                    {}};
        return refused(QStringLiteral("the projector has no input \"%1\"").arg(value),
                       {frame("InputGetCommand")});
    }
    const ModelInfo* model = FindModel(state, info.ModelName);
    const std::optional<int> code =
        model ? entryCode(model->Input, model->InputNum, value) : std::nullopt;
    if (!code || *code < 0 || *code > 6)
        return refused(QStringLiteral("the projector's model has no input \"%1\"").arg(value),
                       {frame("InputGetCommand")});
    return {{frame("InputSet" + QByteArray::number(*code) + "Command"), frame("InputGetCommand")},
            {}};
}

// Aspect codes 0 to 7 and 16 have a frame of their own.
Plan aspectPlan(const AppState& state, const ProjectorInfo& info, const QString& value) {
    if (IsPJLink(info))
        return refused(QStringLiteral("PJLink projectors have no aspect command"),
                       {frame("AspectGetCommand")});
    const ModelInfo* model = FindModel(state, info.ModelName);
    const std::optional<int> code =
        model ? entryCode(model->Aspect, model->AspectNum, value) : std::nullopt;
    if (!code || ((*code < 0 || *code > 7) && *code != 16))
        return refused(QStringLiteral("the projector's model has no aspect \"%1\"").arg(value),
                       {frame("AspectGetCommand")});
    return {{frame("AspectSet" + QByteArray::number(*code) + "Command"), frame("AspectGetCommand")},
            {}};
}

// A command with two values, each its own frame, and the query after it.
std::optional<Plan> pairPlan(const CommandRequest& request) {
    const auto plan = [&](const OnOff& c, const char* first, const char* second) -> Plan {
        std::vector<PlannedItem> queries;
        if (c.query)
            queries.push_back(frame(c.query));
        if (request.value != QLatin1String(first) && request.value != QLatin1String(second))
            return refused(
                QStringLiteral("\"%1\" takes \"%2\" or \"%3\"").arg(request.command, first, second),
                queries);
        queries.insert(queries.begin(),
                       frame(request.value == QLatin1String(first) ? c.on : c.off));
        return {std::move(queries), {}};
    };
    for (const OnOff& s : Switches)
        if (request.command == QLatin1String(s.command))
            return plan(s, "on", "off");
    for (const OnOff& s : Steps)
        if (request.command == QLatin1String(s.command))
            return plan(s, "up", "down");
    return std::nullopt;
}

Plan projectorPlan(const AppState& state, int projector, const CommandRequest& request) {
    if (projector < 1 || projector > state.ProjectorCount)
        return refused(QStringLiteral("no such projector"));
    const ProjectorInfo& info = state.Projectors[std::size_t(projector)];
    const QString& command = request.command;
    const QString& value = request.value;
    if (std::optional<Plan> plan = pairPlan(request))
        return std::move(*plan);
    if (command == QLatin1String("freeze")) {
        if (!IsPJLink(info) || info.PJLink.Class != 2)
            return refused(QStringLiteral("only PJLink class 2 projectors freeze"));
        if (value != QLatin1String("on") && value != QLatin1String("off"))
            return refused(QStringLiteral("\"freeze\" takes \"on\" or \"off\""),
                           {line(FreezeQuery)});
        return {{line(PJLinkFreezeLine(value == QLatin1String("on"))), line(FreezeQuery)}, {}};
    }
    if (command == QLatin1String("input"))
        return inputPlan(state, info, value);
    if (command == QLatin1String("aspect"))
        return aspectPlan(state, info, value);
    if (command == QLatin1String("mirror")) {
        for (const auto& [name, frameName] : Mirrors)
            if (value == QLatin1String(name))
                return {{frame(frameName), frame("MirrorGetCommand")}, {}};
        return refused(
            QStringLiteral("\"mirror\" takes \"normal\", \"horizontal\", \"vertical\" or \"both\""),
            {frame("MirrorGetCommand")});
    }
    if (command == QLatin1String("auto-adjust"))
        return {{frame("AutoAdjustExecuteCommand")}, {}};
    if (command == QLatin1String("lamp-reset"))
        return {{frame("LampTimeResetCommand"), frame("LampTimeGetCommand")}, {}};
    if (command == QLatin1String("filter-reset"))
        return {{frame("FilterTimeResetCommand"), frame("FilterTimeGetCommand")}, {}};
    return refused(QStringLiteral("unknown command \"%1\"").arg(command));
}

} // namespace

std::vector<ProjectorPlan> PlanCommand(const AppState& state, const CommandRequest& request) {
    std::vector<int> projectors;
    if (request.group == 0)
        projectors.push_back(request.projector);
    else if (NodeKind(state, request.group) == QLatin1Char('g'))
        for (int member : GroupMembers(state, request.group))
            if (const int p = ProjectorOfNode(state, member); p >= 1)
                projectors.push_back(p);
    std::vector<ProjectorPlan> plans;
    for (int p : projectors) {
        Plan plan = projectorPlan(state, p, request);
        plans.push_back({p, std::move(plan.items), std::move(plan.error)});
    }
    return plans;
}

bool EnqueuePlanned(AppState& state, int projector, const PlannedItem& item) {
    return item.frame ? EnqueueCommand(state, projector, *item.frame)
                      : EnqueueLine(state, projector, item.line);
}
