#pragma once

#include "core/AppState.h"

struct CommandFrame;

// Per-projector first-in, first-out command queues kept in AppState::Queues.
// These functions touch only the tables; CommEngine adds the transports.

// Copies the frame into the projector's queue (state 1). Refuses it (false)
// when the queue already holds 255 waiting commands, so nothing queued is
// overwritten, and for an index outside 1..256. For a PJLink projector the
// frame is queued as its PJLink line; one that PJLink has no command for is
// refused (false) without a log line.
bool EnqueueCommand(AppState& state, int projector, const CommandFrame& frame);
// Queues a PJLink line (without its CR) for a PJLink projector; false for a
// full queue, a line over MaxQueuedLineBytes or a projector of the own
// protocol.
bool EnqueueLine(AppState& state, int projector, const QByteArray& line);
inline constexpr int MaxQueuedLineBytes = 24;
// The entry at the projector's read index.
QueueEntry& CurrentQueueEntry(AppState& state, int projector);
bool IsQueueEmpty(const AppState& state, int projector);
// Number of commands waiting (including the one in flight).
int QueueLength(const AppState& state, int projector);
// Resets all slots of one projector and both indices to 1.
void ResetProjectorQueue(AppState& state, int projector);
// Stores the first bytes of a data reply (at most MaxStoredReplyBytes) in the
// entry's own buffer, and their count.
void StoreReply(QueueEntry& entry, const QByteArray& reply);
// Sets the head entry free and advances the read index (257 becomes 1).
void FreeCurrentEntry(AppState& state, int projector);
// Marks the waiting entries after the head, up to and including slot `last`,
// as skipped (QueueSkipped); returns how many were marked. Nothing when
// `last` is no waiting slot.
int SkipAfterHead(AppState& state, int projector, qint16 last);
// Whether slot lies in the run of slots from first to last (both included),
// counted round the ring.
bool IsSlotBetween(qint16 slot, qint16 first, qint16 last);
