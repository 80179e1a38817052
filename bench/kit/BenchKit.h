#pragma once

// What the benchmarks share: the program core on a temporary folder with a
// fleet of simulated projectors, polling passes run to their end, a meter
// of the event loop's stalls, whole-number options, and the benchmark run
// again as its own client process.

#include "support/SimProcess.h"

#include "program/ProgramCore.h"

#include <QCommandLineOption>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

class CommEngine;
class QCommandLineParser;
class QProcess;
struct AppState;

// Says "<bench>: <what>" on standard error; returns 1, the exit status.
int Failed(const char* bench, const QString& what);

// An option taking a whole number, its help ending in "(default N)".
QCommandLineOption NumberOption(const QStringList& names, const QString& what, int fallback);
// Its value, held within low..high.
int NumberValue(const QCommandLineParser& parser, const QCommandLineOption& option, int low,
                int high = std::numeric_limits<int>::max());

// A port on 127.0.0.1 that was free a moment ago.
quint16 FreeLocalPort();

// This benchmark again as a child process with `arguments`, its standard
// error passed through and its standard output kept for the caller.
void StartSelf(QProcess& child, const QStringList& arguments);

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
// ("G1", "G2", ...), communication started but no polling pass under way.
class BenchFleet {
  public:
    BenchFleet(int count, int perGroup, EventSource source = EventSource::Service);
    ~BenchFleet();
    BenchFleet(const BenchFleet&) = delete;
    BenchFleet& operator=(const BenchFleet&) = delete;

    // Every projector answers after `ms` from now on.
    void delayReplies(int ms);
    // Empty when the fleet runs; otherwise what kept it from starting.
    QString problem() const { return m_problem; }
    ProgramCore& core() { return *m_core; }
    AppState& state() { return m_core->state(); }
    SimProcess& sim() { return *m_sim; }
    QString home() const { return m_home.path(); }

  private:
    int m_count;
    QTemporaryDir m_home;
    std::unique_ptr<SimProcess> m_sim;
    std::unique_ptr<ProgramCore> m_core;
    QString m_problem;
};

// Polling passes run back to back: each one's wall time, all of them, and
// the longest event-loop stall meanwhile.
struct Pace {
    std::vector<qint64> passesMs;
    double seconds = 0;
    double longestStallMs = 0;
    bool ended = true; // false: a pass did not end within 120 s

    int passes() const { return int(passesMs.size()); }
    qint64 medianMs() const;
    qint64 longestMs() const;
};

// Passes while going(ms since the first began) holds after each, at least
// one; a pass that does not end stops them.
Pace PollWhile(BenchFleet& fleet, const std::function<bool(qint64 elapsedMs)>& going);
