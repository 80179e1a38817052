#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

struct AppState;
class WakeGate;

// What the dispatcher drives: the projectors' protocols.
class DispatchTarget {
  public:
    virtual ~DispatchTarget() = default;
    virtual void Send(int projector) = 0;
    virtual void HandleAcknowledge(int projector) = 0;
    virtual void HandleFailure(int projector, bool timedOut) = 0;
    virtual void HandleDataReply(int projector) = 0;
    // The head entry was skipped unsent (QueueSkipped).
    virtual void HandleSkipped(int projector) = 0;
};

// Walks the configured projectors every 10 ms: starts the head command of a
// queue, or hands a recorded outcome to the interpreter and frees the entry.
// Each projector advances at most one step per pass. While every queue it
// serves is empty it sleeps; an enqueue wakes it for the next tick. A queue
// the wake gate holds is passed over, and the tick goes on, until its hold
// ends. Skipped entries are freed unsent, all at once.
class CommandDispatcher : public QObject {
    Q_OBJECT
  public:
    CommandDispatcher(AppState& state, DispatchTarget& target, WakeGate& gate,
                      QObject* parent = nullptr);
    ~CommandDispatcher() override;

    void start();
    void stop();
    bool isRunning() const { return m_running; }
    // True while the 10 ms tick is armed (false when stopped or asleep).
    bool isTicking() const { return m_timer.isActive(); }
    // One pass over all projectors (the timer's tick).
    void runPass();
    // Work was queued: tick again unless stopped.
    void wake();

  private:
    // Runs the handler for the outcome at the head of the queue, then frees
    // that entry.
    void handOver(int projector, const std::function<void()>& handler);

    AppState& m_state;
    DispatchTarget& m_target;
    WakeGate& m_gate;
    QTimer m_timer;
    bool m_running = false;
    bool m_inPass = false;
    bool m_wokenInPass = false;
};
