#pragma once

#include "history/EventStore.h"
#include "history/PageInPieces.h"

#include <QObject>
#include <QPointer>
#include <QThread>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

// Reads pages and hours of the history on its own thread with its own
// connection, so that the window never waits on the disk. Each request
// carries a generation of its line; a newer one of the same line supersedes
// it: its answer is never delivered, and a long scan stops after the piece
// under way.
class HistoryReader : public QObject {
    Q_OBJECT
  public:
    // Requests that supersede each other: the table's pages, the chart's
    // hours.
    enum class Line { Pages, Hours };

    explicit HistoryReader(QString filePath, QObject* parent = nullptr);
    ~HistoryReader() override;

    // A generation newer than every one handed out so far on the line; it
    // supersedes them all.
    quint64 nextGeneration(Line line = Line::Pages) { return ++(*m_latest)[std::size_t(line)]; }
    // Reads the page on the thread and calls done(page) on context's thread,
    // unless a newer generation was handed out meanwhile.
    void readPage(quint64 generation, const EventFilter& filter,
                  const std::optional<EventCursor>& after, int limit, QObject* context,
                  std::function<void(EventPage)> done);
    // Reads the projector's daily hours since sinceMs (EventStore::hoursSince)
    // the same way, on the Hours line.
    void readHours(quint64 generation, const QString& projectorId, qint64 sinceMs, QObject* context,
                   std::function<void(std::vector<HoursRecord>)> done);

  private:
    class Worker;
    using Latest = std::array<std::atomic<quint64>, 2>;
    // Runs read(store, superseded) on the thread and hands its answer, if
    // any, to done on context's thread while the generation is the latest.
    template <typename Answer>
    void run(Line line, quint64 generation, QObject* context,
             std::function<std::optional<Answer>(const EventStore*, const QString& problem,
                                                 const std::function<bool()>& superseded)>
                 read,
             std::function<void(Answer)> done);

    std::shared_ptr<Latest> m_latest;
    QThread m_thread;
    QPointer<Worker> m_worker;
};
