#pragma once

#include "history/EventStore.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QPointer>
#include <QThread>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

// Reads pages of the history for the endpoint on a thread of its own with
// its own connection, so that no search holds up the event loop. The file
// is opened when first asked for and again once it was replaced (the
// program moves a damaged one aside and starts anew), so that answers
// never come from a file the program no longer writes. Each page is read
// within a time budget: past it, the page holds what was found and a
// cursor to go on from.
class EventReader : public QObject {
    Q_OBJECT
  public:
    // Requests waiting for the thread; past it a request is refused.
    static constexpr int MaxWaiting = 16;

    EventReader(QString filePath, std::chrono::milliseconds budget, QObject* parent = nullptr);
    ~EventReader() override;

    // Reads the page on the thread and calls done(page) on this object's
    // thread while context lives; a page that could not be read has the
    // reason in its problem. False, and done is never called, when
    // MaxWaiting requests are waiting already.
    bool readPage(const EventFilter& filter, const std::optional<EventCursor>& after, int limit,
                  QObject* context, std::function<void(EventPage)> done);

  private:
    class Worker;
    const std::chrono::milliseconds m_budget;
    std::shared_ptr<std::atomic<int>> m_waiting;
    QThread m_thread;
    QPointer<Worker> m_worker;
};
