#pragma once

#include "discovery/ProbeConnection.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <deque>

// Probes a list of targets with TCP connects that are paced: at most
// `inFlight` open at once and `perSecond` started a second, each step with
// its own time-out. All of it on the event loop through Qt's sockets; one
// tick of the pacing timer starts at most a few connects.
class RangeProbe : public QObject {
    Q_OBJECT
  public:
    struct Limits {
        int inFlight = 32;
        int perSecond = 200;
        std::chrono::milliseconds timeout{500};
    };
    explicit RangeProbe(const Limits& limits, QObject* parent = nullptr);
    ~RangeProbe() override;

    // Applies to the connects started from now on.
    void setLimits(const Limits& limits) { m_limits = limits; }
    // Queues a target; probing starts or goes on at the next tick.
    void add(const ProbeTarget& target);
    // Drops the queue and closes every open connection; no signal follows.
    void cancel();
    bool isIdle() const { return m_queue.empty() && m_active == 0; }
    int started() const { return m_started; }
    int mostInFlight() const { return m_mostInFlight; }

  signals:
    void probed(const ProbeTarget& target, const std::optional<DiscoveryFind>& find);
    // The queue is empty and no connection is open.
    void idle();

  private:
    void tick();

    static constexpr std::chrono::milliseconds TickInterval{10};
    Limits m_limits;
    std::deque<ProbeTarget> m_queue;
    QTimer m_pace;
    QElapsedTimer m_clock;
    double m_tokens = 0;
    qint64 m_lastTick = 0;
    int m_active = 0;
    int m_started = 0;
    int m_mostInFlight = 0;
};
