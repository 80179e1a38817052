#pragma once

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <chrono>

struct AppState;
class NorSendLibrary;

// Mails the queued alert texts one by one. StartAlertSender() is called after
// each new alert; MailSendTimer then runs send passes every second until the
// queue is empty, a failed mail is retried 4 to 5 minutes later (three
// retries at most), and after that the sender rests until the next alert.
class AlertSender : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds SendInterval{1000};
    static constexpr int RetryWaitMinutes = 5; // minute boundaries, so 4 to 5 minutes
    static constexpr int MaxRetries = 3;

    AlertSender(AppState& state, NorSendLibrary& library, QObject* parent = nullptr);

    // Starts MailSendTimer unless a pass runs or a retry is pending.
    void StartAlertSender();
    // One tick of MailSendTimer.
    void RunSendPass();

    bool mailSending() const { return m_mailSending; }
    qint16 mailRetryCount() const { return m_mailRetryCount; }
    QDateTime lastMailFailure() const { return m_lastMailFailure; }
    bool isTimerActive() const { return m_mailSendTimer.isActive(); }

private:
    bool retryWaitOver();
    // Mails queued alerts until the queue is empty (true) or a mail fails.
    bool sendQueuedAlerts(const QString& recipients);
    void finishPass(bool succeeded);

    AppState& m_state;
    NorSendLibrary& m_library;
    QTimer m_mailSendTimer;
    bool m_mailSending = false;
    qint16 m_mailRetryCount = 0;
    QDateTime m_lastMailFailure;
};
