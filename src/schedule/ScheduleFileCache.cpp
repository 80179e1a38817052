#include "schedule/ScheduleFileCache.h"

#include "schedule/ScheduleFiles.h"

#include <QFile>

#include <sys/stat.h>

ScheduleFileCache::Stamp ScheduleFileCache::stampOf(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    return {static_cast<unsigned long long>(info.st_dev),
            static_cast<unsigned long long>(info.st_ino), static_cast<long long>(info.st_size),
            static_cast<long long>(info.st_mtim.tv_sec),
            static_cast<long long>(info.st_mtim.tv_nsec)};
}

const ProfileData& ScheduleFileCache::file(const QString& base) {
    auto [it, added] = m_files.try_emplace(base);
    Cached& cached = it->second;
    if (!added && cached.round == m_round)
        return cached.data;
    cached.round = m_round;
    const QString path = ScheduleFilePath(m_state, base);
    const Stamp stamp = stampOf(path);
    if (!added && stamp == cached.stamp)
        return cached.data;
    // Stamped before reading: a change during the read shows at the next round.
    cached.stamp = stamp;
    m_changed = m_changed || !added;
    cached.data = ProfileData();
    if (stamp.size >= 0) {
        cached.data = ProfileFile(path).read();
        ++m_parses;
    }
    return cached.data;
}
