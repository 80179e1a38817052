#include "ui/PollProgress.h"

#include "comm/CommandQueue.h"
#include "core/Formatting.h"

#include <algorithm>

PollProgress::PollProgress(const AppState& state) : m_state(state) {
    m_behindWatch = QObject::connect(&state.Health, &HealthReport::changed,
                                     [this](HealthCondition condition, bool, const QString&) {
                                         if (condition == HealthCondition::PollingBehind)
                                             report(m_progress);
                                     });
}

PollProgress::~PollProgress() {
    QObject::disconnect(m_behindWatch);
}

void PollProgress::passStarted(int projectorCount) {
    if (m_running)
        summarise();
    m_slots.fill(Slot{});
    m_total = std::clamp(projectorCount, 0, MaxProjectors);
    m_done = 0;
    m_answered = 0;
    m_running = true;
    for (int p = 1; p <= m_total; ++p)
        m_slots[p] = Slot{true, QueueLength(m_state, p), QueriesPerPass, false};
    if (m_total == 0)
        summarise();
    else
        report(QStringLiteral("Polling: 0 of %1 projectors done").arg(m_total));
}

void PollProgress::finished(int projector, CommandOutcome outcome) {
    if (!m_running || projector < 1 || projector > MaxProjectors)
        return;
    Slot& slot = m_slots[projector];
    if (!slot.inPass)
        return;
    if (slot.ahead > 0) {
        --slot.ahead;
        return;
    }
    if (outcome != CommandOutcome::TimedOut)
        slot.answered = true;
    if (--slot.remaining == 0)
        projectorDone(slot);
}

void PollProgress::dropped(int projector) {
    if (!m_running || projector < 1 || projector > MaxProjectors || !m_slots[projector].inPass)
        return;
    projectorDone(m_slots[projector]);
}

void PollProgress::projectorDone(Slot& slot) {
    slot.inPass = false;
    ++m_done;
    if (slot.answered)
        ++m_answered;
    report(QStringLiteral("Polling: %1 of %2 projectors done").arg(m_done).arg(m_total));
    if (m_done == m_total)
        summarise();
}

// Projectors not done when the next pass starts count as not answering.
void PollProgress::summarise() {
    m_running = false;
    const QString time = FormatShortTime(m_state, m_state.clock.now().time());
    report(QStringLiteral("Last poll %1: %2 answered, %3 did not")
               .arg(time)
               .arg(m_answered)
               .arg(m_total - m_answered));
}

QString PollProgress::widestText() {
    return QStringLiteral("Last poll 88:88 PM: 888 answered, 888 did not");
}

void PollProgress::report(const QString& text) {
    m_progress = text;
    const HealthReport::Entry& behind = m_state.Health.entry(HealthCondition::PollingBehind);
    m_text = behind.active ? text + QStringLiteral(". ") + behind.text : text;
    if (m_reporter)
        m_reporter(m_text);
}
