#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <chrono>
#include <memory>

class QThread;

// Writes and removes the alert spool's files on a thread of its own, so that
// a slow, hung or full disk never holds up the event loop. The event loop
// hands it copies: a file's id, path and content to write, or an id and path
// to remove. The thread takes everything queued at once and, for that batch,
// writes each new file beside its final name, syncs its data and renames it
// into place (so a file is either whole or not there), removes the files
// asked to go, then syncs the folder once. Files are written in id order.
//
// A file that cannot be written (a full disk, a folder gone read-only) stays
// queued as unsaved and is written again with the next batch, or after
// `retryInterval` when no batch comes; a batch whose write fails leaves the
// other unsaved files for the next try, so a full disk costs one failed
// write per try, not one per file.
//
// The queue is bounded: at most `capacity` files wait to be written, the
// unsaved ones included. A removal of a file still waiting cancels its
// write, so with one write per alert the spool holds, the spool's own limits
// keep the queue within that. Removals are never refused (a file left behind
// would be mailed again); there is at most one per file written, so the
// same limits hold them.
//
// Each file not written is reported once through writeFailed() on the event
// loop; writesResumed() follows once a file is written again and none is
// left unsaved. The thread touches nothing but the copies it was given.
class SpoolWriter : public QObject {
    Q_OBJECT

  public:
    static constexpr std::chrono::milliseconds DefaultRetryInterval{2000};

    explicit SpoolWriter(QString folder, int capacity,
                         std::chrono::milliseconds retryInterval = DefaultRetryInterval,
                         QObject* parent = nullptr);
    // Writes and removes everything queued, tries the unsaved files once
    // more, then ends the thread. Failures of that last batch are not
    // reported: flush() first to hear of them.
    ~SpoolWriter() override;

    SpoolWriter(const SpoolWriter&) = delete;
    SpoolWriter& operator=(const SpoolWriter&) = delete;

    // Queues the file; false, and nothing queued, when `capacity` files
    // already wait. The folder is made when missing.
    bool write(quint64 id, QString path, QByteArray content);
    // Removes the file, or cancels its write when it has not begun.
    void remove(quint64 id, QString path);
    // For the end of the program: blocks until everything queued is done and
    // the unsaved files were tried once more, then reports what is not yet
    // reported, before returning.
    void flush();
    // While held, queued work waits (flush() and the end still do it): lets
    // a test see the queue in memory before the disk.
    void setHeld(bool held);
    // Files waiting to be written, the unsaved ones included.
    int waiting() const;
    // Files whose write failed and that wait to be written again.
    int unsaved() const;

  signals:
    // Why a file was not written (its path is in the text).
    void writeFailed(const QString& error);
    // After writeFailed(): a file was written again, and none is unsaved.
    void writesResumed();

  private:
    struct Shared;
    static void run(Shared& shared);
    void deliverReports();

    std::unique_ptr<Shared> m_shared;
    std::unique_ptr<QThread> m_thread;
    bool m_failingReported = false;
};
