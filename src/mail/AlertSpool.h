#pragma once

#include "platform/SafeFile.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class SpoolWriter;

// The alerts waiting to be mailed, kept on disk so that they outlive a crash
// or a power cut: one file per alert in the spool folder (MailQueue/ in the
// program folder), named by a number that grows with every alert, written
// atomically and removed once the alert is mailed or dropped. Files are
// written and removed by the spool's own thread (SpoolWriter), a moment after
// the queue has taken the alert in memory: the event loop never waits for
// the disk.
//
// The spool also keeps, in memory, the order of the queue beyond the alert
// ring: which ids the ring's alerts have, and the alerts that wait for room
// in the ring. Those are bounded by Limits (files and bytes); what comes
// beyond is dropped oldest first by the queue.
class AlertSpool {
  public:
    struct Limits {
        int files = 10000;
        qint64 bytes = 64 * 1024 * 1024;
    };

    // One queued alert: its text ("time;projector;message") and the tree key
    // of its projector when it has one. The key survives the renumbering
    // that a deletion makes, so a file need not change when indices move.
    struct Alert {
        quint64 id = 0;
        QString key;
        QString text;
    };

    // An empty folder keeps the queue in memory only.
    explicit AlertSpool(QString folder, Limits limits);
    explicit AlertSpool(QString folder) : AlertSpool(std::move(folder), Limits{}) {}
    // Every file queued is written before it is gone.
    ~AlertSpool();
    AlertSpool(const AlertSpool&) = delete;
    AlertSpool& operator=(const AlertSpool&) = delete;

    const QString& folder() const { return m_folder; }
    const Limits& limits() const { return m_limits; }

    // Reads every alert file of the folder, oldest first. Files that cannot
    // be read or parsed are renamed to "<name>.unreadable" and named in
    // `problems`; temporaries of interrupted writes are removed.
    std::vector<Alert> load(QStringList& problems);

    // Gives the alert the next id and queues its file for writing. When the
    // writer has no room the alert keeps its id (it stays queued in memory)
    // and the error says why; a write that fails later is reported to the
    // handler of onWriteFailed(), and the file is written again until it is
    // on disk or its alert has gone.
    FileOutcome store(Alert& alert);
    // Removes the alert's file (nothing when it has none).
    void remove(quint64 id);
    // Called on the event loop with the reason for every file not written
    // (once for each file, however often it is tried).
    void onWriteFailed(std::function<void(const QString&)> handler);
    // Called on the event loop once files are written again after a failure
    // and none is left unwritten.
    void onWritesResumed(std::function<void()> handler);
    // Called with the text of every waiting alert dropped unsent for want
    // of room (the history records them).
    void onDropped(std::function<void(const QString&)> handler) { m_dropped = std::move(handler); }
    void noteDropped(const QString& text) const {
        if (m_dropped)
            m_dropped(text);
    }
    // Blocks until every file queued is written or removed, and reports the
    // failures meanwhile: for the end of the program.
    void flush();
    // The thread that writes the files; none without a folder.
    SpoolWriter* writer() const { return m_writer.get(); }
    // The bytes an alert counts for against the byte limit.
    static qint64 sizeOf(const Alert& alert);

    // The queue's bookkeeping, kept by AlertQueue.cpp.
    std::deque<quint64> ringIds; // ids of the ring's alerts, oldest first
    std::deque<Alert> waiting;   // alerts beyond the ring, oldest first
    qint64 waitingBytes = 0;

  private:
    QString fileOf(quint64 id) const;

    QString m_folder;
    Limits m_limits;
    quint64 m_nextId = 1;
    std::unique_ptr<SpoolWriter> m_writer;
    std::function<void(const QString&)> m_dropped;
};
