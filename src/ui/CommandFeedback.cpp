#include "ui/CommandFeedback.h"

#include "core/AppState.h"
#include "history/HistoryRecorder.h"

#include <algorithm>

struct CommandFeedback::Operation {
    QString subject;
    QString caption;
    bool group = false;
    bool open = true;
    std::vector<int> projectors;
    int waiting = 0;
    int acknowledged = 0;
    QStringList refused;
    QStringList silent;
    bool cancelled = false;
    // "waited for warm-up" when a projector's command had to wait.
    QString waited;
};

CommandFeedback::CommandFeedback(const AppState& state) : m_state(state) {}

void CommandFeedback::begin(const QString& subject, const QString& caption, bool group) {
    m_open = std::make_shared<Operation>();
    m_open->subject = subject;
    m_open->caption = caption;
    m_open->group = group;
}

void CommandFeedback::queued(int projector, int ahead) {
    if (!m_open)
        return;
    // Only the first command an action queues for a projector is followed;
    // the query after a set command is not the operator's.
    std::vector<int>& seen = m_open->projectors;
    if (std::find(seen.begin(), seen.end(), projector) != seen.end())
        return;
    seen.push_back(projector);
    ++m_open->waiting;
    m_pending.push_back({projector, ahead, m_open});
}

void CommandFeedback::end() {
    if (!m_open)
        return;
    const std::shared_ptr<Operation> operation = std::move(m_open);
    operation->open = false;
    reportIfDone(*operation);
}

void CommandFeedback::finished(int projector, CommandOutcome outcome) {
    for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
        if (it->projector != projector)
            continue;
        if (it->ahead > 0) {
            --it->ahead;
            continue;
        }
        const Pending pending = *it;
        it = m_pending.erase(it);
        // Every other command of this projector moved up one place.
        for (; it != m_pending.end(); ++it)
            if (it->projector == projector && it->ahead > 0)
                --it->ahead;
        resolve(pending, outcome, false);
        return;
    }
}

void CommandFeedback::dropped(int projector) {
    std::vector<Pending> gone;
    auto kept = std::partition(m_pending.begin(), m_pending.end(),
                               [projector](const Pending& p) { return p.projector != projector; });
    gone.assign(kept, m_pending.end());
    m_pending.erase(kept, m_pending.end());
    for (const Pending& pending : gone)
        resolve(pending, CommandOutcome::Refused, true);
}

void CommandFeedback::resolve(const Pending& pending, CommandOutcome outcome, bool cancelled) {
    Operation& operation = *pending.operation;
    --operation.waiting;
    const QString name = m_state.Projectors[pending.projector].ProjectorName;
    if (cancelled) {
        operation.cancelled = true;
    } else if (IsAcknowledged(outcome) || outcome == CommandOutcome::Data) {
        ++operation.acknowledged;
        if (outcome != CommandOutcome::Acknowledged && outcome != CommandOutcome::Data)
            operation.waited = HistoryRecorder::OutcomeText(outcome);
    } else {
        const bool refused = outcome == CommandOutcome::Refused;
        (refused ? operation.refused : operation.silent) << name;
        addProblem(name + QStringLiteral(": ") + operation.caption +
                   (refused ? QStringLiteral(" refused") : QStringLiteral(" did not answer")));
    }
    reportIfDone(operation);
}

void CommandFeedback::addProblem(const QString& text) {
    m_problems.push_back({m_state.clock.now(), text});
    if (m_problems.size() > MaxProblems)
        m_problems.pop_front();
}

void CommandFeedback::reportIfDone(Operation& operation) {
    if (operation.open || operation.waiting > 0 || operation.projectors.empty() || !m_reporter)
        return;
    QString line = operation.subject + QStringLiteral(": ") + operation.caption;
    if (!operation.group) {
        if (operation.cancelled)
            line += QStringLiteral(", cancelled");
        else if (operation.acknowledged > 0)
            line +=
                QStringLiteral(" acknowledged") +
                (operation.waited.isEmpty() ? QString() : QStringLiteral(", ") + operation.waited);
        else if (!operation.refused.isEmpty())
            line += QStringLiteral(" refused");
        else
            line += QStringLiteral(" did not answer");
    } else {
        line += QStringLiteral(", %1 of %2 acknowledged")
                    .arg(operation.acknowledged)
                    .arg(operation.projectors.size());
        if (!operation.refused.isEmpty())
            line += QStringLiteral(", refused by ") + operation.refused.join(QStringLiteral(", "));
        if (!operation.silent.isEmpty())
            line +=
                QStringLiteral(", no answer from ") + operation.silent.join(QStringLiteral(", "));
        if (operation.cancelled)
            line += QStringLiteral(", cancelled");
        // The status bar may only have room for the start of a long group
        // line; the list keeps all of it.
        if (!operation.refused.isEmpty() || !operation.silent.isEmpty())
            addProblem(line);
    }
    m_reporter(line);
}
