#include "ui/ControlOperations.h"

#include "comm/CommEngine.h"
#include "comm/CommandPlanner.h"
#include "comm/CommandQueue.h"
#include "core/AppState.h"
#include "core/Fleet.h"
#include "ui/CommandFeedback.h"

#include <array>

namespace {

QString onOff(bool on) {
    return on ? QStringLiteral("on") : QStringLiteral("off");
}

} // namespace

ControlOperations::ControlOperations(AppState& state, CommEngine& engine)
    : m_state(state), m_engine(engine) {}

void ControlOperations::enqueue(int projector, const PlannedItem& item) {
    const int ahead = QueueLength(m_state, projector);
    if (m_engine.EnqueueCommand(projector, item) && m_feedback)
        m_feedback->queued(projector, ahead);
}

void ControlOperations::enqueue(int projector, const CommandFrame& frame) {
    enqueue(projector, PlannedItem{&frame, {}});
}

void ControlOperations::run(const QString& command, const QString& value, int projector,
                            int group) {
    for (const ProjectorPlan& plan : PlanCommand(m_state, {command, value, projector, group}))
        for (const PlannedItem& item : plan.items)
            enqueue(plan.projector, item);
}

bool ControlOperations::isPJLink(int projector) const {
    return projector >= 1 && projector <= MaxProjectors && IsPJLink(m_state.Projectors[projector]);
}

std::vector<int> ControlOperations::selection(int nodeIndex) const {
    const QChar kind = NodeKind(m_state, nodeIndex);
    std::vector<int> projectors;
    if (kind == QLatin1Char('p'))
        projectors.push_back(ProjectorOfNode(m_state, nodeIndex));
    else if (kind == QLatin1Char('g'))
        for (int member : GroupMembers(m_state, nodeIndex))
            projectors.push_back(ProjectorOfNode(m_state, member));
    std::erase_if(projectors, [](int p) { return p < 1 || p > MaxProjectors; });
    return projectors;
}

void ControlOperations::powerSelection(int nodeIndex, bool on) {
    for (int p : selection(nodeIndex)) {
        m_engine.FlushProjectorQueue(p);
        setPower(p, on);
    }
}

void ControlOperations::refreshSelection(int nodeIndex) {
    for (int p : selection(nodeIndex)) {
        m_engine.FlushProjectorQueue(p);
        enqueueRefreshSet(p);
    }
}

void ControlOperations::groupPower(int groupNode, bool on) {
    run(QStringLiteral("power"), onOff(on), 0, groupNode);
}

void ControlOperations::enqueueRefreshSet(int projector) {
    const CommandTable& c = m_engine.commands();
    for (const CommandFrame* frame :
         {&c.PowerGetCommand, &c.InputGetCommand, &c.ErrorStatusGetCommand, &c.LampTimeGetCommand,
          &c.FilterTimeGetCommand})
        enqueue(projector, *frame);
}

void ControlOperations::requeryControls(int projector) {
    const CommandTable& c = m_engine.commands();
    m_engine.FlushProjectorQueue(projector);
    if (isPJLink(projector)) {
        // One AVMT query answers both blank and mute.
        for (const CommandFrame* frame :
             {&c.PowerGetCommand, &c.InputGetCommand, &c.BlankGetCommand})
            enqueue(projector, *frame);
        const PJLinkFacts& facts = m_state.Projectors[projector].PJLink;
        // The inputs are asked when the projector is identified; a flush
        // may have dropped that question.
        if (facts.Inputs.isEmpty())
            enqueue(projector,
                    PlannedItem{nullptr, facts.Class == 2 ? QByteArrayLiteral("%2INST ?")
                                                          : QByteArrayLiteral("%1INST ?")});
        if (facts.Class == 2)
            enqueue(projector, PlannedItem{nullptr, QByteArrayLiteral("%2FREZ ?")});
        return;
    }
    for (const CommandFrame* frame :
         {&c.PowerGetCommand, &c.InputGetCommand, &c.AspectGetCommand, &c.WhisperGetCommand,
          &c.MirrorGetCommand, &c.BlankGetCommand, &c.MuteGetCommand, &c.BrightnessGetCommand,
          &c.ContrastGetCommand, &c.SharpnessGetCommand, &c.ColorGetCommand, &c.TintGetCommand})
        enqueue(projector, *frame);
}

void ControlOperations::setPower(int projector, bool on) {
    run(QStringLiteral("power"), onOff(on), projector);
}

void ControlOperations::setInput(int projector, const QString& text) {
    run(QStringLiteral("input"), text, projector);
}

void ControlOperations::setPJLinkInput(int projector, const QString& code) {
    if (isPJLink(projector))
        run(QStringLiteral("input"), code, projector);
}

void ControlOperations::setFreeze(int projector, bool on) {
    run(QStringLiteral("freeze"), onOff(on), projector);
}

void ControlOperations::setAspect(int projector, const QString& text) {
    run(QStringLiteral("aspect"), text, projector);
}

void ControlOperations::setBlank(int projector, bool on) {
    run(QStringLiteral("blank"), onOff(on), projector);
}

void ControlOperations::setMute(int projector, bool on) {
    run(QStringLiteral("mute"), onOff(on), projector);
}

void ControlOperations::setWhisper(int projector, bool on) {
    run(QStringLiteral("whisper"), onOff(on), projector);
}

void ControlOperations::setMirror(int projector, int position) {
    static const std::array<QString, 4> mirrors = {
        QStringLiteral("normal"), QStringLiteral("horizontal"), QStringLiteral("vertical"),
        QStringLiteral("both")};
    run(QStringLiteral("mirror"),
        position >= 0 && position <= 3 ? mirrors[std::size_t(position)] : QString(), projector);
}

void ControlOperations::stepPicture(int projector, PictureItem item, bool up) {
    static const std::array<QString, 5> items = {
        QStringLiteral("brightness"), QStringLiteral("contrast"), QStringLiteral("color"),
        QStringLiteral("tint"), QStringLiteral("sharpness")};
    run(items[std::size_t(item)], up ? QStringLiteral("up") : QStringLiteral("down"), projector);
}

void ControlOperations::autoAdjust(int projector) {
    run(QStringLiteral("auto-adjust"), {}, projector);
}

void ControlOperations::resetLampTime(int projector) {
    run(QStringLiteral("lamp-reset"), {}, projector);
}

void ControlOperations::resetFilterTime(int projector) {
    run(QStringLiteral("filter-reset"), {}, projector);
}
