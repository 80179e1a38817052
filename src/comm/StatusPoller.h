#pragma once

#include "core/AppState.h"

#include <QObject>
#include <QTimer>

#include <array>
#include <bitset>
#include <chrono>
#include <functional>

struct CommandTable;
class RefreshSink;

// StatusCheckTimer: every StatusCheckInterval seconds queues the five status
// queries for every configured projector. Ticks once a second after the
// first; a null LastStatusCheck forces a pass at the next tick.
//
// A pass is done when every query it queued was handed over (answered,
// refused or timed out) or dropped with its queue. The next pass starts only
// then, so a fleet that cannot keep up is never buried under passes; a pass
// that outlasts its interval marks polling as behind in state.Polling and in
// the health report until a pass is done within its interval again.
class StatusPoller : public QObject {
    Q_OBJECT
  public:
    StatusPoller(AppState& state, const CommandTable& commands, QObject* parent = nullptr);

    void start(std::chrono::milliseconds firstTick);
    void stop();
    bool isActive() const { return m_timer.isActive(); }
    void tick();
    void setRefreshSink(RefreshSink* sink) { m_sink = sink; }
    // Told when a pass starts, before its queries are queued.
    void setPassStarted(std::function<void()> started) { m_passStarted = std::move(started); }

    // The dispatcher is about to hand over the command at the head of the
    // projector's queue.
    void handingOver(int projector);
    // Everything queued for the projector was dropped.
    void queueDropped(int projector);
    bool isPassUnderWay() const { return m_outstanding > 0; }

  private:
    void markBehind();
    void startPass(const QDateTime& now);
    void queueOwnQueries(int projector);
    void queuePJLinkQueries(int projector);
    void projectorDone(int projector);
    void passDone();

    AppState& m_state;
    const CommandTable& m_commands;
    QTimer m_timer;
    RefreshSink* m_sink = nullptr;
    std::function<void()> m_passStarted;
    // Per projector: whether its last query of the pass is still queued, and
    // the queue slot that query sits in.
    std::bitset<MaxProjectors + 1> m_pending;
    std::array<qint16, MaxProjectors + 1> m_lastSlot{};
    int m_outstanding = 0;
};
