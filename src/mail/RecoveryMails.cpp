#include "mail/RecoveryMails.h"

#include <utility>

void RecoveryMails::errorAlerted(int projector, const QString& message) {
    if (validIndex(projector))
        m_pending[std::size_t(projector)].error = {true, message};
}

void RecoveryMails::disconnectAlerted(int projector, const QString& message) {
    if (validIndex(projector))
        m_pending[std::size_t(projector)].disconnect = {true, message};
}

QString RecoveryMails::errorCleared(int projector) {
    return validIndex(projector) ? take(m_pending[std::size_t(projector)].error) : QString();
}

QString RecoveryMails::contactRegained(int projector) {
    return validIndex(projector) ? take(m_pending[std::size_t(projector)].disconnect) : QString();
}

QString RecoveryMails::take(Alerted& alerted) const {
    if (!alerted.pending)
        return {};
    alerted.pending = false;
    const MailSettings& mail = m_state.Mail;
    if (!mail.MailSend || !mail.RecoverySend)
        return {};
    return QStringLiteral("Recovered: ") + std::exchange(alerted.message, QString());
}
