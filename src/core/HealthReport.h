#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include <array>

// What keeps the program from doing its whole job. Each condition is raised
// and cleared by the module that sees it; /api/v1/health, the window's
// problems list and the service's standard error read them from here.
enum class HealthCondition {
    EndpointLimits,       // the status endpoint refused or cut off clients
    MailFailing,          // alert mails cannot be sent
    NoRecipient,          // alerts are on, but no recipient is set
    LogWriteFailing,      // a log line could not be written
    PollingBehind,        // a polling pass took longer than its interval
    SpoolDropping,        // queued alerts were dropped for want of room
    SpoolFailing,         // queued alerts cannot be saved in the spool folder
    SaveFailing,          // a settings or profile file could not be saved
    PasswordsRefused,     // the PJLink passwords file is open to others or unreadable
    NotificationsFailing, // PJLink notifications cannot be received
    HistoryFailing,       // the history is not recorded, or its file was replaced
    ApiTokensRefused,     // the API tokens file is open to others, unreadable or has bad lines
    CertificateExpiring,  // the endpoint's certificate expires within 14 days, or has expired
    CertificateRefused,   // a renewed certificate or key cannot be used: the old one still serves
    Count
};

// Machine-readable names, as /api/v1/health lists them.
QString HealthConditionName(HealthCondition condition);

class HealthReport : public QObject {
    Q_OBJECT
  public:
    struct Entry {
        bool active = false;
        QString text; // what the operator reads: what is wrong and where
        QDateTime since;
    };

    // Raises the condition, or changes its text; changed() only when either
    // differs, so a condition seen on every pass is reported once.
    void raise(HealthCondition condition, const QString& text);
    // Clears it; `text` says what recovered ("Mail log written again").
    void clear(HealthCondition condition, const QString& text = {});

    bool isActive(HealthCondition condition) const { return entry(condition).active; }
    const Entry& entry(HealthCondition condition) const {
        return m_entries[std::size_t(condition)];
    }
    bool anyActive() const;
    // Names of the active conditions, in the enum's order.
    QStringList activeNames() const;

  signals:
    // active false: the condition has cleared, text is the recovery's.
    void changed(HealthCondition condition, bool active, const QString& text);

  private:
    std::array<Entry, std::size_t(HealthCondition::Count)> m_entries{};
};
