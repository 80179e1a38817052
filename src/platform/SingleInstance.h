#pragma once

#include <QString>

#include <memory>

class QLockFile;

// Holds the per-folder lock that keeps a second start with the same program
// folder from running beside the first.
class SingleInstance {
public:
    SingleInstance();
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // False when another running instance holds the lock of this folder.
    bool acquire(const QString& programFolder);

private:
    std::unique_ptr<QLockFile> m_lock;
};
