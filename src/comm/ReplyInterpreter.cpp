#include "comm/ReplyInterpreter.h"

#include "comm/CommandQueue.h"
#include "comm/StatusDisplay.h"
#include "core/AppState.h"
#include "core/CommLogs.h"
#include "core/Formatting.h"
#include "mail/AlertQueue.h"
#include "pjlink/PJLinkCodec.h"
#include "pjlink/PJLinkReplies.h"
#include "protocol/ReplyFraming.h"

namespace {

// Type codes of the items that carry a status.
constexpr int TypePower = 0x6000;
constexpr int TypeInput = 0x2000;
constexpr int TypeError = 0x6020;
constexpr int TypeLampTime = 0x1090;
constexpr int TypeFilterTime = 0x10A0;

struct ErrorKind {
    bool MailSettings::*send;
    QString MailSettings::*text;
};

// The alert kind of an error code 1..9 or 16.
std::optional<ErrorKind> errorKind(qint16 code) {
    switch (code) {
    case 1:
        return ErrorKind{&MailSettings::CoverErrorSend, &MailSettings::CoverErrorText};
    case 2:
        return ErrorKind{&MailSettings::FanErrorSend, &MailSettings::FanErrorText};
    case 3:
        return ErrorKind{&MailSettings::LampErrorSend, &MailSettings::LampErrorText};
    case 4:
        return ErrorKind{&MailSettings::TempErrorSend, &MailSettings::TempErrorText};
    case 5:
        return ErrorKind{&MailSettings::AirFlowErrorSend, &MailSettings::AirFlowErrorText};
    case 6:
        return ErrorKind{&MailSettings::LampTimeOverSend, &MailSettings::LampTimeOverText};
    case 7:
        return ErrorKind{&MailSettings::CoolErrorSend, &MailSettings::CoolErrorText};
    case 8:
        return ErrorKind{&MailSettings::FilterErrorSend, &MailSettings::FilterErrorText};
    case 9:
    case 16:
        return ErrorKind{&MailSettings::OtherErrorSend, &MailSettings::OtherErrorText};
    default:
        return std::nullopt;
    }
}

// Whether the line waits in the projector's queue or is in flight.
bool lineQueued(AppState& state, int projector, const QByteArray& line) {
    const ProjectorQueue& queue = state.Queues[std::size_t(projector)];
    for (int i = 0, slot = queue.QueueReadIndex; i < QueueLength(state, projector);
         ++i, slot = slot % QueueSlots + 1) {
        const QueueEntry& entry = queue.entries[std::size_t(slot)];
        if (entry.command.left(entry.commandLength) == line)
            return true;
    }
    return false;
}

} // namespace

FieldRef FieldOf(ProjectorInfo& info, StatusItem item) {
    switch (item) {
    case StatusItem::Power:
        return FieldRef{&info.PowerStatus, nullptr};
    case StatusItem::Input:
        return FieldRef{&info.InputStatus, nullptr};
    case StatusItem::Error:
        return FieldRef{&info.ErrorStatus, nullptr};
    case StatusItem::LampTime:
        return FieldRef{nullptr, &info.LampTime};
    case StatusItem::FilterTime:
        return FieldRef{nullptr, &info.FilterTime};
    case StatusItem::Aspect:
        return FieldRef{&info.AspectStatus, nullptr};
    case StatusItem::Whisper:
        return FieldRef{&info.WhisperStatus, nullptr};
    case StatusItem::Mirror:
        return FieldRef{&info.MirrorStatus, nullptr};
    case StatusItem::Blank:
        return FieldRef{&info.BlankStatus, nullptr};
    case StatusItem::Mute:
        return FieldRef{&info.MuteStatus, nullptr};
    case StatusItem::Brightness:
        return FieldRef{&info.Brightness, nullptr};
    case StatusItem::Contrast:
        return FieldRef{&info.Contrast, nullptr};
    case StatusItem::Sharpness:
        return FieldRef{&info.Sharpness, nullptr};
    case StatusItem::Color:
        return FieldRef{&info.Color, nullptr};
    case StatusItem::Tint:
        return FieldRef{&info.Tint, nullptr};
    }
    return {};
}

