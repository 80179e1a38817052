#include "platform/SingleInstance.h"

#include <QCoreApplication>
#include <QFile>
#include <QSysInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What the holder writes into the file, in the lines QLockFile uses: pid,
// application name, host name. Only for people and the Held detail: the
// lock itself is the flock, never the content.
QByteArray holderLines() {
    return QByteArray::number(QCoreApplication::applicationPid()) + '\n' +
           QCoreApplication::applicationName().toUtf8() + '\n' +
           QSysInfo::machineHostName().toUtf8() + '\n';
}

// The old note is overwritten before it is cut, so a start that finds the
// folder held never reads an empty file.
bool writeNote(int fd) {
    const QByteArray lines = holderLines();
    return ::pwrite(fd, lines.constData(), size_t(lines.size()), 0) == lines.size() &&
           ::ftruncate(fd, lines.size()) == 0;
}

// The second line of the file, read without blocking on anything.
QString holderName(int fd) {
    char buffer[512];
    const ssize_t n = ::pread(fd, buffer, sizeof buffer, 0);
    if (n <= 0)
        return {};
    const QList<QByteArray> lines = QByteArray(buffer, n).split('\n');
    return lines.size() > 1 ? QString::fromUtf8(lines[1]) : QString();
}

} // namespace

SingleInstance::~SingleInstance() {
    release();
}

bool SingleInstance::acquire(const QString& programFolder) {
    release();
    m_outcome = lock(programFolder);
    return m_outcome == Outcome::Acquired;
}

void SingleInstance::release() {
    // The file stays: removing it would let a start that opened it just
    // before lock a file no later start sees.
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

SingleInstance::Outcome SingleInstance::lock(const QString& programFolder) {
    const QString path = programFolder + QStringLiteral("/norvik3.lock");
    m_detail.clear();
    // Close-on-exec: a child the program starts must not keep the lock alive.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd < 0) {
        m_detail = errno == EACCES || errno == EROFS
                       ? QStringLiteral("cannot write the lock file %1").arg(path)
                       : QStringLiteral("cannot make the lock file %1: %2")
                             .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return Outcome::Failed;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        m_detail =
            QStringLiteral("cannot make the lock file %1: it is not a regular file").arg(path);
        return Outcome::Failed;
    }
    int locked = 0;
    do
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK)
            m_detail = holderName(fd);
        else
            m_detail = QStringLiteral("cannot lock the lock file %1: %2")
                           .arg(path, QString::fromLocal8Bit(std::strerror(error)));
        ::close(fd);
        return error == EWOULDBLOCK ? Outcome::Held : Outcome::Failed;
    }
    // Best effort: the lock holds whether or not its note is written.
    writeNote(fd);
    m_fd = fd;
    return Outcome::Acquired;
}
