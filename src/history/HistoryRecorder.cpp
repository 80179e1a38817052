#include "history/HistoryRecorder.h"

#include "comm/StatusDisplay.h"
#include "core/AppState.h"
#include "core/Fleet.h"
#include "history/CommandCaption.h"
#include "pjlink/PJLinkCodec.h"
#include "schedule/ScheduleRunner.h"

namespace {

bool IsClassTwo(const ProjectorInfo& info) {
    return IsPJLink(info) && info.PJLink.Class == 2;
}

QString QueuedText(std::size_t count) {
    if (count == 0)
        return QStringLiteral("nothing queued");
    return count == 1 ? QStringLiteral("queued for 1 projector")
                      : QStringLiteral("queued for %1 projectors").arg(count);
}

} // namespace

HistoryRecorder::HistoryRecorder(AppState& state, Record record, EventSource program,
                                 QObject* parent)
    : QObject(parent), m_state(state), m_record(std::move(record)), m_program(program) {}

QString HistoryRecorder::OutcomeText(CommandOutcome outcome) {
    switch (outcome) {
    case CommandOutcome::Acknowledged:
    case CommandOutcome::Data:
        return QStringLiteral("acknowledged");
    case CommandOutcome::WaitedForWarmUp:
        return QStringLiteral("waited for warm-up");
    case CommandOutcome::WaitedForCoolDown:
        return QStringLiteral("waited for cool-down");
    case CommandOutcome::Refused:
        return QStringLiteral("refused");
    case CommandOutcome::TimedOut:
        break;
    }
    return QStringLiteral("did not answer");
}

bool HistoryRecorder::valid(int projector) const {
    return projector >= 1 && projector <= m_state.ProjectorCount;
}

qint64 HistoryRecorder::nowMs() const {
    return m_state.clock.now().toMSecsSinceEpoch();
}

HistoryEvent HistoryRecorder::programEvent(EventKind kind) const {
    HistoryEvent e;
    e.timeMs = nowMs();
    e.kind = kind;
    return e;
}

HistoryEvent HistoryRecorder::event(EventKind kind, int projector) const {
    HistoryEvent e = programEvent(kind);
    if (!valid(projector))
        return e;
    const ProjectorInfo& info = m_state.Projectors[std::size_t(projector)];
    e.projectorId = info.ProjectorId;
    e.projectorName = info.ProjectorName;
    e.groupName = GroupOfProjector(m_state, projector);
    return e;
}

void HistoryRecorder::emitEvent(HistoryEvent event) const {
    if (m_record)
        m_record(std::move(event));
}

HistoryRecorder::Seen& HistoryRecorder::seen(int projector) {
    const ProjectorInfo& info = m_state.Projectors[std::size_t(projector)];
    // A record without an id yet is followed by its place in the table.
    const QString key =
        info.ProjectorId.isEmpty() ? QStringLiteral("#%1").arg(projector) : info.ProjectorId;
    if (m_seen.size() > 2 * MaxProjectors && !m_seen.contains(key)) {
        // Projectors deleted long ago are forgotten.
        QHash<QString, Seen> kept;
        for (int p = 1; p <= m_state.ProjectorCount; ++p) {
            const QString& id = m_state.Projectors[std::size_t(p)].ProjectorId;
            if (const auto it = m_seen.constFind(id); it != m_seen.cend())
                kept.insert(id, *it);
        }
        m_seen.swap(kept);
    }
    return m_seen[key];
}

void HistoryRecorder::observe(int projector) {
    if (!valid(projector))
        return;
    const ProjectorInfo& info = m_state.Projectors[std::size_t(projector)];
    Seen& last = seen(projector);
    using Contact = Seen::Contact;
    if (info.Disconnected) {
        if (last.contact == Contact::Connected)
            emitEvent(event(EventKind::Disconnect, projector));
        if (last.contact != Contact::Unknown)
            last.contact = Contact::Lost;
    }
    if (info.PJLink.AuthenticationError != last.authenticationError) {
        last.authenticationError = info.PJLink.AuthenticationError;
        if (last.authenticationError) {
            HistoryEvent e = event(EventKind::AuthenticationError, projector);
            e.text = QStringLiteral("Authentication Error");
            emitEvent(std::move(e));
        }
    }
    if (info.PowerStatus >= 0 && info.PowerStatus != last.power) {
        last.power = info.PowerStatus;
        HistoryEvent e = event(EventKind::Power, projector);
        e.value = info.PowerStatus;
        e.text = PowerDisplayText(info.PowerStatus);
        emitEvent(std::move(e));
    }
    if (info.InputStatus >= 0 && info.InputStatus != last.input) {
        // A class 2 projector is asked the new input's name at once: the
        // event waits for the answer.
        if (IsClassTwo(info) && info.PJLink.InputName.isEmpty())
            last.inputNamePending = true;
        else
            recordInput(projector, last);
    }
    if (info.ErrorStatus >= 0 && info.ErrorStatus != last.error) {
        last.error = info.ErrorStatus;
        HistoryEvent e = event(EventKind::Error, projector);
        e.value = info.ErrorStatus;
        e.text = ErrorDisplayText(info.ErrorStatus);
        emitEvent(std::move(e));
    }
    if (IsPJLink(info) && info.ErrorStatus >= 0 && info.PJLink.Warning != last.warning) {
        last.warning = info.PJLink.Warning;
        HistoryEvent e = event(EventKind::Warning, projector);
        e.text = info.PJLink.Warning;
        emitEvent(std::move(e));
    }
}

