#include "mail/NorSendLibrary.h"

#include "mail/MailLogging.h"

#include "NorSend.h"
#include "mail/NorSendPath.h"

#include <QCoreApplication>
#include <QStringList>

MailResult NorSendLibrary::Send(const MailMessage& message)
{
    MailResult result;
    if (!load()) {
        qCWarning(lcMail) << "mail not sent:" << m_error;
        result.reasonText = QStringLiteral("mail library not loaded");
        return result;
    }
    const QByteArray s = message.server.toUtf8();
    const QByteArray r = message.recipients.toUtf8();
    const QByteArray f = message.from.toUtf8();
    const QByteArray j = message.subject.toUtf8();
    const QByteArray b = message.body.toUtf8();
    const QByteArray a = message.attachment.toUtf8();
    const QByteArray user = message.user.toUtf8();
    const QByteArray password = message.password.toUtf8();
    const QByteArray security = message.security.toUtf8();
    const QByteArray port = message.port.toUtf8();
    const QByteArray caFile = message.caFile.toUtf8();
    const BSmtpSettings settings{user.constData(), password.constData(), security.constData(),
                                 port.constData(), caFile.constData()};
    BSmtpReport report{};
    result.sent = m_sendEx(s.constData(), r.constData(), f.constData(), j.constData(),
                           b.constData(), a.constData(), &settings, &report) != 0;
    result.reason = report.reason;
    result.reasonText = QString::fromUtf8(report.text);
    result.replyCode = report.replyCode;
    result.permanent = report.permanent != 0;
    result.attachmentSkipped = report.attachmentSkipped != 0;
    result.refused = QString::fromUtf8(report.refused).split(QLatin1Char('\t'), Qt::SkipEmptyParts);
    return result;
}

bool NorSendLibrary::load()
{
    if (m_send)
        return true;
    QStringList candidates;
    if (!m_libraryPath.isEmpty()) {
        candidates << m_libraryPath;
    } else {
        if (QCoreApplication::instance())
            candidates << NorSendLibraryPath(QCoreApplication::applicationDirPath());
        candidates << QStringLiteral("norsend");
    }
    QStringList errors;
    for (const QString& candidate : candidates) {
        if (loadFrom(candidate)) {
            m_error.clear();
            return true;
        }
        errors << m_error;
    }
    m_error = errors.join(QStringLiteral("; "));
    return false;
}

bool NorSendLibrary::loadFrom(const QString& fileName)
{
    m_library.setFileName(fileName);
    if (!m_library.load()) {
        m_error = m_library.errorString();
        return false;
    }
    m_send = reinterpret_cast<SendFunction>(m_library.resolve("NORSEND_SendMail"));
    m_sendEx = reinterpret_cast<SendExFunction>(m_library.resolve("NORSEND_SendMailEx"));
    if (!m_send || !m_sendEx) {
        m_send = nullptr;
        m_error = m_library.errorString();
        m_library.unload();
        return false;
    }
    return true;
}
