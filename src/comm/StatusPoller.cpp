#include "comm/StatusPoller.h"

#include "comm/CommandQueue.h"
#include "comm/CommandTable.h"
#include "comm/RefreshSink.h"
#include "core/Formatting.h"
#include "pjlink/PJLinkReplies.h"

#include <algorithm>

using namespace std::chrono_literals;

StatusPoller::StatusPoller(AppState& state, const CommandTable& commands, QObject* parent)
    : QObject(parent), m_state(state), m_commands(commands) {
    m_timer.setSingleShot(true);
    // A coarse timer may fire a little early; a pass due after whole seconds
    // would then wait one tick more, and passes drift apart.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &StatusPoller::tick);
}

void StatusPoller::start(std::chrono::milliseconds firstTick) {
    m_timer.start(firstTick);
}

void StatusPoller::stop() {
    m_timer.stop();
}

void StatusPoller::tick() {
    m_timer.stop();
    const QDateTime now = m_state.clock.now();
    const qint64 interval = m_state.Timing.StatusCheckInterval;
    if (isPassUnderWay()) {
        PollTiming& timing = m_state.Polling;
        const qint64 running = timing.LastPassStart.secsTo(now);
        // After the clock was set back, the pass is timed from now on.
        if (running < 0)
            timing.LastPassStart = now;
        else if (running >= interval)
            markBehind();
    } else {
        const qint64 elapsed =
            m_state.LastStatusCheck.isNull() ? -1 : m_state.LastStatusCheck.secsTo(now);
        // A clock set back makes the elapsed time negative; polling then goes
        // on at once instead of pausing until the clock catches up again.
        if (elapsed < 0 || elapsed >= interval)
            startPass(now);
    }
    m_timer.start(1s);
}

void StatusPoller::markBehind() {
    PollTiming& timing = m_state.Polling;
    if (timing.Behind)
        return;
    timing.Behind = true;
    m_state.Health.raise(
        HealthCondition::PollingBehind,
        QStringLiteral("Polling is behind: the pass started at %1 is not done after %2 s")
            .arg(FormatShortTime(m_state, timing.LastPassStart.time()))
            .arg(m_state.Timing.StatusCheckInterval));
}

void StatusPoller::startPass(const QDateTime& now) {
    const int count = std::min<int>(m_state.ProjectorCount, MaxProjectors);
    if (m_sink)
        m_sink->pollingPassStarted(count);
    m_state.Polling.LastPassStart = now;
    m_state.LastStatusCheck = now;
    m_pending.reset();
    m_outstanding = 0;
    if (m_passStarted)
        m_passStarted();
    for (int p = 1; p <= count; ++p) {
        if (IsPJLink(m_state.Projectors[p]))
            queuePJLinkQueries(p);
        else
            queueOwnQueries(p);
        // Queries to a projector without a connection kind are never sent;
        // the pass does not wait for them.
        const qint16 kind = m_state.Projectors[p].ConnectionKind;
        if (!IsQueueEmpty(m_state, p) && (kind == ConnectionLan || kind == ConnectionSerial)) {
            m_pending.set(std::size_t(p));
            ++m_outstanding;
        }
    }
    if (m_outstanding == 0)
        passDone();
}

void StatusPoller::queueOwnQueries(int projector) {
    const CommandFrame* queries[] = {
        &m_commands.PowerGetCommand, &m_commands.InputGetCommand, &m_commands.ErrorStatusGetCommand,
        &m_commands.LampTimeGetCommand, &m_commands.FilterTimeGetCommand};
    for (const CommandFrame* query : queries) {
        const qint16 slot = m_state.Queues[projector].QueueWriteIndex;
        if (!EnqueueCommand(m_state, projector, *query))
            break;
        m_lastSlot[std::size_t(projector)] = slot;
    }
}

void StatusPoller::queuePJLinkQueries(int projector) {
    for (const QByteArray& line : PJLinkPollLines(m_state.Projectors[projector])) {
        const qint16 slot = m_state.Queues[projector].QueueWriteIndex;
        if (!EnqueueLine(m_state, projector, line))
            break;
        m_lastSlot[std::size_t(projector)] = slot;
    }
}

void StatusPoller::handingOver(int projector) {
    if (projector >= 1 && projector <= MaxProjectors && m_pending.test(std::size_t(projector)) &&
        m_state.Queues[projector].QueueReadIndex == m_lastSlot[std::size_t(projector)])
        projectorDone(projector);
}

void StatusPoller::queueDropped(int projector) {
    if (projector >= 1 && projector <= MaxProjectors && m_pending.test(std::size_t(projector)))
        projectorDone(projector);
}

void StatusPoller::projectorDone(int projector) {
    m_pending.reset(std::size_t(projector));
    if (--m_outstanding == 0)
        passDone();
}

void StatusPoller::passDone() {
    PollTiming& timing = m_state.Polling;
    const QDateTime now = m_state.clock.now();
    timing.LastPassEnd = now;
    timing.LastPassSeconds = std::max<qint64>(0, timing.LastPassStart.msecsTo(now)) / 1000.0;
    if (timing.LastPassSeconds <= double(m_state.Timing.StatusCheckInterval)) {
        if (timing.Behind)
            m_state.Health.clear(HealthCondition::PollingBehind,
                                 QStringLiteral("Polling keeps up again"));
        timing.Behind = false;
    } else {
        // Ended late between two ticks: late all the same.
        markBehind();
    }
}
