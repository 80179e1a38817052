#pragma once

#include "core/AppState.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <array>
#include <chrono>

class ProjectorProtocols;
class EngineReports;

// StatusCheckTimer: ticks once a second after the first and keeps every
// projector on a pace of its own. A round is the status queries of one
// projector, queued together.
//
// Every StatusCheckInterval seconds a pass starts a round for each projector
// that is not still busy with its last one (a null LastStatusCheck forces a
// pass). Between passes, a projector whose own interval has passed since its
// last round started, and whose round has ended, starts its next one: a slow
// projector is polled as often as it can be and never delays another. A
// query of a round that goes unanswered (no connection, no reply) ends the
// round, and its remaining queries are skipped unsent. A projector whose
// last round went unanswered and that is shown as disconnected is probed
// only every ProbeIntervals intervals (at most ProbeCeiling apart, never
// more often than the interval) until it answers; a forced pass probes it at
// once.
//
// A pass is done when every round it started has ended. Polling is behind
// (state.Polling, the health report) when the program itself starts a pass
// an interval or more (LateFloor at least) after it was due: the event loop
// could not keep up. It is caught up at the next pass that starts on time.
class StatusPoller : public QObject {
    Q_OBJECT
  public:
    static constexpr int ProbeIntervals = 6;
    static constexpr std::chrono::seconds ProbeCeiling{300};
    static constexpr std::chrono::seconds LateFloor{2};

    // Each projector's round is the status queries of its protocol.
    StatusPoller(AppState& state, const ProjectorProtocols& protocols, QObject* parent = nullptr);

    void start(std::chrono::milliseconds firstTick);
    void stop();
    bool isActive() const { return m_timer.isActive(); }
    void tick();
    void setReports(EngineReports* sink) { m_sink = sink; }

    // The dispatcher is about to hand over the command at the head of the
    // projector's queue; timedOut when it went unanswered.
    void handingOver(int projector, bool timedOut);
    // Everything queued for the projector was dropped.
    void queueDropped(int projector);
    // The projector's settings changed: its pace starts afresh.
    void projectorEdited(int projector);
    bool isPassUnderWay() const { return m_outstanding > 0; }

  private:
    struct Round {
        QDateTime started; // null: never polled
        qint16 firstSlot = 0;
        qint16 lastSlot = 0;
        bool running = false;
        bool inPass = false;     // started by the open pass
        bool answered = false;   // some query of the running round was answered
        bool unanswered = false; // the last round ended without any answer
    };

    bool isPolled(int projector) const;
    bool isDue(int projector, const QDateTime& now) const;
    void checkLateness(const QDateTime& now);
    void startPass(const QDateTime& now);
    void startDueRounds(const QDateTime& now);
    // Queues the projector's queries; whether any was queued.
    bool queueRound(int projector);
    void roundDone(int projector, bool unanswered);
    void passDone();

    AppState& m_state;
    const ProjectorProtocols& m_protocols;
    QTimer m_timer;
    EngineReports* m_sink = nullptr;
    std::array<Round, MaxProjectors + 1> m_rounds{};
    // Steady time of the last pass's start, for its lateness; invalid when
    // the next pass is forced.
    QElapsedTimer m_sinceLastPass;
    int m_outstanding = 0;
};