namespace {

// The five items that polling asks for.
bool isPolledItem(StatusItem item) {
    return item == StatusItem::Power || item == StatusItem::Input || item == StatusItem::Error ||
           item == StatusItem::LampTime || item == StatusItem::FilterTime;
}

} // namespace

std::optional<StatusItem> ItemOfType(int type) {
    switch (type) {
    case TypePower:
        return StatusItem::Power;
    case TypeInput:
        return StatusItem::Input;
    case TypeError:
        return StatusItem::Error;
    case TypeLampTime:
        return StatusItem::LampTime;
    case TypeFilterTime:
        return StatusItem::FilterTime;
    case 0x2008:
        return StatusItem::Aspect;
    case 0x3300:
        return StatusItem::Whisper;
    case 0x3001:
        return StatusItem::Mirror;
    case 0x3020:
        return StatusItem::Blank;
    case 0x2002:
        return StatusItem::Mute;
    case 0x2003:
        return StatusItem::Brightness;
    case 0x2004:
        return StatusItem::Contrast;
    case 0x2201:
        return StatusItem::Sharpness;
    case 0x2202:
        return StatusItem::Color;
    case 0x2203:
        return StatusItem::Tint;
    default:
        return std::nullopt;
    }
}

ReplyInterpreter::ReplyInterpreter(AppState& state)
    : m_state(state), m_contact(state, [this](int projector, const QString& message) {
          raiseAlert(projector, message);
      }) {}

void ReplyInterpreter::changed(int projector, StatusItem item) {
    if (m_sink)
        m_sink->statusChanged(projector, item);
}

void ReplyInterpreter::finished(int projector, const QueueEntry& entry, CommandOutcome outcome) {
    if (m_sink)
        m_sink->commandFinished(projector, entry.command.left(entry.commandLength), outcome);
}

void ReplyInterpreter::HandleAcknowledge(int projector) {
    ProjectorInfo& info = m_state.Projectors[projector];
    ++m_state.Counters.CommandsAcknowledged;
    m_contact.replyAccepted(projector);
    const QueueEntry& entry = CurrentQueueEntry(m_state, projector);
    finished(projector, entry, CommandOutcome::Acknowledged);
    if (FrameType(entry.command) != TypePower)
        return;
    const int value = FrameValue(entry.command);
    if (value == 0) {
        if (info.PowerStatus == 1)
            info.PowerStatus = 2;
    } else if (value == 1) {
        if (info.PowerStatus == 0)
            info.PowerStatus = 1;
    } else {
        info.PowerStatus = -1;
    }
    changed(projector, StatusItem::Power);
}

void ReplyInterpreter::HandleFailure(int projector, bool timedOut) {
    const QueueEntry& entry = CurrentQueueEntry(m_state, projector);
    const std::optional<StatusItem> item = ItemOfType(FrameType(entry.command));
    failed(projector, item, item && isPolledItem(*item) && FrameAction(entry.command) == ActionGet,
           timedOut);
}

