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

#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Write {
    QString path;
    QByteArray content;
    bool reported = false; // its failure was reported: it is being written again
};

using Writes = std::map<quint64, Write>; // by id, so in the order they were queued

struct Batch {
    Writes writes;
    std::map<quint64, QString> removals;
    bool empty() const { return writes.empty() && removals.empty(); }
};

struct Outcome {
    QStringList errors; // one for each file not written that was not reported before
    Writes unsaved;
    bool wrote = false;
};

// Keeps the write for another try; its first failure is reported.
void keepUnsaved(Outcome& outcome, quint64 id, Write write, const QString& error) {
    if (!write.reported)
        outcome.errors << error;
    write.reported = true;
    outcome.unsaved.emplace(id, std::move(write));
}

Outcome carryOut(const QString& folder, Batch batch) {
    Outcome outcome;
    if (!batch.writes.empty() && !QDir().mkpath(folder)) {
        for (auto& [id, write] : batch.writes) {
            const QString error =
                QStringLiteral("cannot save %1: the folder cannot be created").arg(write.path);
            keepUnsaved(outcome, id, std::move(write), error);
        }
        batch.writes.clear();
    }
    // Each file's data is synced before its rename; the folder once for all.
    // Once a write has failed, files already reported wait for the next try:
    // the disk that refused one would refuse them too.
    bool refused = false;
    for (auto& [id, write] : batch.writes) {
        if (refused && write.reported) {
            outcome.unsaved.emplace(id, std::move(write));
            continue;
        }
        const FileOutcome saved =
            WriteFileAtomically(write.path, write.content, 0600, FolderSync::Later);
        if (saved) {
            outcome.wrote = true;
            continue;
        }
        refused = true;
        keepUnsaved(outcome, id, std::move(write), saved.error);
    }
    for (const auto& [id, path] : batch.removals)
        ::unlink(QFile::encodeName(path).constData()); // a file never written is no loss
    SyncFolder(folder);
    return outcome;
}

} // namespace

// What the event loop and the writer thread share, all guarded by the mutex.
struct SpoolWriter::Shared {
    Shared(QString folder, int capacity, std::chrono::milliseconds retryInterval,
           SpoolWriter* owner)
        : folder(std::move(folder)), capacity(capacity), retryInterval(retryInterval),
          owner(owner) {}

    const QString folder;
    const int capacity;
    const std::chrono::milliseconds retryInterval;
    SpoolWriter* const owner;

    std::mutex mutex;
    std::condition_variable changed;
    Batch queued;
    Writes unsaved;            // failed, to be written again
    Clock::time_point retryAt; // when the unsaved files are tried without a batch
    bool retryNow = false;     // flush() or the end wants them tried at once
    bool busy = false;         // a batch is being carried out
    bool held = false;
    int flushing = 0;
    bool stopping = false;
    bool failing = false; // a write failed, and none has succeeded since with none unsaved
    QStringList failures; // not yet reported
    bool reportPosted = false;

    int waiting() const { return int(queued.writes.size() + unsaved.size()); }
    bool mayWork(Clock::time_point now) const {
        const bool work = !queued.empty() || retryNow || (!unsaved.empty() && now >= retryAt);
        return work && (!held || flushing > 0 || stopping);
    }
    // After a batch: what it could not write waits again, unless the alert
    // was removed meanwhile.
    void takeBack(Outcome& outcome) {
        for (auto& [id, write] : outcome.unsaved)
            if (queued.removals.count(id) == 0)
                unsaved.emplace(id, std::move(write));
        if (!unsaved.empty())
            retryAt = Clock::now() + retryInterval;
        const bool wasFailing = failing;
        if (!outcome.errors.isEmpty() || !outcome.unsaved.empty())
            failing = true;
        else if (outcome.wrote && unsaved.empty())
            failing = false;
        failures << outcome.errors;
        // The owner outlives this thread (its destructor joins it), and an
        // event still queued then is dropped with it.
        if ((!outcome.errors.isEmpty() || wasFailing != failing) && !reportPosted) {
            reportPosted = true;
            QMetaObject::invokeMethod(
                owner, [owner = owner] { owner->deliverReports(); }, Qt::QueuedConnection);
        }
    }
};

