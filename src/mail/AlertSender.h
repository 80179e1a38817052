#pragma once

#include "mail/AlertQueue.h"
#include "mail/MailWorker.h"
#include "mail/SmtpPassword.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <optional>

struct AppState;

// Mail is on but no recipient is set: a mail log line and NoRecipient, once
// until a recipient is there again, which clears it. True when mail can go.
bool ReportRecipients(AppState& state);

// Mails the queued alert texts one by one. StartAlertSender() is called after
// each new alert; MailSendTimer then starts a send pass, which hands the
// queued alerts to the mail thread one after another while the event loop
// runs on. A failed mail is retried 4 to 5 minutes later (three retries at
// most); after that a mail the server refuses for good is dropped and the
// next alert goes out, while after other failures (no connection, login,
// TLS) the sender rests with the alerts kept until the next alert.
class AlertSender : public QObject {
    Q_OBJECT

  public:
    static constexpr std::chrono::milliseconds SendInterval{1000};
    static constexpr int RetryWaitMinutes = 5; // minute boundaries, so 4 to 5 minutes
    static constexpr int MaxRetries = 3;
    // How long the end of the program waits for a mail under way.
    static constexpr std::chrono::milliseconds ShutdownGrace{2000};

    AlertSender(AppState& state, MailWorker& worker, QObject* parent = nullptr);

    // Opens the queue's spool, MailQueue/ in the program folder, and queues
    // the alerts kept from the last run, first in line. Called once the tree
    // is loaded: the kept alerts find their projectors by its keys.
    void openSpool();
    // Starts MailSendTimer unless a pass runs or a retry is pending.
    void StartAlertSender();
    // The mail settings were read again: alerts waiting for a retry are tried
    // at the next tick with the new settings, with their retries counted anew.
    void retryNow();
    // One tick of MailSendTimer: starts a pass, which goes on after this
    // returns and ends with passFinished().
    void RunSendPass();
    // The end of the program: no more mails. A mail under way gets at most
    // `grace` to come back. With a spool folder the alerts not mailed stay
    // there for the next start (the mail under way is logged as not sent and
    // kept, plus one line with the number kept), every file on disk before
    // this returns; without one, every alert
    // not mailed is written to the mail log as not sent and the queue is
    // emptied.
    void shutdown(std::chrono::milliseconds grace);

    bool mailSending() const { return m_mailSending; }
    qint16 mailRetryCount() const { return m_mailRetryCount; }
    QDateTime lastMailFailure() const { return m_lastMailFailure; }
    bool isTimerActive() const { return m_mailSendTimer.isActive(); }

  signals:
    // A pass has ended (MailSending is false again).
    void passFinished();
    // What became of an alert, for the history: its projector's index now
    // (0 when it is gone) and the alert's message.
    void alertMailed(int projector, const QString& message);
    void alertMailFailed(int projector, const QString& message, const QString& reason);
    void alertDropped(int projector, const QString& message, const QString& why);

  private:
    // The alert whose mail is with the mail thread, held by identity: its
    // text and projector as they were when the mail began, and the tree key
    // of that projector, which survives the renumbering of a deletion.
    struct MailUnderWay {
        MailWorker::Ticket ticket = 0;
        QString text;
        int projector = 0;
        QString projectorKey;
        QString logLine;
    };

    bool retryWaitOver();
    // Hands the oldest alert to the mail thread, or ends the pass.
    void sendNextAlert();
    void mailSent(MailWorker::Ticket ticket, const MailResult& result);
    // Logs the outcome; a mailed alert leaves the queue. True when sent.
    bool recordOutcome(const MailUnderWay& mail, const MailResult& result);
    void removeMailed(const MailUnderWay& mail);
    // The alert's text as the queue holds it now; nothing when its projector,
    // and with it the alert, was deleted meanwhile.
    std::optional<QString> queuedText(const MailUnderWay& mail) const;
    // The index of the mail's projector now; 0 when it was deleted.
    int projectorNow(const MailUnderWay& mail) const;
    void noRecipients();
    void finishPass(bool succeeded);
    void logUnsentAlerts();

    AppState& m_state;
    MailWorker& m_worker;
    // The queue's files, from openSpool() on.
    SpoolHandle m_spool;
    SmtpPassword m_password;
    QTimer m_mailSendTimer;
    bool m_mailSending = false;
    qint16 m_mailRetryCount = 0;
    QDateTime m_lastMailFailure;
    std::optional<MailUnderWay> m_underWay;
    bool m_ended = false;
};
