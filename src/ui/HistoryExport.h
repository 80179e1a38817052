#pragma once

#include "history/EventStore.h"

#include <QObject>
#include <QThread>

#include <atomic>
#include <memory>

// Writes what a filter selects to a CSV file on a thread of its own, with
// its own connection to the history, so that the window never waits on the
// disk. Only the page being written is held; the file replaces the old one
// only once it is complete, never after a cancel or a page that could not
// be read.
class HistoryExport : public QObject {
    Q_OBJECT
  public:
    // Pages written between two progress reports.
    static constexpr int PagesPerProgress = 5;

    HistoryExport(QString historyPath, EventFilter filter, QString path, QObject* parent = nullptr);
    // Stops the writing after the piece under way; the old file stays.
    ~HistoryExport() override;

    // Goes on in the background; finished() tells how it went.
    void start();
    // Once started, finished() follows: cancelled, unless the file was
    // complete already.
    void cancel();
    const QString& path() const { return m_path; }

  signals:
    void progress(qint64 rows);
    // ok false: nothing was written over the chosen file; text says why.
    void finished(bool ok, const QString& text);

  private:
    const QString m_historyPath;
    const EventFilter m_filter;
    const QString m_path;
    const std::shared_ptr<std::atomic<bool>> m_cancelled;
    std::unique_ptr<QThread> m_thread;
};
