#pragma once

#include "history/EventStore.h"

#include <QObject>
#include <QSaveFile>
#include <QTimeZone>
#include <QTimer>

#include <optional>

// Writes what a filter selects to a CSV file, a few pages per turn of the
// event loop so that the window keeps answering during a long export. Only
// the page being written is held; the file replaces the old one only once
// it is complete.
class HistoryExport : public QObject {
    Q_OBJECT
  public:
    static constexpr int PagesPerTurn = 5;

    HistoryExport(const EventStore& store, EventFilter filter, const QString& path,
                  QObject* parent = nullptr);

    // Opens the file and goes on from the event loop; false (and
    // finished() not emitted) when the file cannot be opened.
    bool start();
    void cancel();
    qint64 rowsWritten() const { return m_rows; }
    const QString& errorText() const { return m_error; }

  signals:
    void progress(qint64 rows);
    // ok false: nothing was written over the chosen file; text says why.
    void finished(bool ok, const QString& text);

  private:
    void writePages();
    void fail(const QString& why);

    const EventStore& m_store;
    const EventFilter m_filter;
    const QTimeZone m_zone;
    QSaveFile m_file;
    QTimer m_turn;
    std::optional<EventCursor> m_next;
    qint64 m_rows = 0;
    QString m_error;
};
