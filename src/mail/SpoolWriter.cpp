#include "mail/SpoolWriter.h"

#include "platform/SafeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QThread>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Write {
    QString path;
    QByteArray content;
};

struct Batch {
    std::map<quint64, Write> writes; // by id, so in the order they were queued
    std::vector<QString> removals;
    bool empty() const { return writes.empty() && removals.empty(); }
};

QString cannotSave(const QString& path, int error) {
    return QStringLiteral("cannot save %1: %2")
        .arg(path, QString::fromLocal8Bit(std::strerror(error)));
}

bool writeAll(int fd, const QByteArray& content) {
    const char* data = content.constData();
    qint64 left = content.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        left -= n;
    }
    return true;
}

// A new temporary beside the file (never through a link), its data synced,
// then renamed into place; the folder is synced later, once per batch. The
// temporary is named as SafeFile names them, so the spool's load knows it.
QString writeOne(const Write& write) {
    const QFileInfo info(write.path);
    const QByteArray target = QFile::encodeName(write.path);
    const QByteArray temporary = QFile::encodeName(info.absolutePath() + QLatin1Char('/') +
                                                   TemporaryNameFor(info.fileName()));
    const int fd =
        ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return cannotSave(write.path, errno);
    ::fchmod(fd, 0600); // whatever the umask
    int error = 0;
    if (!writeAll(fd, write.content) || ::fdatasync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temporary.constData(), target.constData()) != 0)
        error = errno;
    if (error == 0)
        return {};
    ::unlink(temporary.constData());
    return cannotSave(write.path, error);
}

QStringList carryOut(const QString& folder, const Batch& batch) {
    QStringList errors;
    if (!batch.writes.empty() && !QDir().mkpath(folder)) {
        for (const auto& [id, write] : batch.writes)
            errors
                << QStringLiteral("cannot save %1: the folder cannot be created").arg(write.path);
        return errors;
    }
    for (const auto& [id, write] : batch.writes)
        if (QString error = writeOne(write); !error.isEmpty())
            errors << std::move(error);
    for (const QString& path : batch.removals)
        ::unlink(QFile::encodeName(path).constData()); // a file never written is no loss
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
    return errors;
}

} // namespace

// What the event loop and the writer thread share, all guarded by the mutex.
struct SpoolWriter::Shared {
    Shared(QString folder, int capacity, SpoolWriter* owner)
        : folder(std::move(folder)), capacity(capacity), owner(owner) {}

    const QString folder;
    const int capacity;
    SpoolWriter* const owner;

    std::mutex mutex;
    std::condition_variable changed;
    Batch queued;
    bool busy = false; // a batch is being carried out
    bool held = false;
    int flushing = 0;
    bool stopping = false;
    QStringList failures; // not yet reported

    bool mayWork() const { return !queued.empty() && (!held || flushing > 0 || stopping); }
};

SpoolWriter::SpoolWriter(QString folder, int capacity, QObject* parent)
    : QObject(parent), m_shared(std::make_unique<Shared>(std::move(folder), capacity, this)) {
    m_thread.reset(QThread::create([shared = m_shared.get()] { run(*shared); }));
    m_thread->setObjectName(QStringLiteral("spool"));
    m_thread->start();
}

SpoolWriter::~SpoolWriter() {
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->stopping = true;
    }
    m_shared->changed.notify_all();
    m_thread->wait();
}

bool SpoolWriter::write(quint64 id, QString path, QByteArray content) {
    {
        const std::lock_guard lock(m_shared->mutex);
        if (int(m_shared->queued.writes.size()) >= m_shared->capacity)
            return false;
        m_shared->queued.writes.emplace(id, Write{std::move(path), std::move(content)});
    }
    m_shared->changed.notify_all();
    return true;
}

void SpoolWriter::remove(quint64 id, QString path) {
    {
        const std::lock_guard lock(m_shared->mutex);
        if (m_shared->queued.writes.erase(id) != 0)
            return;
        m_shared->queued.removals.push_back(std::move(path));
    }
    m_shared->changed.notify_all();
}

void SpoolWriter::flush() {
    {
        std::unique_lock lock(m_shared->mutex);
        ++m_shared->flushing;
        m_shared->changed.notify_all();
        m_shared->changed.wait(lock, [&] { return m_shared->queued.empty() && !m_shared->busy; });
        --m_shared->flushing;
    }
    deliverFailures();
}

void SpoolWriter::setHeld(bool held) {
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->held = held;
    }
    m_shared->changed.notify_all();
}

int SpoolWriter::waiting() const {
    const std::lock_guard lock(m_shared->mutex);
    return int(m_shared->queued.writes.size());
}

void SpoolWriter::deliverFailures() {
    QStringList failures;
    {
        const std::lock_guard lock(m_shared->mutex);
        failures = std::exchange(m_shared->failures, {});
    }
    for (const QString& failure : failures)
        emit writeFailed(failure);
}

void SpoolWriter::run(Shared& shared) {
    std::unique_lock lock(shared.mutex);
    for (;;) {
        shared.changed.wait(lock, [&] { return shared.stopping || shared.mayWork(); });
        if (!shared.mayWork())
            return; // stopping, and nothing left
        const Batch batch = std::exchange(shared.queued, {});
        shared.busy = true;
        lock.unlock();

        QStringList errors = carryOut(shared.folder, batch);

        lock.lock();
        shared.busy = false;
        if (!errors.isEmpty()) {
            const bool first = shared.failures.isEmpty();
            shared.failures << errors;
            // The owner outlives this thread (its destructor joins it), and
            // an event still queued then is dropped with it.
            if (first)
                QMetaObject::invokeMethod(
                    shared.owner, [owner = shared.owner] { owner->deliverFailures(); },
                    Qt::QueuedConnection);
        }
        shared.changed.notify_all();
    }
}