void HistoryRecorder::replied(int projector) {
    if (!valid(projector) || m_state.Projectors[std::size_t(projector)].Disconnected)
        return;
    Seen& last = seen(projector);
    if (last.contact == Seen::Contact::Lost)
        emitEvent(event(EventKind::Reconnect, projector));
    last.contact = Seen::Contact::Connected;
}

void HistoryRecorder::recordInput(int projector, Seen& last) {
    const ProjectorInfo& info = m_state.Projectors[std::size_t(projector)];
    last.input = info.InputStatus;
    last.inputNamePending = false;
    HistoryEvent e = event(EventKind::Input, projector);
    e.value = info.InputStatus;
    e.text = IsPJLink(info) ? PJLinkInputDisplay(info) : InputDisplayText(m_state, projector);
    emitEvent(std::move(e));
}

void HistoryRecorder::statusChanged(int projector, StatusItem item) {
    // Only replies and notifications change a status.
    replied(projector);
    observe(projector);
    if (item == StatusItem::LampTime || item == StatusItem::FilterTime)
        recordHours(projector, item);
}

void HistoryRecorder::recordHours(int projector, StatusItem item) {
    if (!valid(projector))
        return;
    const ProjectorInfo& info = m_state.Projectors[std::size_t(projector)];
    // Once the pass has asked for both, or for the lamp where no filter is
    // reported.
    const StatusItem lastAsked =
        IsPJLink(info) && !IsClassTwo(info) ? StatusItem::LampTime : StatusItem::FilterTime;
    if (item != lastAsked || (info.LampTime < 0 && info.FilterTime < 0))
        return;
    Seen& last = seen(projector);
    const QDate today = m_state.clock.today();
    if (last.hoursDay == today)
        return;
    last.hoursDay = today;
    HistoryEvent e = event(EventKind::Hours, projector);
    if (info.LampTime >= 0)
        e.value = info.LampTime;
    if (info.FilterTime >= 0)
        e.value2 = info.FilterTime;
    if (IsPJLink(info)) {
        QList<qint32> lamps;
        for (int i = 0; i < info.PJLink.LampCount && i < PJLinkMaxLamps; ++i)
            lamps << info.PJLink.Lamps[std::size_t(i)].hours;
        e.text = LampHoursText(lamps);
    }
    emitEvent(std::move(e));
    emit hoursRecorded();
}

void HistoryRecorder::hoursKnown(const QString& projectorId, qint64 timeMs) {
    if (projectorId.isEmpty() || timeMs <= 0)
        return;
    const QDate day = QDateTime::fromMSecsSinceEpoch(timeMs).date();
    Seen& last = m_seen[projectorId];
    if (!last.hoursDay.isValid() || last.hoursDay < day)
        last.hoursDay = day;
}

void HistoryRecorder::commandFinished(int projector, const QByteArray& frame,
                                      CommandOutcome outcome) {
    if (outcome != CommandOutcome::TimedOut)
        replied(projector);
    observe(projector);
    // A name that came is applied after this, and recorded then; one that
    // did not come is not waited for.
    if (valid(projector) && outcome != CommandOutcome::Data && PJLinkCommandBody(frame) == "INNM") {
        Seen& last = seen(projector);
        if (last.inputNamePending)
            recordInput(projector, last);
    }
    for (auto it = m_followed.begin(); it != m_followed.end(); ++it) {
        if (it->projector != projector)
            continue;
        if (it->ahead > 0) {
            --it->ahead;
            continue;
        }
        const Followed done = *it;
        it = m_followed.erase(it);
        // Every later command of this projector moved up one place.
        for (; it != m_followed.end(); ++it)
            if (it->projector == projector && it->ahead > 0)
                --it->ahead;
        resolve(done, OutcomeText(outcome));
        return;
    }
}