void ReplyInterpreter::failed(int projector, std::optional<StatusItem> item, bool statusQuery,
                              bool timedOut) {
    ++(timedOut ? m_state.Counters.CommandsTimedOut : m_state.Counters.CommandsRefused);
    const QueueEntry& entry = CurrentQueueEntry(m_state, projector);
    if (timedOut)
        m_contact.commandTimedOut(projector);
    else if (statusQuery)
        m_contact.statusRefused(projector);
    else
        m_contact.replyAccepted(projector);
    finished(projector, entry, timedOut ? CommandOutcome::TimedOut : CommandOutcome::Refused);
    // A refused status query reports nothing: the old value must not go on
    // being shown as if it were current.
    if (statusQuery && !timedOut) {
        FieldOf(m_state.Projectors[projector], *item).set(-1);
        changed(projector, *item);
    }
    // Whatever failed, a drop-down of the item goes back to the stored status,
    // so a choice that did not take does not stay on screen.
    if (!m_sink || !item)
        return;
    switch (*item) {
    case StatusItem::Mute:
    case StatusItem::Aspect:
    case StatusItem::Mirror:
    case StatusItem::Blank:
    case StatusItem::Whisper:
    case StatusItem::Power:
    case StatusItem::Input:
        m_sink->restoreDropDown(projector, *item);
        break;
    default:
        break;
    }
}

void ReplyInterpreter::HandlePJLinkAcknowledge(int projector, PJLinkWait waited) {
    ProjectorInfo& info = m_state.Projectors[projector];
    ++m_state.Counters.CommandsAcknowledged;
    authenticated(projector, false);
    m_contact.replyAccepted(projector);
    const QueueEntry& entry = CurrentQueueEntry(m_state, projector);
    finished(projector, entry,
             waited == PJLinkWait::WarmUp     ? CommandOutcome::WaitedForWarmUp
             : waited == PJLinkWait::CoolDown ? CommandOutcome::WaitedForCoolDown
                                              : CommandOutcome::Acknowledged);
    const QByteArray sent = entry.command.left(entry.commandLength);
    if (PJLinkCommandBody(sent) != "POWR")
        return;
    // Until the query that follows says more: an accepted power off starts
    // the cool-down of a projector that was on or warmed up while it waited,
    // a power on the warm-up of one that was off or cooled down meanwhile.
    const bool wasWaiting = waited != PJLinkWait::None;
    if (sent.endsWith('0') && (info.PowerStatus == 1 || wasWaiting))
        info.PowerStatus = 2;
    else if (sent.endsWith('1') && (info.PowerStatus == 0 || wasWaiting))
        info.PowerStatus = 3;
    changed(projector, StatusItem::Power);
}

void ReplyInterpreter::HandlePJLinkFailure(int projector, bool timedOut, const QByteArray& reply) {
    const QueueEntry& entry = CurrentQueueEntry(m_state, projector);
    const QByteArray sent = entry.command.left(entry.commandLength);
    const std::optional<StatusItem> item = PJLinkItemOfLine(sent);
    const bool statusQuery = item && isPolledItem(*item) && IsPJLinkQuery(sent);
    if (!timedOut && IsAuthenticationRefusal(reply)) {
        // The projector is there and answers, but tells nothing without the
        // right password: no Refusing count, and nothing shown as current.
        ++m_state.Counters.CommandsRefused;
        authenticated(projector, true);
        m_contact.replyAccepted(projector);
        finished(projector, entry, CommandOutcome::Refused);
        if (statusQuery) {
            FieldOf(m_state.Projectors[projector], *item).set(-1);
            changed(projector, *item);
        }
        if (m_sink && item)
            m_sink->restoreDropDown(projector, *item);
        return;
    }
    if (!timedOut)
        authenticated(projector, false);
    failed(projector, item, statusQuery, timedOut);
}

void ReplyInterpreter::HandlePJLinkData(int projector, const QByteArray& reply) {
    ++m_state.Counters.CommandsData;
    authenticated(projector, false);
    const QueueEntry& entry = CurrentQueueEntry(m_state, projector);
    const QByteArray sent = entry.command.left(entry.commandLength);
    const std::optional<PJLinkReply> parsed = ParsePJLinkReply(reply);
    const std::optional<StatusItem> item = PJLinkItemOfLine(sent);
    const bool unavailable =
        !parsed || ClassifyPJLinkValue(parsed->value) == PJLinkAnswer::Unavailable;
    // "Not now" (standby, warm-up) is an answer: the projector is there, and
    // the field keeps what it showed.
    if (!unavailable && item && isPolledItem(*item))
        m_contact.statusReported(projector);
    else
        m_contact.replyAccepted(projector);
    finished(projector, entry, CommandOutcome::Data);
    if (!unavailable)
        applyPJLink(projector, parsed->body, parsed->value);
}

