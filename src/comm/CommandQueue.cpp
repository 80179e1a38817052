#include "comm/CommandQueue.h"

#include "comm/CommandTable.h"
#include "log/CommLogs.h"

namespace {

bool validIndex(int projector) {
    return projector >= 1 && projector <= MaxProjectors;
}

qint16 nextSlot(qint16 index) {
    return index >= QueueSlots ? 1 : qint16(index + 1);
}

} // namespace

bool EnqueueCommand(AppState& state, int projector, const CommandFrame& frame) {
    if (!validIndex(projector))
        return false;
    ProjectorQueue& q = state.Queues[projector];
    const QByteArray bytes = frame.toByteArray();
    // One slot always stays unused: with 255 waiting commands a further one
    // would make the queue read as empty and later overwrite waiting ones.
    if (nextSlot(q.QueueWriteIndex) == q.QueueReadIndex) {
        WriteCommLog(state,
                     QStringLiteral("Queue-Full(%1):").arg(projector) + FormatFrameHex(bytes));
        return false;
    }
    QueueEntry& entry = q.entries[q.QueueWriteIndex];
    entry.command = bytes;
    entry.commandLength = qint32(bytes.size());
    entry.replyLength = 0;
    entry.state = QueueQueued;
    q.QueueWriteIndex = nextSlot(q.QueueWriteIndex);
    if (state.WakeDispatcher)
        state.WakeDispatcher();
    return true;
}

QueueEntry& CurrentQueueEntry(AppState& state, int projector) {
    ProjectorQueue& q = state.Queues[validIndex(projector) ? projector : 0];
    return q.entries[q.QueueReadIndex];
}

bool IsQueueEmpty(const AppState& state, int projector) {
    if (!validIndex(projector))
        return true;
    const ProjectorQueue& q = state.Queues[projector];
    return q.QueueWriteIndex == q.QueueReadIndex;
}

int QueueLength(const AppState& state, int projector) {
    if (!validIndex(projector))
        return 0;
    const ProjectorQueue& q = state.Queues[projector];
    return (q.QueueWriteIndex - q.QueueReadIndex + QueueSlots) % QueueSlots;
}

void ResetProjectorQueue(AppState& state, int projector) {
    if (!validIndex(projector))
        return;
    // The reset form shares one zero byte instead of allocating per slot.
    static const QByteArray zero(1, '\0');
    ProjectorQueue& q = state.Queues[projector];
    for (QueueEntry& entry : q.entries) {
        entry.state = QueueFree;
        entry.command = zero;
        entry.commandLength = 0;
        entry.reply = zero;
        entry.replyLength = 0;
    }
    q.QueueWriteIndex = 1;
    q.QueueReadIndex = 1;
}

void FreeCurrentEntry(AppState& state, int projector) {
    if (IsQueueEmpty(state, projector))
        return;
    ProjectorQueue& q = state.Queues[projector];
    q.entries[q.QueueReadIndex].state = QueueFree;
    q.QueueReadIndex = nextSlot(q.QueueReadIndex);
}
