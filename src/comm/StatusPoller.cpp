#include "comm/StatusPoller.h"

#include "comm/CommandQueue.h"
#include "comm/EngineReports.h"
#include "comm/ProjectorProtocols.h"
#include "core/Formatting.h"

#include <algorithm>

using namespace std::chrono_literals;

namespace {

bool validIndex(int projector) {
    return projector >= 1 && projector <= MaxProjectors;
}

} // namespace

StatusPoller::StatusPoller(AppState& state, const ProjectorProtocols& protocols, QObject* parent)
    : QObject(parent), m_state(state), m_protocols(protocols) {
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
    const qint64 interval = std::max<qint64>(1, m_state.Timing.StatusCheckInterval);
    const qint64 elapsed =
        m_state.LastStatusCheck.isNull() ? -1 : m_state.LastStatusCheck.secsTo(now);
    // A clock set back makes the elapsed time negative; polling then goes on
    // at once instead of pausing until the clock catches up again.
    if (elapsed < 0 || elapsed >= interval)
        startPass(now);
    else
        startDueRounds(now);
    m_timer.start(1s);
}

bool StatusPoller::isPolled(int projector) const {
    const qint16 kind = m_state.Projectors[projector].ConnectionKind;
    return kind == ConnectionLan || kind == ConnectionSerial;
}

bool StatusPoller::isDue(int projector, const QDateTime& now) const {
    const Round& round = m_rounds[std::size_t(projector)];
    if (round.started.isNull())
        return true;
    const qint64 interval = std::max<qint64>(1, m_state.Timing.StatusCheckInterval);
    qint64 pace = interval;
    if (round.unanswered && m_state.Projectors[projector].Disconnected)
        pace =
            std::max(interval, std::min(interval * ProbeIntervals, qint64(ProbeCeiling.count())));
    const qint64 elapsed = round.started.secsTo(now);
    return elapsed < 0 || elapsed >= pace;
}

void StatusPoller::checkLateness(const QDateTime& now) {
    if (!m_sinceLastPass.isValid())
        return;
    const qint64 intervalMs = 1000 * std::max<qint64>(1, m_state.Timing.StatusCheckInterval);
    const qint64 lateMs = m_sinceLastPass.elapsed() - intervalMs;
    PollTiming& timing = m_state.Polling;
    if (lateMs >= std::max<qint64>(intervalMs, std::chrono::milliseconds(LateFloor).count())) {
        timing.Behind = true;
        const QDateTime due = now.addMSecs(-lateMs);
        m_state.Health.raise(
            HealthCondition::PollingBehind,
            QStringLiteral("Polling is behind: the pass due at %1 started %2 s late")
                .arg(FormatShortTime(m_state, due.time()))
                .arg(lateMs / 1000));
    } else if (timing.Behind) {
        timing.Behind = false;
        m_state.Health.clear(HealthCondition::PollingBehind,
                             QStringLiteral("Polling keeps up again"));
    }
}

void StatusPoller::startPass(const QDateTime& now) {
    const bool forced = m_state.LastStatusCheck.isNull();
    if (!forced)
        checkLateness(now);
    // Rounds of the last pass still running carry on as their projectors'
    // own; that pass is never counted as done.
    for (Round& round : m_rounds)
        round.inPass = false;
    m_outstanding = 0;
    const int count = std::min<int>(m_state.ProjectorCount, MaxProjectors);
    if (m_sink)
        m_sink->pollingPassStarted(count);
    m_state.Polling.LastPassStart = now;
    m_state.LastStatusCheck = now;
    m_sinceLastPass.start();
    m_protocols.each([](ProjectorProtocol& protocol) { protocol.passStarted(); });
    for (int p = 1; p <= count; ++p) {
        // Queries to a projector without a connection kind are never sent;
        // the pass does not wait for them.
        if (!isPolled(p)) {
            queueRound(p);
            continue;
        }
        Round& round = m_rounds[std::size_t(p)];
        if (round.running || (!forced && !isDue(p, now)))
            continue;
        round.started = now;
        if (queueRound(p)) {
            round.running = round.inPass = true;
            ++m_outstanding;
        }
    }
    if (m_outstanding == 0)
        passDone();
}

void StatusPoller::startDueRounds(const QDateTime& now) {
    const int count = std::min<int>(m_state.ProjectorCount, MaxProjectors);
    for (int p = 1; p <= count; ++p) {
        Round& round = m_rounds[std::size_t(p)];
        // A projector never polled waits for the next pass.
        if (round.running || round.started.isNull() || !isPolled(p) || !isDue(p, now))
            continue;
        round.started = now;
        round.running = queueRound(p);
    }
}

bool StatusPoller::queueRound(int projector) {
    Round& round = m_rounds[std::size_t(projector)];
    const qint16 first = m_state.Queues[projector].QueueWriteIndex;
    m_protocols.of(projector).queueStatusQueries(projector);
    round.answered = false;
    const qint16 next = m_state.Queues[projector].QueueWriteIndex;
    if (next == first)
        return false;
    round.firstSlot = first;
    round.lastSlot = next == 1 ? qint16(QueueSlots) : qint16(next - 1);
    return true;
}

void StatusPoller::handingOver(int projector, bool timedOut) {
    if (!validIndex(projector))
        return;
    Round& round = m_rounds[std::size_t(projector)];
    const qint16 head = m_state.Queues[projector].QueueReadIndex;
    if (!round.running || !IsSlotBetween(head, round.firstSlot, round.lastSlot))
        return;
    if (!timedOut)
        round.answered = true;
    if (head == round.lastSlot) {
        roundDone(projector, !round.answered);
    } else if (timedOut && !round.answered) {
        // No connection, or no reply to the first query: the others would
        // only wait as long again. A projector that answered part of the
        // round is asked the rest.
        SkipAfterHead(m_state, projector, round.lastSlot);
        roundDone(projector, true);
    }
}

void StatusPoller::queueDropped(int projector) {
    if (validIndex(projector) && m_rounds[std::size_t(projector)].running)
        roundDone(projector, false);
}

void StatusPoller::projectorEdited(int projector) {
    if (!validIndex(projector))
        return;
    queueDropped(projector);
    m_rounds[std::size_t(projector)] = Round{};
}

void StatusPoller::roundDone(int projector, bool unanswered) {
    Round& round = m_rounds[std::size_t(projector)];
    round.running = false;
    round.unanswered = unanswered;
    if (!round.inPass)
        return;
    round.inPass = false;
    if (--m_outstanding == 0)
        passDone();
}

void StatusPoller::passDone() {
    PollTiming& timing = m_state.Polling;
    const QDateTime now = m_state.clock.now();
    timing.LastPassEnd = now;
    timing.LastPassSeconds = std::max<qint64>(0, timing.LastPassStart.msecsTo(now)) / 1000.0;
}
