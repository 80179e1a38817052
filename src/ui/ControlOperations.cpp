#include "ui/ControlOperations.h"

#include "comm/CommEngine.h"
#include "comm/CommandQueue.h"
#include "core/AppState.h"
#include "core/Fleet.h"
#include "core/ModelFile.h"
#include "pjlink/PJLinkCodec.h"
#include "ui/CommandFeedback.h"
#include "ui/StatusTexts.h"

#include <array>

ControlOperations::ControlOperations(AppState& state, CommEngine& engine)
    : m_state(state), m_engine(engine) {}

void ControlOperations::enqueue(int projector, const CommandFrame& frame) {
    if (projector < 1 || projector > MaxProjectors)
        return;
    const int ahead = QueueLength(m_state, projector);
    if (m_engine.EnqueueCommand(projector, frame) && m_feedback)
        m_feedback->queued(projector, ahead);
}

void ControlOperations::enqueueLine(int projector, const QByteArray& line) {
    if (projector < 1 || projector > MaxProjectors)
        return;
    const int ahead = QueueLength(m_state, projector);
    if (m_engine.EnqueuePJLink(projector, line) && m_feedback)
        m_feedback->queued(projector, ahead);
}

bool ControlOperations::isPJLink(int projector) const {
    return projector >= 1 && projector <= MaxProjectors && IsPJLink(m_state.Projectors[projector]);
}

void ControlOperations::flush(int projector) {
    if (projector >= 1 && projector <= MaxProjectors)
        m_engine.FlushProjectorQueue(projector);
}

void ControlOperations::powerSelection(int nodeIndex, bool on) {
    const CommandTable& c = m_engine.commands();
    const CommandFrame& frame = on ? c.PowerOnCommand : c.PowerOffCommand;
    const QChar kind = NodeKind(m_state, nodeIndex);
    if (kind == QLatin1Char('p')) {
        const int p = ProjectorOfNode(m_state, nodeIndex);
        if (p < 1)
            return;
        flush(p);
        enqueue(p, frame);
    } else if (kind == QLatin1Char('g')) {
        for (int member : GroupMembers(m_state, nodeIndex)) {
            const int p = ProjectorOfNode(m_state, member);
            if (p < 1)
                continue;
            flush(p);
            enqueue(p, frame);
        }
    }
}

void ControlOperations::refreshSelection(int nodeIndex) {
    const QChar kind = NodeKind(m_state, nodeIndex);
    if (kind == QLatin1Char('p')) {
        const int p = ProjectorOfNode(m_state, nodeIndex);
        if (p < 1)
            return;
        flush(p);
        enqueueRefreshSet(p);
    } else if (kind == QLatin1Char('g')) {
        for (int member : GroupMembers(m_state, nodeIndex)) {
            const int p = ProjectorOfNode(m_state, member);
            if (p < 1)
                continue;
            flush(p);
            enqueueRefreshSet(p);
        }
    }
}

void ControlOperations::groupPower(int groupNode, bool on) {
    if (NodeKind(m_state, groupNode) != QLatin1Char('g'))
        return;
    const CommandTable& c = m_engine.commands();
    for (int member : GroupMembers(m_state, groupNode))
        enqueue(ProjectorOfNode(m_state, member), on ? c.PowerOnCommand : c.PowerOffCommand);
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
    flush(projector);
    if (isPJLink(projector)) {
        // One AVMT query answers both blank and mute.
        for (const CommandFrame* frame :
             {&c.PowerGetCommand, &c.InputGetCommand, &c.BlankGetCommand})
            enqueue(projector, *frame);
        const PJLinkFacts& facts = m_state.Projectors[projector].PJLink;
        // The inputs are asked when the projector is identified; a flush
        // may have dropped that question.
        if (facts.Inputs.isEmpty())
            enqueueLine(projector, facts.Class == 2 ? QByteArrayLiteral("%2INST ?")
                                                    : QByteArrayLiteral("%1INST ?"));
        if (facts.Class == 2)
            enqueueLine(projector, QByteArrayLiteral("%2FREZ ?"));
        return;
    }
    for (const CommandFrame* frame :
         {&c.PowerGetCommand, &c.InputGetCommand, &c.AspectGetCommand, &c.WhisperGetCommand,
          &c.MirrorGetCommand, &c.BlankGetCommand, &c.MuteGetCommand, &c.BrightnessGetCommand,
          &c.ContrastGetCommand, &c.SharpnessGetCommand, &c.ColorGetCommand, &c.TintGetCommand})
        enqueue(projector, *frame);
}

void ControlOperations::setPower(int projector, bool on) {
    const CommandTable& c = m_engine.commands();
    enqueue(projector, on ? c.PowerOnCommand : c.PowerOffCommand);
}

