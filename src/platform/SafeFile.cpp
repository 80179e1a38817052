#include "platform/SafeFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

FileOutcome failure(const QString& what, const QString& path, int error) {
    return {false, QStringLiteral("%1 %2: %3").arg(what, path, systemError(error))};
}


} // namespace

QString TemporaryNameFor(const QString& fileName) {
    const quint64 random = QRandomGenerator::system()->generate64();
    return QStringLiteral("%1.%2%3-%4")
        .arg(fileName, QLatin1String(TemporaryMark))
        .arg(::getpid())
        .arg(random, 16, 16, QLatin1Char('0'));
}

bool IsTemporaryOf(const QString& candidate, const QString& fileName) {
    const QString prefix = fileName + QLatin1Char('.') + QLatin1String(TemporaryMark);
    if (!candidate.startsWith(prefix))
        return false;
    static const QRegularExpression tail(QStringLiteral("^[0-9]{1,10}-[0-9a-f]{16}$"));
    return tail.match(candidate.mid(prefix.size())).hasMatch();
}

void SyncFolder(const QString& folder) {
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

namespace {

enum class ModeOf { OldFile, Given };

FileOutcome writeAtomically(const QString& path, const QByteArray& content, mode_t newFileMode,
                            ModeOf modeOf, FolderSync folderSync) {
    const QFileInfo target(path);
    const QByteArray targetPath = QFile::encodeName(path);
    mode_t mode = newFileMode;
    struct stat existing {};
    if (::lstat(targetPath.constData(), &existing) == 0) {
        if (!S_ISREG(existing.st_mode))
            return {false, QStringLiteral("cannot save %1: it is not a regular file").arg(path)};
        if (modeOf == ModeOf::OldFile)
            mode = existing.st_mode & 07777;
    } else if (errno != ENOENT) {
        return failure(QStringLiteral("cannot save"), path, errno);
    }
    const QString folder = target.absolutePath();
    const QByteArray temporary =
        QFile::encodeName(folder + QLatin1Char('/') + TemporaryNameFor(target.fileName()));
    const int fd =
        ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0)
        return failure(QStringLiteral("cannot save"), path, errno);
    // The mode given to open() is cut by the umask; the old file's is kept.
    ::fchmod(fd, mode);
    int error = 0;
    if (!WriteAll(fd, content.constData(), content.size()) || ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temporary.constData(), targetPath.constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.constData());
        return failure(QStringLiteral("cannot save"), path, error);
    }
    if (folderSync == FolderSync::Now)
        SyncFolder(folder);
    return {true, {}};
}

} // namespace

FileOutcome WriteFileAtomically(const QString& path, const QByteArray& content, mode_t newFileMode,
                                FolderSync folderSync) {
    return writeAtomically(path, content, newFileMode, ModeOf::OldFile, folderSync);
}

FileOutcome WriteOwnerOnlyFile(const QString& path, const QByteArray& content) {
    return writeAtomically(path, content, 0600, ModeOf::Given, FolderSync::Now);
}

std::optional<QByteArray> ReadRegularFile(const QString& path, QString* error, qint64 maxBytes) {
    const auto refuse = [&](const QString& why) -> std::optional<QByteArray> {
        if (error)
            *error = QStringLiteral("%1 was not read: %2").arg(path, why);
        return std::nullopt;
    };
    if (error)
        error->clear();
    const QByteArray name = QFile::encodeName(path);
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return std::nullopt;
        return refuse(systemError(errno));
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int e = errno;
        ::close(fd);
        return refuse(systemError(e));
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        return refuse(S_ISDIR(info.st_mode) ? QStringLiteral("it is a folder")
                                            : QStringLiteral("it is not a regular file"));
    }
    if (info.st_size > maxBytes) {
        ::close(fd);
        return refuse(QStringLiteral("it is larger than %1 MiB").arg(maxBytes / (1024 * 1024)));
    }
    QByteArray content;
    content.reserve(qsizetype(info.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int e = errno;
            ::close(fd);
            return refuse(systemError(e));
        }
        if (n == 0)
            break;
        // The file may grow while it is read.
        if (content.size() + n > maxBytes) {
            ::close(fd);
            return refuse(QStringLiteral("it is larger than %1 MiB").arg(maxBytes / (1024 * 1024)));
        }
        content.append(buffer, n);
    }
    ::close(fd);
    return content;
}

int OpenForAppend(const QString& path, mode_t mode) {
    const QByteArray name = QFile::encodeName(path);
    const int fd =
        ::open(name.constData(),
               O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
    if (fd < 0)
        return -1;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    // Writes to a regular file are never short for want of a reader; drop
    // O_NONBLOCK so they behave as usual.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool WriteAll(int fd, const char* data, qint64 size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}
