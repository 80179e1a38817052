#include "core/HealthReport.h"

QString HealthConditionName(HealthCondition condition) {
    switch (condition) {
    case HealthCondition::EndpointLimits:
        return QStringLiteral("endpoint_limits");
    case HealthCondition::MailFailing:
        return QStringLiteral("mail_failing");
    case HealthCondition::NoRecipient:
        return QStringLiteral("no_recipient");
    case HealthCondition::LogWriteFailing:
        return QStringLiteral("log_write_failing");
    case HealthCondition::PollingBehind:
        return QStringLiteral("polling_behind");
    case HealthCondition::SpoolDropping:
        return QStringLiteral("spool_dropping");
    case HealthCondition::SpoolFailing:
        return QStringLiteral("spool_failing");
    case HealthCondition::SaveFailing:
        return QStringLiteral("save_failing");
    case HealthCondition::PasswordsRefused:
        return QStringLiteral("pjlink_passwords_refused");
    case HealthCondition::NotificationsFailing:
        return QStringLiteral("pjlink_notifications_failing");
    case HealthCondition::HistoryFailing:
        return QStringLiteral("history_failing");
    case HealthCondition::ApiTokensRefused:
        return QStringLiteral("api_tokens_refused");
    case HealthCondition::CertificateExpiring:
        return QStringLiteral("certificate_expiring");
    case HealthCondition::CertificateRefused:
        return QStringLiteral("certificate_refused");
    case HealthCondition::Count:
        break;
    }
    return {};
}

void HealthReport::raise(HealthCondition condition, const QString& text) {
    Entry& e = m_entries[std::size_t(condition)];
    if (e.active && e.text == text)
        return;
    if (!e.active)
        e.since = QDateTime::currentDateTime();
    e.active = true;
    e.text = text;
    emit changed(condition, true, text);
}

void HealthReport::clear(HealthCondition condition, const QString& text) {
    Entry& e = m_entries[std::size_t(condition)];
    if (!e.active)
        return;
    e = Entry{};
    emit changed(condition, false, text);
}

bool HealthReport::anyActive() const {
    for (const Entry& e : m_entries)
        if (e.active)
            return true;
    return false;
}

QStringList HealthReport::activeNames() const {
    QStringList names;
    for (std::size_t i = 0; i < m_entries.size(); ++i)
        if (m_entries[i].active)
            names << HealthConditionName(HealthCondition(i));
    return names;
}
