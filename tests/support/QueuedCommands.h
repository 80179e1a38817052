#pragma once

#include "comm/CommandQueue.h"
#include "core/AppState.h"

#include <QByteArray>
#include <QList>

// The bytes of every command waiting in a projector's queue, head first.
inline QList<QByteArray> QueuedCommands(const AppState& state, int projector) {
    QList<QByteArray> commands;
    const ProjectorQueue& queue = state.Queues[std::size_t(projector)];
    int index = queue.QueueReadIndex;
    for (int n = 0; n < QueueLength(state, projector); ++n) {
        const QueueEntry& entry = queue.entries[std::size_t(index)];
        commands << entry.command.left(entry.commandLength);
        index = index == QueueSlots ? 1 : index + 1;
    }
    return commands;
}
