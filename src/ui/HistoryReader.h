#pragma once

#include "history/EventStore.h"

#include <QObject>
#include <QPointer>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

// Reads pages of the history on its own thread with its own connection, so
// that the window never waits on the disk. Each request carries a
// generation; a newer one supersedes it: its answer is never delivered, and
// a long scan stops after the piece under way.
class HistoryReader : public QObject {
    Q_OBJECT
  public:
    // A scan covers at most this much time per query, so that a filter
    // matching little never reads the whole file before the generation is
    // checked again.
    static constexpr qint64 PieceMs = 6LL * 3600 * 1000;

    explicit HistoryReader(QString filePath, QObject* parent = nullptr);
    ~HistoryReader() override;

    // A generation newer than every one handed out so far; it supersedes
    // them all.
    quint64 nextGeneration() { return ++*m_latest; }
    // Reads the page on the thread and calls done(page) on context's thread,
    // unless a newer generation was handed out meanwhile.
    void readPage(quint64 generation, const EventFilter& filter,
                  const std::optional<EventCursor>& after, int limit, QObject* context,
                  std::function<void(EventPage)> done);

  private:
    class Worker;
    std::shared_ptr<std::atomic<quint64>> m_latest;
    QThread m_thread;
    QPointer<Worker> m_worker;
};

// The page as EventStore::page gives it, read in pieces of at most PieceMs
// each; none when superseded() says so between two pieces.
std::optional<EventPage> ReadPageInPieces(const EventStore& store, const EventFilter& filter,
                                          const std::optional<EventCursor>& after, int limit,
                                          const std::function<bool()>& superseded);
