#include "comm/CommandDispatcher.h"

#include "comm/CommandQueue.h"
#include "core/AppState.h"

#include <algorithm>

using namespace std::chrono_literals;

CommandDispatcher::CommandDispatcher(AppState& state, DispatchTarget& target, QObject* parent)
    : QObject(parent), m_state(state), m_target(target)
{
    m_timer.setInterval(10ms);
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &CommandDispatcher::runPass);
}

void CommandDispatcher::start()
{
    m_running = true;
    m_timer.start();
}

void CommandDispatcher::stop()
{
    m_running = false;
    m_timer.stop();
}

void CommandDispatcher::runPass()
{
    // A single-shot timer restarted after the pass: a slow pass is never
    // followed by a second one queued behind it.
    m_timer.stop();
    const int count = std::min<int>(m_state.ProjectorCount, MaxProjectors);
    for (int p = 1; p <= count; ++p) {
        const qint16 kind = m_state.Projectors[p].ConnectionKind;
        if (kind != ConnectionSerial && kind != ConnectionLan)
            continue;
        if (IsQueueEmpty(m_state, p))
            continue;
        switch (CurrentQueueEntry(m_state, p).state) {
        case QueueQueued:
            if (kind == ConnectionLan)
                m_target.LanSend(p);
            else
                m_target.SerialSend(p);
            break;
        case QueueAcknowledged:
            m_target.HandleAcknowledge(p);
            FreeCurrentEntry(m_state, p);
            break;
        case QueueRefused:
            m_target.HandleFailure(p, false);
            FreeCurrentEntry(m_state, p);
            break;
        case QueueTimedOut:
            m_target.HandleFailure(p, true);
            FreeCurrentEntry(m_state, p);
            break;
        case QueueDataReply:
            m_target.HandleDataReply(p);
            FreeCurrentEntry(m_state, p);
            break;
        default:
            break;
        }
    }
    if (m_running)
        m_timer.start();
}
