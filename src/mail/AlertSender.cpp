#include "mail/AlertSender.h"

#include "core/AppState.h"
#include "core/CommLogs.h"
#include "core/Fleet.h"
#include "mail/AlertMail.h"
#include "mail/AlertQueue.h"
#include "mail/AlertSpool.h"
#include "mail/MailLogging.h"

#include <algorithm>
#include <utility>

Q_LOGGING_CATEGORY(lcMail, "norvik.mail")

namespace {

const QString NotSentAtEnd = QStringLiteral(",Mail Not Sent (program ended)");
const QString KeptAtEnd = QStringLiteral(",Mail Not Sent (program ended, kept for the next start)");
const QString Dropped = QStringLiteral(",Mail Dropped (refused by the server)");

qint64 minuteOf(const QDateTime& moment) {
    const qint64 seconds = moment.toSecsSinceEpoch();
    return seconds >= 0 ? seconds / 60 : (seconds - 59) / 60;
}

bool namesProjector(const AppState& state, int projector) {
    return projector >= 1 && projector <= state.ProjectorCount;
}

// Stored addresses that the recipient list leaves out are named in the mail
// log at every mail, so the operator learns why someone got nothing.
void logSkippedRecipients(AppState& state) {
    for (const QString& address : SkippedRecipients(StoredRecipientRows(state.Mail)))
        WriteMailLog(state, RecipientSkippedLogLine(address));
}

// The queue outlives the program only when it has its folder.
bool queueKept(const AppState& state) {
    return state.Spool && !state.Spool->folder().isEmpty();
}

} // namespace

bool ReportRecipients(AppState& state) {
    const bool missing = state.Mail.MailSend && BuildRecipientList(state.Mail).isEmpty();
    HealthReport& health = state.Health;
    if (missing && !health.isActive(HealthCondition::NoRecipient)) {
        WriteMailLog(state, QStringLiteral("Mail Not Sent (no recipient is set)"));
        health.raise(HealthCondition::NoRecipient,
                     QStringLiteral("Mail is on, but no recipient is set: alerts wait in the "
                                    "queue until one is added in the mail settings"));
    } else if (!missing) {
        health.clear(HealthCondition::NoRecipient, QStringLiteral("A mail recipient is set"));
    }
    return !missing;
}

AlertSender::AlertSender(AppState& state, MailWorker& worker, QObject* parent)
    : QObject(parent), m_state(state), m_worker(worker), m_password(state) {
    m_mailSendTimer.setInterval(SendInterval);
    connect(&m_mailSendTimer, &QTimer::timeout, this, &AlertSender::RunSendPass);
    connect(&m_worker, &MailWorker::sent, this, &AlertSender::mailSent);
    ReportRecipients(m_state);
}

void AlertSender::openSpool() {
    if (m_state.Spool || m_state.ProgramFolder.isEmpty())
        return;
    m_spool = OpenAlertSpool(m_state, m_state.ProgramFolder + QStringLiteral("/MailQueue"));
    // Alerts kept from the last run go out as soon as the event loop runs.
    if (m_state.Mail.MailSend && !IsAlertQueueEmpty(m_state))
        StartAlertSender();
}

void AlertSender::StartAlertSender() {
    if (m_ended || m_mailSendTimer.isActive() || m_mailSending)
        return;
    m_mailRetryCount = 0;
    // The password may have changed in the secret store since the last pass.
    m_password.refresh();
    m_mailSendTimer.start();
}

void AlertSender::retryNow() {
    if (m_ended || m_mailSending || IsAlertQueueEmpty(m_state))
        return;
    m_mailRetryCount = 0;
    m_password.refresh();
    m_mailSendTimer.start();
}

bool AlertSender::retryWaitOver() {
    const QDateTime now = m_state.clock.now();
    const qint64 boundaries = minuteOf(now) - minuteOf(m_lastMailFailure);
    if (boundaries < 0) {
        // The clock was set back: wait the full time from now rather than
        // until the old failure moment comes round again.
        m_lastMailFailure = now;
        return false;
    }
    return boundaries >= RetryWaitMinutes;
}

