#include "mail/RecoveryMails.h"

#include <utility>

void RecoveryMails::errorAlerted(int projector, const QString& message) {
    if (validIndex(projector))
        m_state.Projectors[std::size_t(projector)].ErrorAlertPending = message;
}

void RecoveryMails::disconnectAlerted(int projector, const QString& message) {
    if (validIndex(projector))
        m_state.Projectors[std::size_t(projector)].DisconnectAlertPending = message;
}

void RecoveryMails::authenticationAlerted(int projector, const QString& message) {
    if (validIndex(projector))
        m_state.Projectors[std::size_t(projector)].AuthenticationAlertPending = message;
}

QString RecoveryMails::errorCleared(int projector) {
    return validIndex(projector)
               ? take(m_state.Projectors[std::size_t(projector)].ErrorAlertPending)
               : QString();
}

QString RecoveryMails::contactRegained(int projector) {
    return validIndex(projector)
               ? take(m_state.Projectors[std::size_t(projector)].DisconnectAlertPending)
               : QString();
}

QString RecoveryMails::authenticationCleared(int projector) {
    return validIndex(projector)
               ? take(m_state.Projectors[std::size_t(projector)].AuthenticationAlertPending)
               : QString();
}

QString RecoveryMails::take(std::optional<QString>& pending) const {
    const std::optional<QString> message = std::exchange(pending, std::nullopt);
    const MailSettings& mail = m_state.Mail;
    if (!message || !mail.MailSend || !mail.RecoverySend)
        return {};
    return QStringLiteral("Recovered: ") + *message;
}
