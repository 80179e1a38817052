#pragma once

// What the benchmarks share: the program core on a temporary folder with a
// fleet of simulated projectors, polling passes run to their end, and a
// meter of the event loop's stalls.

#include "support/SimProcess.h"

#include "core/ProgramCore.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <memory>
#include <optional>

class CommEngine;
struct AppState;

// Runs the event loop for `time`.
void Pause(std::chrono::milliseconds time);

// One polling pass, run until it ends or `limit` passes; its wall time, or
// nothing when it did not end.
std::optional<std::chrono::milliseconds> RunPass(CommEngine& engine, AppState& state,
                                                 std::chrono::milliseconds limit);

// The largest gap between two firings of a 1 ms timer: the longest the
// event loop could not serve it.
class StallMeter {
  public:
    StallMeter();
    void start();
    double longestMs() const { return double(m_longestNs) / 1e6; }

  private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_lastNs = 0;
    qint64 m_longestNs = 0;
};

// The whole program core on a temporary NORVIK3_HOME with `count` simulated
// projectors of the own protocol on 127.0.0.1, in groups of `perGroup`
// ("G1", "G2", ...), communication started.
class BenchFleet {
  public:
    BenchFleet(int count, int perGroup, EventSource source = EventSource::Service);
    ~BenchFleet();
    BenchFleet(const BenchFleet&) = delete;
    BenchFleet& operator=(const BenchFleet&) = delete;

    // Empty when the fleet runs; otherwise what kept it from starting.
    QString problem() const { return m_problem; }
    ProgramCore& core() { return *m_core; }
    AppState& state() { return m_core->state(); }
    SimProcess& sim() { return *m_sim; }
    QString home() const { return m_home.path(); }

  private:
    QTemporaryDir m_home;
    std::unique_ptr<SimProcess> m_sim;
    std::unique_ptr<ProgramCore> m_core;
    QString m_problem;
};