SpoolWriter::SpoolWriter(QString folder, int capacity, std::chrono::milliseconds retryInterval,
                         QObject* parent)
    : QObject(parent),
      m_shared(std::make_unique<Shared>(std::move(folder), capacity, retryInterval, this)) {
    m_thread.reset(QThread::create([shared = m_shared.get()] { run(*shared); }));
    m_thread->setObjectName(QStringLiteral("spool"));
    m_thread->start();
}

SpoolWriter::~SpoolWriter() {
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->stopping = true;
        m_shared->retryNow = m_shared->retryNow || !m_shared->unsaved.empty();
    }
    m_shared->changed.notify_all();
    m_thread->wait();
}

bool SpoolWriter::write(quint64 id, QString path, QByteArray content) {
    {
        const std::lock_guard lock(m_shared->mutex);
        if (m_shared->waiting() >= m_shared->capacity)
            return false;
        m_shared->queued.writes.emplace(id, Write{std::move(path), std::move(content)});
    }
    m_shared->changed.notify_all();
    return true;
}

void SpoolWriter::remove(quint64 id, QString path) {
    {
        const std::lock_guard lock(m_shared->mutex);
        if (m_shared->queued.writes.erase(id) != 0 || m_shared->unsaved.erase(id) != 0)
            return;
        m_shared->queued.removals.emplace(id, std::move(path));
    }
    m_shared->changed.notify_all();
}

void SpoolWriter::flush() {
    {
        std::unique_lock lock(m_shared->mutex);
        ++m_shared->flushing;
        m_shared->retryNow = m_shared->retryNow || !m_shared->unsaved.empty();
        m_shared->changed.notify_all();
        m_shared->changed.wait(lock, [&] {
            return m_shared->queued.empty() && !m_shared->busy && !m_shared->retryNow;
        });
        --m_shared->flushing;
    }
    deliverReports();
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
    return m_shared->waiting();
}

int SpoolWriter::unsaved() const {
    const std::lock_guard lock(m_shared->mutex);
    return int(m_shared->unsaved.size());
}

void SpoolWriter::deliverReports() {
    QStringList failures;
    bool failing = false;
    {
        const std::lock_guard lock(m_shared->mutex);
        failures = std::exchange(m_shared->failures, {});
        failing = m_shared->failing;
        m_shared->reportPosted = false;
    }
    for (const QString& failure : failures)
        emit writeFailed(failure);
    if (!failures.isEmpty())
        m_failingReported = true;
    if (m_failingReported && !failing) {
        m_failingReported = false;
        emit writesResumed();
    }
}

void SpoolWriter::run(Shared& shared) {
    std::unique_lock lock(shared.mutex);
    for (;;) {
        const auto ready = [&] { return shared.stopping || shared.mayWork(Clock::now()); };
        // Unsaved files are tried again at retryAt; a held writer waits for
        // a word from the event loop whatever the time.
        if (!shared.unsaved.empty() && !shared.held)
            shared.changed.wait_until(lock, shared.retryAt, ready);
        else
            shared.changed.wait(lock, ready);
        if (!shared.mayWork(Clock::now())) {
            if (shared.stopping)
                return; // nothing left but unsaved files just tried
            continue;
        }
        Batch batch = std::exchange(shared.queued, {});
        // The removals of this batch go with it; a later one for a file of it
        // arrives in the next batch, and takeBack() sees it there.
        for (auto& [id, write] : std::exchange(shared.unsaved, {}))
            batch.writes.emplace(id, std::move(write));
        shared.retryNow = false;
        shared.busy = true;
        lock.unlock();

        Outcome outcome = carryOut(shared.folder, std::move(batch));

        lock.lock();
        shared.busy = false;
        shared.takeBack(outcome);
        shared.changed.notify_all();
    }
}
