#include "comm/WakeGate.h"

#include "comm/CommandQueue.h"
#include "pjlink/PJLinkCodec.h"
#include "protocol/CommandTable.h"

#include <QByteArrayView>
#include <QLoggingCategory>

namespace {

Q_LOGGING_CATEGORY(lcWake, "norvik.wake")

bool validIndex(int projector) {
    return projector >= 1 && projector <= MaxProjectors;
}

} // namespace

bool WakeGate::isPowerOn(int projector) const {
    const ProjectorInfo& info = m_state.Projectors[projector];
    const ProjectorQueue& q = m_state.Queues[projector];
    const QueueEntry& entry = q.entries[q.QueueReadIndex];
    const QByteArrayView queued(entry.command.constData(), entry.commandLength);
    const CommandFrame& powerOn = BuildCommandTable().PowerOnCommand;
    if (!IsPJLink(info))
        return queued == QByteArrayView(powerOn.bytes.data(), powerOn.bytes.size());
    const std::optional<QByteArray> line = PJLinkLineForFrame(powerOn, info.PJLink.Class);
    return line && queued.compare(*line, Qt::CaseInsensitive) == 0;
}

bool WakeGate::wakesFirst(int projector) const {
    const ProjectorInfo& info = m_state.Projectors[projector];
    return m_settings.enabled && info.WakeOnLan && info.ConnectionKind == ConnectionLan &&
           isPowerOn(projector);
}

bool WakeGate::mayStart(int projector) {
    if (!validIndex(projector) || IsQueueEmpty(m_state, projector))
        return true;
    std::optional<Hold>& hold = m_holds[std::size_t(projector)];
    const ProjectorInfo& info = m_state.Projectors[projector];
    const qint16 slot = m_state.Queues[projector].QueueReadIndex;
    if (hold && (hold->projectorId != info.ProjectorId || hold->slot != slot))
        hold.reset();
    const Clock::time_point now = Clock::now();
    if (hold)
        return now >= hold->until;
    if (!wakesFirst(projector))
        return true;
    hold = Hold{info.ProjectorId, slot, now + m_settings.delay};
    const QString problem = SendWakeOnLan(info.MACAddress, info.IPAddress);
    if (!problem.isEmpty()) {
        // Kept as a finished hold, so a command sent again is not told twice.
        hold->until = now;
        qCWarning(lcWake).noquote()
            << QStringLiteral("%1 is powered on without waking it by LAN: %2")
                   .arg(info.ProjectorName, problem);
        return true;
    }
    if (m_holdStarted)
        m_holdStarted(projector);
    return now >= hold->until;
}

void WakeGate::forget(int projector) {
    if (validIndex(projector))
        m_holds[std::size_t(projector)].reset();
}

void WakeGate::forgetAll() {
    for (std::optional<Hold>& hold : m_holds)
        hold.reset();
}
