#include "log/LogFileMaker.h"

#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/SafeFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace {

bool needsEscape(QChar c) {
    const char16_t u = c.unicode();
    return u < 0x20 || (u >= 0x7F && u <= 0x9F) || u == 0x2028 || u == 0x2029 || u == u'\\';
}

QString hexDigits(char16_t u, int width) {
    return QString::number(uint(u), 16).toUpper().rightJustified(width, QLatin1Char('0'));
}

QString systemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
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

bool LogFileMaker::IsLogFileName(const QString& name) {
    // "yyyyMMdd.log" without a size limit, "yyMMdd_N.log" with one.
    static const QRegularExpression pattern(QStringLiteral("^(?:[0-9]{8}|[0-9]{6}_[1-9])\\.log$"));
    return pattern.match(name).hasMatch();
}

bool LogFileMaker::WriteLog(const QString& text, qint16 stamp) {
    m_lastError = writeLine(text, stamp);
    return m_lastError.isEmpty();
}

QString LogFileMaker::writeLine(const QString& text, qint16 stamp) {
    const QFileInfo folder(m_path.chopped(1));
    if (folder.isSymLink())
        return QStringLiteral("the log folder %1 is a link, which is not followed").arg(m_path);
    if (!folder.isDir() && !QDir().mkdir(m_path))
        return QStringLiteral("cannot create the log folder %1").arg(m_path);

    QString line;
    if (stamp == 1) {
        line = QLatin1Char('[') + now().toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")) +
               QStringLiteral("],");
    }
    line += EscapeLogText(text) + QStringLiteral("\r\n");

    const QString name = currentFileName();
    // Never through a link planted in the folder, never into a FIFO.
    const int fd = OpenForAppend(name);
    if (fd < 0)
        return QStringLiteral("cannot open %1: %2").arg(name, systemError());
    const QByteArray bytes = line.toUtf8();
    const bool written = WriteAll(fd, bytes.constData(), bytes.size());
    const QString writeError = written ? QString() : systemError();
    if (::close(fd) != 0 && written)
        return QStringLiteral("cannot write %1: %2").arg(name, systemError());
    if (!written)
        return QStringLiteral("cannot write %1: %2").arg(name, writeError);
    m_writtenSinceCheck += bytes.size();
    if (name == m_checkedFile && m_writtenSinceCheck < CheckEveryBytes)
        return {};
    QString error = removeOldest();
    if (error.isEmpty())
        error = removeBeyondSize(name);
    // A failed clean-up is tried again with the next line.
    m_checkedFile = error.isEmpty() ? name : QString();
    m_writtenSinceCheck = 0;
    return error;
}

QFileInfoList LogFileMaker::ownFiles() const {
    QFileInfoList files;
    for (const QFileInfo& info :
         QDir(m_path).entryInfoList({QStringLiteral("*.log")}, QDir::Files, QDir::Name)) {
        // Only our own files: someone else's notes.log stays, and so does
        // anything that is not a plain file.
        if (IsLogFileName(info.fileName()) && !info.isSymLink() && info.isFile())
            files << info;
    }
    return files;
}

QString LogFileMaker::removeBeyondSize(const QString& current) const {
    if (m_maxFolderBytes <= 0)
        return {};
    QFileInfoList files = ownFiles();
    qint64 total = 0;
    for (const QFileInfo& info : files)
        total += info.size();
    if (total <= m_maxFolderBytes)
        return {};
    // Oldest days first (by time, then by name); the file being written last.
    const QString currentPath = QFileInfo(current).absoluteFilePath();
    std::stable_sort(files.begin(), files.end(), [&](const QFileInfo& a, const QFileInfo& b) {
        const bool aCurrent = a.absoluteFilePath() == currentPath;
        const bool bCurrent = b.absoluteFilePath() == currentPath;
        if (aCurrent != bCurrent)
            return bCurrent;
        if (a.lastModified() != b.lastModified())
            return a.lastModified() < b.lastModified();
        return a.fileName() < b.fileName();
    });
    for (const QFileInfo& info : files) {
        if (total <= m_maxFolderBytes)
            break;
        if (!QFile::remove(info.absoluteFilePath()))
            return QStringLiteral("cannot remove the old log %1").arg(info.absoluteFilePath());
        total -= info.size();
    }
    return {};
}

QString LogFileMaker::removeOldest() const {
    const QFileInfoList files = ownFiles();
    if (files.isEmpty() || files.size() < m_maxCount)
        return {};
    const QFileInfo* oldest = nullptr;
    for (const QFileInfo& info : files) {
        // Only a strictly older file replaces the candidate.
        if (!oldest || info.lastModified() < oldest->lastModified())
            oldest = &info;
    }
    if (!QFile::remove(oldest->absoluteFilePath()))
        return QStringLiteral("cannot remove the old log %1").arg(oldest->absoluteFilePath());
    return {};
}