bool ReplyInterpreter::ApplyPJLinkNotification(int projector, const QByteArray& line) {
    const std::optional<PJLinkReply> parsed = ParsePJLinkReply(line);
    if (!parsed || parsed->pjClass != '2')
        return false;
    static const QByteArrayList notified = {"POWR", "ERST", "INPT", "LKUP"};
    if (!notified.contains(parsed->body) ||
        ClassifyPJLinkValue(parsed->value) != PJLinkAnswer::Value)
        return false;
    m_contact.replyAccepted(projector);
    if (parsed->body == "LKUP") {
        // The projector has started: a sign of life with its MAC address.
        // It may be another unit at the same address, so it is asked who it
        // is and how it is now, at once rather than at the next pass.
        ProjectorInfo& info = m_state.Projectors[projector];
        if (const QString mac = PJLinkMacAddress(parsed->value); !mac.isEmpty())
            info.MACAddress = mac;
        info.PJLink.Identified = false;
        if (!lineQueued(m_state, projector, "%1CLSS ?")) {
            for (const QByteArray& line : PJLinkPollLines(info))
                EnqueueLine(m_state, projector, line);
        }
        return true;
    }
    applyPJLink(projector, parsed->body, parsed->value);
    return true;
}

void ReplyInterpreter::applyPJLink(int projector, const QByteArray& body, const QByteArray& value) {
    ProjectorInfo& info = m_state.Projectors[projector];
    LastReported& last = m_lastReported[std::size_t(projector)];
    const PJLinkUpdate update = ApplyPJLinkValue(info, body, value);
    if (update.error) {
        checkErrorAlert(projector, qint16(last.error), *update.error);
        last.error = *update.error;
    }
    if (update.lampHours) {
        checkHourAlarm(projector, last.lampTime, *update.lampHours, true);
        last.lampTime = *update.lampHours;
    }
    if (update.filterHours) {
        checkHourAlarm(projector, last.filterTime, *update.filterHours, false);
        last.filterTime = *update.filterHours;
    }
    for (const StatusItem item : update.changed)
        changed(projector, item);
    for (const QByteArray& line : update.followUps)
        EnqueueLine(m_state, projector, line);
}

void ReplyInterpreter::authenticated(int projector, bool refused) {
    PJLinkFacts& facts = m_state.Projectors[projector].PJLink;
    if (facts.AuthenticationError == refused)
        return;
    facts.AuthenticationError = refused;
    WriteCommLog(m_state, refused ? QStringLiteral("PJLink-Authentication-Error(%1)").arg(projector)
                                  : QStringLiteral("PJLink-Authenticated(%1)").arg(projector));
    const MailSettings& mail = m_state.Mail;
    RecoveryMails& recovery = m_contact.recovery();
    if (refused && mail.MailSend && mail.ErrorAlarmSend) {
        raiseAlert(projector, AuthenticationErrorText);
        recovery.authenticationAlerted(projector, AuthenticationErrorText);
    } else if (!refused) {
        if (const QString recovered = recovery.authenticationCleared(projector);
            !recovered.isEmpty())
            raiseAlert(projector, recovered);
    }
    changed(projector, StatusItem::Error);
}

