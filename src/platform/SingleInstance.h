#pragma once

#include <QString>

#include <memory>

class QLockFile;

// Holds the per-folder lock that keeps a second start with the same program
// folder from running beside the first.
class SingleInstance {
  public:
    enum class Outcome {
        Acquired,
        Held,   // another running program holds it
        Failed, // the lock file cannot be made (folder not writable, ...)
    };

    SingleInstance();
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

    std::unique_ptr<QLockFile> m_lock;
    Outcome m_outcome = Outcome::Failed;
    QString m_detail;
};
