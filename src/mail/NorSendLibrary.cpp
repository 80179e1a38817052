#include "mail/NorSendLibrary.h"

#include "mail/MailLogging.h"

#include <QCoreApplication>
#include <QStringList>

qint32 NorSendLibrary::SendMail(const QString& server, const QString& recipients,
                                const QString& from, const QString& subject, const QString& body,
                                const QString& attachment)
{
    if (!load()) {
        qCWarning(lcMail) << "mail not sent:" << m_error;
        return 0;
    }
    const QByteArray s = server.toUtf8();
    const QByteArray r = recipients.toUtf8();
    const QByteArray f = from.toUtf8();
    const QByteArray j = subject.toUtf8();
    const QByteArray b = body.toUtf8();
    const QByteArray a = attachment.toUtf8();
    return m_send(s.constData(), r.constData(), f.constData(), j.constData(), b.constData(),
                  a.constData());
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
            candidates << QCoreApplication::applicationDirPath() + QStringLiteral("/norsend");
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
    if (!m_send) {
        m_error = m_library.errorString();
        m_library.unload();
        return false;
    }
    return true;
}