void ReplyInterpreter::HandleDataReply(int projector) {
    ProjectorInfo& info = m_state.Projectors[projector];
    ++m_state.Counters.CommandsData;
    const QueueEntry& entry = CurrentQueueEntry(m_state, projector);
    const std::optional<StatusItem> item = ItemOfType(FrameType(entry.command));
    if (item && isPolledItem(*item))
        m_contact.statusReported(projector);
    else
        m_contact.replyAccepted(projector);
    finished(projector, entry, CommandOutcome::Data);
    if (!item)
        return;
    const qint16 value = DataValue(entry.reply.left(entry.replyLength));
    FieldRef field = FieldOf(info, *item);
    // A refusal in between shows the field as not reported; the alerts
    // still compare with what was last reported, so it raises none again.
    qint32* reported = lastReported(projector, *item);
    const qint32 previous = reported ? *reported : field.get();
    if (*item == StatusItem::Error)
        checkErrorAlert(projector, qint16(previous), value);
    field.set(StoredStatus(*item, value));
    if (reported)
        *reported = field.get();
    if (*item == StatusItem::LampTime || *item == StatusItem::FilterTime)
        checkHourAlarm(projector, previous, field.get(), *item == StatusItem::LampTime);
    changed(projector, *item);
}

qint32* ReplyInterpreter::lastReported(int projector, StatusItem item) {
    LastReported& last = m_lastReported[std::size_t(projector)];
    switch (item) {
    case StatusItem::Error:
        return &last.error;
    case StatusItem::LampTime:
        return &last.lampTime;
    case StatusItem::FilterTime:
        return &last.filterTime;
    default:
        return nullptr;
    }
}

void ReplyInterpreter::queuesReset() {
    m_contact.queuesReset();
    // Projectors may have been renumbered: what each record shows now is
    // the best guess of what it last reported.
    for (int p = 1; p <= MaxProjectors; ++p) {
        const ProjectorInfo& info = m_state.Projectors[p];
        m_lastReported[std::size_t(p)] = {info.ErrorStatus, info.LampTime, info.FilterTime};
    }
}

void ReplyInterpreter::checkErrorAlert(int projector, qint16 previous, qint16 code) {
    if (code == 0) {
        const QString recovered = m_contact.recovery().errorCleared(projector);
        if (!recovered.isEmpty())
            raiseAlert(projector, recovered);
        return;
    }
    const std::optional<ErrorKind> kind = errorKind(code);
    if (!kind)
        return;
    const MailSettings& mail = m_state.Mail;
    if (!mail.MailSend || !mail.ErrorAlarmSend || !(mail.*(kind->send)))
        return;
    const bool transition = mail.MailSendKindFlag != 0 ? previous != code : previous == 0;
    if (transition) {
        raiseAlert(projector, mail.*(kind->text));
        m_contact.recovery().errorAlerted(projector, mail.*(kind->text));
    }
}

void ReplyInterpreter::checkHourAlarm(int projector, qint32 previous, qint32 hours, bool lamp) {
    const MailSettings& mail = m_state.Mail;
    const bool send = lamp ? mail.LampAlarmSend : mail.FilterAlarmSend;
    const qint16 threshold = lamp ? mail.LampAlarmTime : mail.FilterAlarmTime;
    if (hours < 0 || !mail.MailSend || !send || previous >= threshold || hours < threshold)
        return;
    raiseAlert(projector,
               (lamp ? QStringLiteral("LampTime Alarm (") : QStringLiteral("FilterTime Alarm (")) +
                   QString::number(threshold) + QStringLiteral("h)"));
}

void ReplyInterpreter::raiseAlert(int projector, const QString& message) {
    const QString text = FormatDateTime(m_state, m_state.clock.now()) + QLatin1Char(';') +
                         QString::number(projector) + QLatin1Char(';') + message;
    // A full ring keeps the alerts already waiting; the dropped one is
    // at least recorded.
    const bool queued = EnqueueAlertMessage(m_state, text);
    if (!queued)
        WriteCommLog(m_state, QStringLiteral("Alert-Queue-Full(%1):").arg(projector) + message);
    if (m_sink)
        m_sink->alertRaised(projector, message, queued);
    if (m_alertStarter)
        m_alertStarter();
}
