#include "comm/StatusPoller.h"

#include "comm/CommandQueue.h"
#include "comm/CommandTable.h"
#include "comm/RefreshSink.h"
#include "core/AppState.h"

#include <algorithm>

using namespace std::chrono_literals;

StatusPoller::StatusPoller(AppState& state, const CommandTable& commands, QObject* parent)
    : QObject(parent), m_state(state), m_commands(commands)
{
    m_timer.setSingleShot(true);
    // A coarse timer may fire a little early; a pass due after whole seconds
    // would then wait one tick more, and passes drift apart.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &StatusPoller::tick);
}

void StatusPoller::start(std::chrono::milliseconds firstTick)
{
    m_timer.start(firstTick);
}

void StatusPoller::stop()
{
    m_timer.stop();
}

void StatusPoller::tick()
{
    m_timer.stop();
    const QDateTime now = m_state.clock.now();
    const qint64 elapsed = m_state.LastStatusCheck.isNull() ? -1 : m_state.LastStatusCheck.secsTo(now);
    // A clock set back makes the elapsed time negative; polling then goes on
    // at once instead of pausing until the clock catches up again.
    const bool due = elapsed < 0 || elapsed >= m_state.Timing.StatusCheckInterval;
    if (due) {
        const int count = std::min<int>(m_state.ProjectorCount, MaxProjectors);
        if (m_sink)
            m_sink->pollingPassStarted(count);
        for (int p = 1; p <= count; ++p) {
            EnqueueCommand(m_state, p, m_commands.PowerGetCommand);
            EnqueueCommand(m_state, p, m_commands.InputGetCommand);
            EnqueueCommand(m_state, p, m_commands.ErrorStatusGetCommand);
            EnqueueCommand(m_state, p, m_commands.LampTimeGetCommand);
            EnqueueCommand(m_state, p, m_commands.FilterTimeGetCommand);
        }
        m_state.LastStatusCheck = now;
    }
    m_timer.start(1s);
}
