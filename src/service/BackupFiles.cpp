#include "service/BackupFiles.h"

#include "platform/SafeFile.h"

#include <QCryptographicHash>
#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// A regular file opened for reading, never a FIFO that would wait.
int openRegular(const QString& path, QString* error) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0) {
        *error = QStringLiteral("%1: %2").arg(path, systemError(errno));
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    if (!S_ISREG(info.st_mode)) {
        *error = QStringLiteral("%1: it is not a regular file").arg(path);
        ::close(fd);
        return -1;
    }
    return fd;
}


} // namespace

FileOutcome CopyToNewFile(const QString& from, const QString& to, mode_t mode) {
    QString error;
    const int in = openRegular(from, &error);
    if (in < 0)
        return {false, QStringLiteral("cannot read ") + error};
    const QByteArray target = QFile::encodeName(to);
    const int out = ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                           mode & 07777);
    if (out < 0) {
        const int e = errno;
        ::close(in);
        return {false, QStringLiteral("cannot write %1: %2").arg(to, systemError(e))};
    }
    char buffer[1 << 16];
    int failure = 0;
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || (n > 0 && !WriteAll(out, buffer, n))) {
            failure = errno == 0 ? EIO : errno;
            break;
        }
        if (n == 0)
            break;
    }
    // The umask must not narrow or widen what was asked for.
    if (failure == 0 && (::fchmod(out, mode & 07777) != 0 || ::fsync(out) != 0))
        failure = errno;
    ::close(in);
    if (::close(out) != 0 && failure == 0)
        failure = errno;
    if (failure != 0) {
        ::unlink(target.constData());
        return {false, QStringLiteral("cannot write %1: %2").arg(to, systemError(failure))};
    }
    return {true, {}};
}

std::optional<FileDigest> DigestOf(const QString& path, QString* error) {
    const int fd = openRegular(path, error);
    if (fd < 0)
        return std::nullopt;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    FileDigest digest;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *error = QStringLiteral("%1: %2").arg(path, systemError(errno));
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        hash.addData(QByteArrayView(buffer, n));
        digest.size += n;
    }
    ::close(fd);
    digest.sha256 = hash.result().toHex();
    return digest;
}

std::optional<mode_t> ModeOf(const QString& path) {
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return info.st_mode & 07777;
}
