#include "comm/CommandQueue.h"

#include "core/CommLogs.h"
#include "pjlink/PJLinkCodec.h"
#include "protocol/CommandTable.h"
#include "protocol/ReplyFraming.h"

#include <algorithm>
#include <cstring>

namespace {

bool validIndex(int projector) {
    return projector >= 1 && projector <= MaxProjectors;
}

// Writes bytes into a slot's own buffer, which is made once with room for
// `room` bytes and then reused: a queue that runs for weeks allocates nothing
// per command.
void putBytes(QByteArray& slot, const char* data, qsizetype size, qsizetype room) {
    if (!slot.isDetached() || slot.capacity() < size) {
        slot = QByteArray();
        slot.reserve(room);
    }
    slot.resize(size);
    std::memcpy(slot.data(), data, std::size_t(size));
}

qint16 nextSlot(qint16 index) {
    return index >= QueueSlots ? 1 : qint16(index + 1);
}

// Room of a slot's command buffer: a frame, or a PJLink line.
constexpr qsizetype CommandRoom = std::max<qsizetype>(CommandFrameBytes, MaxQueuedLineBytes);

// Copies a command into the next free slot; false when the queue is full.
bool enqueueBytes(AppState& state, int projector, const char* data, qsizetype size,
                  const QString& logged) {
    ProjectorQueue& q = state.Queues[projector];
    // One slot always stays unused: with 255 waiting commands a further one
    // would make the queue read as empty and later overwrite waiting ones.
    if (nextSlot(q.QueueWriteIndex) == q.QueueReadIndex) {
        WriteCommLog(state, QStringLiteral("Queue-Full(%1):").arg(projector) + logged);
        return false;
    }
    QueueEntry& entry = q.entries[q.QueueWriteIndex];
    putBytes(entry.command, data, size, CommandRoom);
    entry.commandLength = qint32(size);
    entry.replyLength = 0;
    entry.state = QueueQueued;
    q.QueueWriteIndex = nextSlot(q.QueueWriteIndex);
    if (state.WakeDispatcher)
        state.WakeDispatcher();
    return true;
}

} // namespace

bool EnqueueCommand(AppState& state, int projector, const CommandFrame& frame) {
    if (!validIndex(projector))
        return false;
    const ProjectorInfo& info = state.Projectors[projector];
    if (IsPJLink(info)) {
        const std::optional<QByteArray> line = PJLinkLineForFrame(frame, info.PJLink.Class);
        return line && EnqueueLine(state, projector, *line);
    }
    const QByteArray bytes = frame.toByteArray();
    return enqueueBytes(state, projector, bytes.constData(), bytes.size(), FormatFrameHex(bytes));
}

bool EnqueueLine(AppState& state, int projector, const QByteArray& line) {
    if (!validIndex(projector) || !IsPJLink(state.Projectors[projector]) || line.isEmpty() ||
        line.size() > MaxQueuedLineBytes)
        return false;
    return enqueueBytes(state, projector, line.constData(), line.size(), PJLinkLogText(line));
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
    ProjectorQueue& q = state.Queues[projector];
    // Configured projectors get their slot buffers now, before any polling,
    // so that memory stays flat from the first pass on; the others only
    // when they are first used.
    const bool configured = projector <= state.ProjectorCount;
    static const QByteArray zero(1, '\0');
    for (QueueEntry& entry : q.entries) {
        entry.state = QueueFree;
        if (configured || entry.command.isDetached())
            putBytes(entry.command, zero.constData(), 1, CommandRoom);
        else
            entry.command = zero;
        entry.commandLength = 0;
        if (configured || entry.reply.isDetached())
            putBytes(entry.reply, zero.constData(), 1, MaxStoredReplyBytes);
        else
            entry.reply = zero;
        entry.replyLength = 0;
    }
    q.QueueWriteIndex = 1;
    q.QueueReadIndex = 1;
}

void StoreReply(QueueEntry& entry, const QByteArray& reply) {
    const qsizetype size = std::min<qsizetype>(reply.size(), MaxStoredReplyBytes);
    putBytes(entry.reply, reply.constData(), size, MaxStoredReplyBytes);
    entry.replyLength = qint32(size);
}

void FreeCurrentEntry(AppState& state, int projector) {
    if (IsQueueEmpty(state, projector))
        return;
    ProjectorQueue& q = state.Queues[projector];
    q.entries[q.QueueReadIndex].state = QueueFree;
    q.QueueReadIndex = nextSlot(q.QueueReadIndex);
}

bool IsSlotBetween(qint16 slot, qint16 first, qint16 last) {
    return (slot - first + QueueSlots) % QueueSlots <= (last - first + QueueSlots) % QueueSlots;
}

int SkipAfterHead(AppState& state, int projector, qint16 last) {
    if (IsQueueEmpty(state, projector))
        return 0;
    ProjectorQueue& q = state.Queues[projector];
    if ((last - q.QueueReadIndex + QueueSlots) % QueueSlots >= QueueLength(state, projector))
        return 0;
    int skipped = 0;
    for (qint16 slot = q.QueueReadIndex; slot != last;) {
        slot = nextSlot(slot);
        QueueEntry& entry = q.entries[std::size_t(slot)];
        if (entry.state == QueueQueued) {
            entry.state = QueueSkipped;
            ++skipped;
        }
    }
    return skipped;
}
