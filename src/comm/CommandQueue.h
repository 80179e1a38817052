#pragma once

#include "core/AppState.h"

struct CommandFrame;

// Per-projector first-in, first-out command queues kept in AppState::Queues.
// These functions touch only the tables; CommEngine adds the transports.

// Copies the frame into the projector's queue (state 1). Refuses it (false)
// when the queue already holds 255 waiting commands, so nothing queued is
// overwritten, and for an index outside 1..256.
bool EnqueueCommand(AppState& state, int projector, const CommandFrame& frame);
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
