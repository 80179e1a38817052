#include "platform/SingleInstance.h"

#include <QLockFile>

SingleInstance::SingleInstance() = default;
SingleInstance::~SingleInstance() = default;

bool SingleInstance::acquire(const QString& programFolder) {
    m_outcome = lock(programFolder);
    return m_outcome == Outcome::Acquired;
}

SingleInstance::Outcome SingleInstance::lock(const QString& programFolder) {
    const QString path = programFolder + QStringLiteral("/norvik3.lock");
    auto lock = std::make_unique<QLockFile>(path);
    // The lock lives as long as the program; only a lock whose owner has died
    // counts as stale, never one that is merely old.
    lock->setStaleLockTime(0);
    m_detail.clear();
    if (lock->tryLock(0)) {
        m_lock = std::move(lock);
        return Outcome::Acquired;
    }
    if (lock->error() == QLockFile::LockFailedError) {
        qint64 pid = 0;
        QString host;
        lock->getLockInfo(&pid, &host, &m_detail);
        return Outcome::Held;
    }
    m_detail = lock->error() == QLockFile::PermissionError
                   ? QStringLiteral("cannot write the lock file %1").arg(path)
                   : QStringLiteral("cannot make the lock file %1").arg(path);
    return Outcome::Failed;
}
