#pragma once

#include <QString>

// Holds the per-folder lock that keeps a second start with the same program
// folder from running beside the first: an exclusive flock(2) on
// norvik3.lock in the folder, held through the open file for the program's
// life. The kernel ends it with the process however it ends, so a lock file
// left by a crash never blocks a start, whatever process has its pid now.
class SingleInstance {
  public:
    enum class Outcome {
        Acquired,
        Held,   // another running program holds it
        Failed, // the lock file cannot be made (folder not writable, ...)
    };

    SingleInstance() = default;
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True when this program now holds the folder's lock; outcome() then
    // tells why not.
    bool acquire(const QString& programFolder);
    Outcome outcome() const { return m_outcome; }
    // After Held: the application name the holder wrote into the lock,
    // empty when it cannot be read. After Failed: why.
    QString detail() const { return m_detail; }

  private:
    Outcome lock(const QString& programFolder);
    void release();

    int m_fd = -1;
    Outcome m_outcome = Outcome::Failed;
    QString m_detail;
};
