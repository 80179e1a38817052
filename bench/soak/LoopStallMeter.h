#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <chrono>

// Measures how late the event loop serves a short timer: a single-shot
// precise timer is re-armed on every firing, and the time past its interval
// is the stall the loop had just then.
class LoopStallMeter : public QObject {
    Q_OBJECT
  public:
    struct Stall {
        double longestMs = 0; // largest lateness
        double atSeconds = 0; // when it began, seconds since start()
        int over50ms = 0;     // firings more than 50 ms late
        int over200ms = 0;
    };

    explicit LoopStallMeter(std::chrono::milliseconds interval, QObject* parent = nullptr);

    // Starts measuring; times are counted from here.
    void start();
    void stop() { m_timer.stop(); }
    double secondsSinceStart() const { return double(m_clock.nsecsElapsed()) / 1e9; }

    // The whole run so far.
    const Stall& overall() const { return m_overall; }
    // Since the previous call, then starts a new window.
    Stall takeWindow();

  signals:
    // After every firing: a cheap hook for other periodic observations.
    void ticked();

  private:
    void fire();

    std::chrono::milliseconds m_interval;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_armedAtNs = 0;
    Stall m_overall;
    Stall m_window;
};