void AlertSender::RunSendPass() {
    if (m_ended || m_mailSending)
        return;
    if (m_mailRetryCount != 0 && !retryWaitOver())
        return;
    m_mailSendTimer.stop();
    m_mailSending = true;
    sendNextAlert();
}

void AlertSender::sendNextAlert() {
    // The settings are read for every alert, so a change made while a mail
    // was under way applies from the next one.
    const MailSettings& mail = m_state.Mail;
    const QString recipients = BuildRecipientList(mail);
    ReportRecipients(m_state);
    if (recipients.isEmpty()) {
        logSkippedRecipients(m_state);
        noRecipients();
        return;
    }
    while (!IsAlertQueueEmpty(m_state)) {
        const QString text = PeekAlertMessage(m_state);
        const AlertText alert = ParseAlertText(text);
        if (!namesProjector(m_state, alert.projector)) {
            // Alerts follow their projector when projectors are deleted, so
            // this one names no projector at all; it cannot be mailed.
            qCWarning(lcMail) << "alert for unknown projector dropped:" << alert.projector;
            emit alertDropped(0, alert.message, QStringLiteral("its projector is gone"));
            AdvanceAlertQueue(m_state);
            continue;
        }
        const ProjectorInfo& projector = m_state.Projectors[alert.projector];
        const QString logLine = AlertMailLogLine(projector, alert);
        logSkippedRecipients(m_state);
        WriteMailLog(m_state, logLine);
        const int node = NodeOfProjector(m_state, alert.projector);
        MailUnderWay underWay{0, text, alert.projector,
                              node > 0 ? Node(m_state, node).KeyName : QString(), logLine};
        if (ServerHasUserInfo(mail.SMTPServer)) {
            // Never handed to the library: it would log in with a password
            // kept in the open.
            MailResult refused;
            refused.reasonText = ServerUserInfoText;
            recordOutcome(underWay, refused);
            finishPass(false);
            return;
        }
        // A password is only of use with a user name.
        MailMessage message = MailMessageFromSettings(
            mail, mail.SMTPUser.isEmpty() ? QString() : m_password.password());
        message.recipients = recipients;
        message.body = AlertMailBody(projector, alert);
        underWay.ticket = m_worker.send(std::move(message));
        m_underWay = std::move(underWay);
        return;
    }
    finishPass(true);
}

void AlertSender::mailSent(MailWorker::Ticket ticket, const MailResult& result) {
    if (!m_underWay || m_underWay->ticket != ticket)
        return; // another user's mail, or one given up at the end
    const MailUnderWay mail = *std::exchange(m_underWay, std::nullopt);
    if (!recordOutcome(mail, result)) {
        // A message the server refuses for good would block every later
        // alert: after its retries it is dropped and the queue goes on.
        if (!result.permanent || m_mailRetryCount < MaxRetries) {
            finishPass(false);
            return;
        }
        WriteMailLog(m_state, mail.logLine + Dropped);
        ++m_state.Counters.AlertsDroppedRefused;
        emit alertDropped(projectorNow(mail), ParseAlertText(mail.text).message,
                          QStringLiteral("refused by the server"));
        removeMailed(mail);
        m_mailRetryCount = 0;
    }
    if (IsAlertQueueEmpty(m_state))
        finishPass(true);
    else
        sendNextAlert();
}

bool AlertSender::recordOutcome(const MailUnderWay& mail, const MailResult& result) {
    WriteMailLog(m_state, MailOutcomeLogLine(result));
    const QString message = ParseAlertText(mail.text).message;
    if (!result.sent) {
        ++m_state.Counters.AlertMailsFailed;
        emit alertMailFailed(projectorNow(mail), message,
                             result.reasonText.isEmpty() ? QStringLiteral("not sent")
                                                         : result.reasonText);
        m_state.Health.raise(HealthCondition::MailFailing,
                             result.reasonText.isEmpty()
                                 ? QStringLiteral("Alert mails are not sent")
                                 : QStringLiteral("Alert mails are not sent: ") +
                                       result.reasonText);
        return false;
    }
    ++m_state.Counters.AlertMailsSent;
    emit alertMailed(projectorNow(mail), message);
    m_state.Health.clear(HealthCondition::MailFailing,
                         QStringLiteral("Alert mails are sent again"));
    removeMailed(mail);
    return true;
}

