#include "platform/SingleInstance.h"

#include <QLockFile>

SingleInstance::SingleInstance() = default;
SingleInstance::~SingleInstance() = default;

bool SingleInstance::acquire(const QString& programFolder) {
    auto lock = std::make_unique<QLockFile>(programFolder + QStringLiteral("/norvik3.lock"));
    // The lock lives as long as the program; only a lock whose owner has died
    // counts as stale, never one that is merely old.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0))
        return false;
    m_lock = std::move(lock);
    return true;
}
