#pragma once

#include "history/EventStore.h"
#include "history/HistoryEvent.h"

#include <QObject>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

// Records the history off the event loop: record() only puts a copy of the
// event into a bounded batch; the writer's own thread, which alone holds
// the writing connection, commits the batch in one transaction at most
// once an interval, and keeps the file within its limits. What the writer
// meets (a full disk, a damaged file) comes back as signals on the thread
// that made the writer, once per episode.
class HistoryWriter : public QObject {
    Q_OBJECT
  public:
    struct Options {
        QString filePath;
        HistoryLimits limits;
        // Events waiting for the disk; past it the oldest are dropped.
        std::size_t maxPending = 100000;
        std::chrono::milliseconds interval = std::chrono::seconds(1);
    };

    explicit HistoryWriter(Options options, QObject* parent = nullptr);
    // Commits what is still pending, then ends the thread.
    ~HistoryWriter() override;

    // Never waits for the disk.
    void record(HistoryEvent event);
    void setLimits(const HistoryLimits& limits);

    std::size_t pendingCount() const;
    quint64 droppedCount() const { return m_dropped.load(); }
    quint64 committedCount() const { return m_committed.load(); }

  signals:
    // `total` events committed since the writer started.
    void committed(quint64 total);
    // Recording stopped, or the file had to be replaced: what the operator
    // reads. Once until recovered().
    void problem(const QString& text);
    void recovered(const QString& text);

  private:
    void run();
    void writeBatch(EventStore& store, std::deque<HistoryEvent> batch);
    void putBack(std::deque<HistoryEvent> batch);
    void reportProblem(const QString& text);
    void reportRecovered(const QString& text);

    const QString m_filePath;
    const std::size_t m_maxPending;
    const std::chrono::milliseconds m_interval;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<HistoryEvent> m_pending; // guarded by m_mutex
    // The batch being written, still pending until it is committed.
    std::size_t m_taken = 0; // guarded by m_mutex
    HistoryLimits m_limits;  // guarded by m_mutex
    bool m_stopping = false; // guarded by m_mutex

    std::atomic<quint64> m_dropped{0};
    std::atomic<quint64> m_committed{0};
    bool m_inTrouble = false; // the writer thread's own
    std::thread m_thread;
};