void AlertSender::removeMailed(const MailUnderWay& mail) {
    const std::optional<QString> text = queuedText(mail);
    if (text && !RemoveOldestAlertIf(m_state, *text))
        qCWarning(lcMail) << "mailed alert no longer first in the queue:" << *text;
}

std::optional<QString> AlertSender::queuedText(const MailUnderWay& mail) const {
    if (mail.projectorKey.isEmpty())
        return mail.text; // a projector outside the tree cannot be deleted
    const qint16 projector = ProjectorOfNode(m_state, NodeIndexOfKey(m_state, mail.projectorKey));
    if (projector < 1)
        return std::nullopt;
    return projector == mail.projector ? mail.text : AlertTextForProjector(mail.text, projector);
}

int AlertSender::projectorNow(const MailUnderWay& mail) const {
    if (mail.projectorKey.isEmpty())
        return mail.projector;
    return std::max<int>(0, ProjectorOfNode(m_state, NodeIndexOfKey(m_state, mail.projectorKey)));
}

void AlertSender::noRecipients() {
    WriteCommLog(m_state, QStringLiteral("MailSend Error!!:An address isn't specified."));
    m_mailRetryCount = 0;
    m_mailSending = false;
    emit passFinished();
}

void AlertSender::finishPass(bool succeeded) {
    if (succeeded || m_mailRetryCount >= MaxRetries) {
        m_mailRetryCount = 0;
    } else {
        m_lastMailFailure = m_state.clock.now();
        ++m_mailRetryCount;
        m_mailSendTimer.start();
    }
    m_mailSending = false;
    emit passFinished();
}

void AlertSender::shutdown(std::chrono::milliseconds grace) {
    if (m_ended)
        return;
    m_ended = true;
    m_mailSendTimer.stop();
    if (m_underWay) {
        const MailUnderWay mail = *std::exchange(m_underWay, std::nullopt);
        if (const std::optional<MailResult> result = m_worker.waitFor(mail.ticket, grace)) {
            recordOutcome(mail, *result);
        } else if (queueKept(m_state)) {
            WriteMailLog(m_state, mail.logLine + KeptAtEnd);
        } else {
            WriteMailLog(m_state, mail.logLine + NotSentAtEnd);
            if (const std::optional<QString> text = queuedText(mail))
                RemoveOldestAlertIf(m_state, *text);
        }
    }
    logUnsentAlerts();
    // An orderly end loses no alert: every file queued is on disk first.
    if (m_state.Spool)
        m_state.Spool->flush();
    m_mailRetryCount = 0;
    if (std::exchange(m_mailSending, false))
        emit passFinished();
}

void AlertSender::logUnsentAlerts() {
    if (queueKept(m_state)) {
        // Their files stay: they are mailed after the next start.
        if (const int waiting = AlertQueueLength(m_state); waiting > 0)
            WriteMailLog(
                m_state,
                QStringLiteral("Mail Queue Kept (alerts for the next start: %1)").arg(waiting));
        return;
    }
    const ProjectorInfo unknown;
    while (!IsAlertQueueEmpty(m_state)) {
        const AlertText alert = ParseAlertText(PeekAlertMessage(m_state));
        const ProjectorInfo& projector = namesProjector(m_state, alert.projector)
                                             ? m_state.Projectors[alert.projector]
                                             : unknown;
        WriteMailLog(m_state, AlertMailLogLine(projector, alert) + NotSentAtEnd);
        emit alertDropped(namesProjector(m_state, alert.projector) ? alert.projector : 0,
                          alert.message, QStringLiteral("the program ended"));
        AdvanceAlertQueue(m_state);
    }
}
