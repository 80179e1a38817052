#include "mail/SpoolWriter.h"

#include "platform/SafeFile.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QThread>

#include <condition_variable>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

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

QStringList carryOut(const QString& folder, const Batch& batch) {
    QStringList errors;
    if (!batch.writes.empty() && !QDir().mkpath(folder)) {
        for (const auto& [id, write] : batch.writes)
            errors
                << QStringLiteral("cannot save %1: the folder cannot be created").arg(write.path);
        return errors;
    }
    // Each file's data is synced before its rename; the folder once for all.
    for (const auto& [id, write] : batch.writes)
        if (const FileOutcome saved =
                WriteFileAtomically(write.path, write.content, 0600, FolderSync::Later);
            !saved)
            errors << saved.error;
    for (const QString& path : batch.removals)
        ::unlink(QFile::encodeName(path).constData()); // a file never written is no loss
    SyncFolder(folder);
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