void HistoryRecorder::pollingPassStarted(int projectorCount) {
    // An input whose name was not told by the next pass goes without it.
    for (int p = 1; p <= projectorCount && valid(p); ++p) {
        Seen& last = seen(p);
        if (last.inputNamePending)
            recordInput(p, last);
    }
}

void HistoryRecorder::queueDropped(int projector) {
    std::deque<Followed> kept;
    for (const Followed& f : m_followed) {
        if (f.projector == projector)
            resolve(f, CancelledText);
        else
            kept.push_back(f);
    }
    m_followed.swap(kept);
}

void HistoryRecorder::commandQueued(int projector, const QByteArray& frame, int ahead) {
    const QString caption = CommandCaption(frame);
    if (!caption.isEmpty())
        follow(projector, caption, m_program, ahead);
}

void HistoryRecorder::follow(int projector, const QString& caption, EventSource source, int ahead,
                             const QString& client) {
    if (!valid(projector))
        return;
    // A command queued through the engine was followed as the program's when
    // it was queued, the projector's last: it is the one named here.
    for (auto it = m_followed.rbegin(); it != m_followed.rend(); ++it) {
        if (it->projector != projector)
            continue;
        if (source != m_program && it->source == m_program && it->ahead == ahead &&
            it->client.isEmpty()) {
            it->caption = caption;
            it->source = source;
            it->client = client;
            return;
        }
        break;
    }
    m_followed.push_back({projector, ahead, caption, source, nowMs(), client});
    if (m_followed.size() > MaxFollowed)
        m_followed.pop_front();
}

void HistoryRecorder::resolve(const Followed& command, const QString& outcome) {
    HistoryEvent e = event(EventKind::Command, command.projector);
    e.timeMs = command.timeMs;
    e.text = command.caption;
    e.outcome = outcome;
    e.source = command.source;
    e.client = command.client;
    emitEvent(std::move(e));
}

void HistoryRecorder::scheduleRunning(bool running) {
    HistoryEvent e = programEvent(running ? EventKind::ScheduleStart : EventKind::ScheduleStop);
    e.text = QStringLiteral("Schedule");
    e.source = m_program;
    emitEvent(std::move(e));
}

void HistoryRecorder::scheduleAction(const ScheduleActionReport& report) {
    const int projector = NodeKind(m_state, report.NodeIndex) == QLatin1Char('p')
                              ? ProjectorOfNode(m_state, report.NodeIndex)
                              : 0;
    HistoryEvent e =
        event(report.Missed ? EventKind::ScheduleMissed : EventKind::ScheduleAction, projector);
    if (projector == 0)
        e.groupName = report.Section;
    e.text = report.Section + QStringLiteral(": ") + report.Command;
    e.outcome = report.Missed ? QStringLiteral("due at ") + report.Due.toString(u"yyyy-MM-dd HH:mm")
                              : QueuedText(report.Queued.size());
    if (report.MinutesLate > 0)
        e.outcome += QStringLiteral(", %1 min late").arg(report.MinutesLate);
    e.source = EventSource::Schedule;
    emitEvent(std::move(e));
    for (const auto& [p, ahead] : report.Queued)
        follow(p, report.Command, EventSource::Schedule, ahead);
}

void HistoryRecorder::alertRaised(int projector, const QString& message, bool queued) {
    HistoryEvent e = event(queued ? EventKind::MailQueued : EventKind::MailDropped, projector);
    e.text = message;
    if (!queued)
        e.outcome = QStringLiteral("the alert queue is full");
    emitEvent(std::move(e));
}

void HistoryRecorder::alertMailed(int projector, const QString& message) {
    HistoryEvent e = event(EventKind::MailSent, projector);
    e.text = message;
    emitEvent(std::move(e));
}

void HistoryRecorder::alertMailFailed(int projector, const QString& message,
                                      const QString& reason) {
    HistoryEvent e = event(EventKind::MailFailed, projector);
    e.text = message;
    e.outcome = reason;
    emitEvent(std::move(e));
}

void HistoryRecorder::alertDropped(int projector, const QString& message, const QString& why) {
    HistoryEvent e = event(EventKind::MailDropped, projector);
    e.text = message;
    e.outcome = why;
    emitEvent(std::move(e));
}

void HistoryRecorder::programStarted(const QString& text) {
    HistoryEvent e = programEvent(EventKind::ProgramStart);
    e.text = text;
    e.source = m_program;
    emitEvent(std::move(e));
}

void HistoryRecorder::programStopping(const QString& text) {
    HistoryEvent e = programEvent(EventKind::ProgramStop);
    e.text = text;
    e.source = m_program;
    emitEvent(std::move(e));
}