void ControlOperations::setInput(int projector, const QString& text) {
    const CommandTable& c = m_engine.commands();
    const std::array<const CommandFrame*, 7> sets = {
        &c.InputSet0Command, &c.InputSet1Command, &c.InputSet2Command, &c.InputSet3Command,
        &c.InputSet4Command, &c.InputSet5Command, &c.InputSet6Command};
    if (projector < 1 || projector > MaxProjectors)
        return;
    const ProjectorInfo& info = m_state.Projectors[projector];
    if (IsPJLink(info)) {
        for (const QString& code : info.PJLink.Inputs)
            if (code == text || PJLinkInputEntryText(info, code) == text)
                return setPJLinkInput(projector, code);
        enqueue(projector, c.InputGetCommand);
        return;
    }
    const ModelInfo* model = FindModel(m_state, info.ModelName);
    int code = -1;
    if (model && InputCodeOfText(*model, text, &code) && code >= 0 && code <= 6)
        enqueue(projector, *sets[code]);
    enqueue(projector, c.InputGetCommand);
}

void ControlOperations::setPJLinkInput(int projector, const QString& code) {
    if (!isPJLink(projector))
        return;
    enqueueLine(projector, PJLinkInputLine(code, m_state.Projectors[projector].PJLink.Class));
    enqueue(projector, m_engine.commands().InputGetCommand);
}

void ControlOperations::setFreeze(int projector, bool on) {
    if (!isPJLink(projector))
        return;
    enqueueLine(projector, PJLinkFreezeLine(on));
    enqueueLine(projector, QByteArrayLiteral("%2FREZ ?"));
}

void ControlOperations::setAspect(int projector, const QString& text) {
    const CommandTable& c = m_engine.commands();
    const std::array<const CommandFrame*, 8> sets = {
        &c.AspectSet0Command, &c.AspectSet1Command, &c.AspectSet2Command, &c.AspectSet3Command,
        &c.AspectSet4Command, &c.AspectSet5Command, &c.AspectSet6Command, &c.AspectSet7Command};
    if (projector < 1 || projector > MaxProjectors)
        return;
    const ModelInfo* model = FindModel(m_state, m_state.Projectors[projector].ModelName);
    int code = -1;
    if (model && AspectCodeOfText(*model, text, &code)) {
        if (code >= 0 && code <= 7)
            enqueue(projector, *sets[code]);
        else if (code == 16)
            enqueue(projector, c.AspectSet16Command);
    }
    enqueue(projector, c.AspectGetCommand);
}

void ControlOperations::setBlank(int projector, bool on) {
    const CommandTable& c = m_engine.commands();
    enqueue(projector, on ? c.BlankOnCommand : c.BlankOffCommand);
    enqueue(projector, c.BlankGetCommand);
}

void ControlOperations::setMute(int projector, bool on) {
    const CommandTable& c = m_engine.commands();
    enqueue(projector, on ? c.MuteOnCommand : c.MuteOffCommand);
    enqueue(projector, c.MuteGetCommand);
}

void ControlOperations::setWhisper(int projector, bool on) {
    const CommandTable& c = m_engine.commands();
    enqueue(projector, on ? c.WhisperOnCommand : c.WhisperNormalCommand);
    enqueue(projector, c.WhisperGetCommand);
}

void ControlOperations::setMirror(int projector, int position) {
    const CommandTable& c = m_engine.commands();
    const std::array<const CommandFrame*, 4> sets = {
        &c.MirrorNormalCommand, &c.MirrorHInverseCommand, &c.MirrorVInverseCommand,
        &c.MirrorHVInverseCommand};
    if (position >= 0 && position <= 3)
        enqueue(projector, *sets[position]);
    enqueue(projector, c.MirrorGetCommand);
}

void ControlOperations::stepPicture(int projector, PictureItem item, bool up) {
    const CommandTable& c = m_engine.commands();
    struct Frames {
        const CommandFrame* increment;
        const CommandFrame* decrement;
        const CommandFrame* get;
    };
    const std::array<Frames, 5> frames = {{
        {&c.BrightnessIncrementCommand, &c.BrightnessDecrementCommand, &c.BrightnessGetCommand},
        {&c.ContrastIncrementCommand, &c.ContrastDecrementCommand, &c.ContrastGetCommand},
        {&c.ColorIncrementCommand, &c.ColorDecrementCommand, &c.ColorGetCommand},
        {&c.TintIncrementCommand, &c.TintDecrementCommand, &c.TintGetCommand},
        {&c.SharpnessIncrementCommand, &c.SharpnessDecrementCommand, &c.SharpnessGetCommand},
    }};
    const Frames& f = frames[item];
    enqueue(projector, up ? *f.increment : *f.decrement);
    enqueue(projector, *f.get);
}

void ControlOperations::autoAdjust(int projector) {
    enqueue(projector, m_engine.commands().AutoAdjustExecuteCommand);
}

void ControlOperations::resetLampTime(int projector) {
    const CommandTable& c = m_engine.commands();
    enqueue(projector, c.LampTimeResetCommand);
    enqueue(projector, c.LampTimeGetCommand);
}

void ControlOperations::resetFilterTime(int projector) {
    const CommandTable& c = m_engine.commands();
    enqueue(projector, c.FilterTimeResetCommand);
    enqueue(projector, c.FilterTimeGetCommand);
}
