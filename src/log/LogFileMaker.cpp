#include "log/LogFileMaker.h"

#include "core/Clock.h"
#include "platform/Paths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

bool needsEscape(QChar c) {
    const char16_t u = c.unicode();
    return u < 0x20 || (u >= 0x7F && u <= 0x9F) || u == 0x2028 || u == 0x2029 || u == u'\\';
}

QString hexDigits(char16_t u, int width) {
    return QString::number(uint(u), 16).toUpper().rightJustified(width, QLatin1Char('0'));
}

} // namespace

QString EscapeLogText(const QString& text) {
    if (std::none_of(text.cbegin(), text.cend(), needsEscape))
        return text;
    QString out;
    out.reserve(text.size() + 16);
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (!needsEscape(c))
            out += c;
        else if (u == u'\\')
            out += QStringLiteral("\\\\");
        else if (u == u'\r')
            out += QStringLiteral("\\r");
        else if (u == u'\n')
            out += QStringLiteral("\\n");
        else if (u == u'\t')
            out += QStringLiteral("\\t");
        else if (u <= 0x7F)
            out += QStringLiteral("\\x") + hexDigits(u, 2);
        else
            out += QStringLiteral("\\u") + hexDigits(u, 4);
    }
    return out;
}

QString DefaultLogFolder() {
    return ProgramFolderPath() + QStringLiteral("/NorvikLog/");
}

QDateTime LogFileMaker::now() const {
    return m_clock ? m_clock->now() : QDateTime::currentDateTime();
}

LogFileMaker::LogFileMaker(const QString& path) {
    setPath(path.isEmpty() ? DefaultLogFolder() : path);
}

void LogFileMaker::setPath(const QString& path) {
    m_path = path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
}

QString LogFileMaker::currentFileName() const {
    const QDate today = now().date();
    if (m_maxSize <= 0)
        return m_path + today.toString(QStringLiteral("yyyyMMdd")) + QStringLiteral(".log");

    const QString prefix = m_path + today.toString(QStringLiteral("yyMMdd")) + QLatin1Char('_');
    for (int n = 1; n <= 9; ++n) {
        const QString name = prefix + QString::number(n) + QStringLiteral(".log");
        const QFileInfo info(name);
        if (!info.exists() || info.size() <= m_maxSize)
            return name;
    }
    // The ninth file of a day grows without limit.
    return prefix + QStringLiteral("9.log");
}

bool LogFileMaker::WriteLog(const QString& text, qint16 stamp) {
    QDir dir(m_path);
    if (!dir.exists() && !QDir().mkdir(m_path))
        return false;

    QString line;
    if (stamp == 1) {
        line = QLatin1Char('[') + now().toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")) +
               QStringLiteral("],");
    }
    line += EscapeLogText(text) + QStringLiteral("\r\n");

    QFile file(currentFileName());
    if (!file.open(QIODevice::Append))
        return false;
    const QByteArray bytes = line.toUtf8();
    const bool written = file.write(bytes) == bytes.size();
    file.close();
    if (!written)
        return false;
    return removeOldest();
}

bool LogFileMaker::removeOldest() const {
    const QFileInfoList files =
        QDir(m_path).entryInfoList({QStringLiteral("*.log")}, QDir::Files, QDir::Name);
    if (files.isEmpty() || files.size() < m_maxCount)
        return true;
    const QFileInfo* oldest = nullptr;
    for (const QFileInfo& info : files) {
        // Only a strictly older file replaces the candidate.
        if (!oldest || info.lastModified() < oldest->lastModified())
            oldest = &info;
    }
    return QFile::remove(oldest->absoluteFilePath());
}
