#include "mail/AlertSender.h"

#include "comm/AlertQueue.h"
#include "core/AppState.h"
#include "log/CommLogs.h"
#include "mail/AlertMail.h"
#include "mail/MailLogging.h"
#include "mail/NorSendLibrary.h"

Q_LOGGING_CATEGORY(lcMail, "norvik.mail")

namespace {

qint64 minuteOf(const QDateTime& moment)
{
    const qint64 seconds = moment.toSecsSinceEpoch();
    return seconds >= 0 ? seconds / 60 : (seconds - 59) / 60;
}

} // namespace

AlertSender::AlertSender(AppState& state, NorSendLibrary& library, QObject* parent)
    : QObject(parent), m_state(state), m_library(library)
{
    m_mailSendTimer.setInterval(SendInterval);
    connect(&m_mailSendTimer, &QTimer::timeout, this, &AlertSender::RunSendPass);
}

void AlertSender::StartAlertSender()
{
    if (m_mailSendTimer.isActive() || m_mailSending)
        return;
    m_mailRetryCount = 0;
    m_mailSendTimer.start();
}

bool AlertSender::retryWaitOver()
{
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

void AlertSender::RunSendPass()
{
    if (m_mailRetryCount != 0 && !retryWaitOver())
        return;
    m_mailSendTimer.stop();
    m_mailSending = true;

    const QString recipients = BuildRecipientList(m_state.Mail);
    if (recipients.isEmpty()) {
        WriteCommLog(m_state, QStringLiteral("MailSend Error!!:An address isn't specified."));
        m_mailRetryCount = 0;
        m_mailSending = false;
        return;
    }
    if (IsAlertQueueEmpty(m_state)) {
        m_mailRetryCount = 0;
        m_mailSending = false;
        return;
    }
    finishPass(sendQueuedAlerts(recipients));
}

bool AlertSender::sendQueuedAlerts(const QString& recipients)
{
    const MailSettings& mail = m_state.Mail;
    while (!IsAlertQueueEmpty(m_state)) {
        const AlertText alert = ParseAlertText(PeekAlertMessage(m_state));
        if (alert.projector < 1 || alert.projector > m_state.ProjectorCount) {
            // Alerts follow their projector when projectors are deleted, so
            // this one names no projector at all; it cannot be mailed.
            qCWarning(lcMail) << "alert for unknown projector dropped:" << alert.projector;
            AdvanceAlertQueue(m_state);
            continue;
        }
        const ProjectorInfo& projector = m_state.Projectors[alert.projector];
        WriteMailLog(m_state, AlertMailLogLine(projector, alert));
        const qint32 result =
            m_library.SendMail(mail.SMTPServer, recipients, mail.FromAddress, mail.Subject,
                               AlertMailBody(projector, alert), mail.FilePath);
        if (result == 0) {
            WriteMailLog(m_state, QStringLiteral("Mail Send Error!!"));
            return false;
        }
        WriteMailLog(m_state, QStringLiteral("Mail Send Success"));
        AdvanceAlertQueue(m_state);
    }
    return true;
}

void AlertSender::finishPass(bool succeeded)
{
    if (succeeded || m_mailRetryCount >= MaxRetries) {
        m_mailRetryCount = 0;
    } else {
        m_lastMailFailure = m_state.clock.now();
        ++m_mailRetryCount;
        m_mailSendTimer.start();
    }
    m_mailSending = false;
}
