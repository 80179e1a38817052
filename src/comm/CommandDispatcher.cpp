#include "comm/CommandDispatcher.h"

#include "comm/CommandQueue.h"
#include "comm/WakeGate.h"
#include "core/AppState.h"

#include <algorithm>

using namespace std::chrono_literals;

CommandDispatcher::CommandDispatcher(AppState& state, DispatchTarget& target, WakeGate& gate,
                                     QObject* parent)
    : QObject(parent), m_state(state), m_target(target), m_gate(gate) {
    m_timer.setInterval(10ms);
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &CommandDispatcher::runPass);
    m_state.WakeDispatcher = [this] { wake(); };
}

CommandDispatcher::~CommandDispatcher() {
    m_state.WakeDispatcher = nullptr;
}

void CommandDispatcher::wake() {
    if (m_inPass)
        m_wokenInPass = true;
    else if (m_running && !m_timer.isActive())
        m_timer.start();
}

void CommandDispatcher::start() {
    m_running = true;
    m_timer.start();
}

void CommandDispatcher::stop() {
    m_running = false;
    m_timer.stop();
}

void CommandDispatcher::runPass() {
    // A single-shot timer restarted after the pass: a slow pass is never
    // followed by a second one queued behind it.
    m_timer.stop();
    // A handler that runs a local event loop may let the timer fire again;
    // the outer pass restarts it when it is done.
    if (m_inPass)
        return;
    m_inPass = true;
    m_wokenInPass = false;
    bool pending = false;
    const int count = std::min<int>(m_state.ProjectorCount, MaxProjectors);
    for (int p = 1; p <= count; ++p) {
        const qint16 kind = m_state.Projectors[p].ConnectionKind;
        if (kind != ConnectionSerial && kind != ConnectionLan)
            continue;
        if (IsQueueEmpty(m_state, p))
            continue;
        pending = true;
        // Skipped queries cost no tick: the command behind them starts now.
        while (!IsQueueEmpty(m_state, p) && CurrentQueueEntry(m_state, p).state == QueueSkipped)
            handOver(p, [this, p] { m_target.HandleSkipped(p); });
        if (IsQueueEmpty(m_state, p))
            continue;
        switch (CurrentQueueEntry(m_state, p).state) {
        case QueueQueued:
            if (!m_gate.mayStart(p))
                break;
            m_target.Send(p);
            break;
        case QueueAcknowledged:
            handOver(p, [this, p] { m_target.HandleAcknowledge(p); });
            break;
        case QueueRefused:
            handOver(p, [this, p] { m_target.HandleFailure(p, false); });
            break;
        case QueueTimedOut:
            handOver(p, [this, p] { m_target.HandleFailure(p, true); });
            break;
        case QueueDataReply:
            handOver(p, [this, p] { m_target.HandleDataReply(p); });
            break;
        default:
            break;
        }
    }
    m_inPass = false;
    // A queue emptied by this pass may hold nothing more; one that still
    // holds a command in flight or a recorded outcome keeps the tick going.
    if (m_running && (pending || m_wokenInPass))
        m_timer.start();
}

void CommandDispatcher::handOver(int projector, const std::function<void()>& handler) {
    const qint16 slot = m_state.Queues[projector].QueueReadIndex;
    const qint16 outcome = CurrentQueueEntry(m_state, projector).state;
    handler();
    m_gate.forget(projector);
    // The handler's view refresh may have flushed this queue and queued new
    // commands; those must not be freed in place of the handed-over entry.
    if (!IsQueueEmpty(m_state, projector) && m_state.Queues[projector].QueueReadIndex == slot &&
        CurrentQueueEntry(m_state, projector).state == outcome)
        FreeCurrentEntry(m_state, projector);
}
