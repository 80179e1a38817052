#pragma once

#include "FleetPlan.h"
#include "LoopStallMeter.h"
#include "SoakReport.h"

#include <QDateTime>
#include <QMap>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <optional>
#include <vector>

struct AppState;
class AlertSender;
class CommEngine;
class ReplyCounter;
class SimControl;
class StallingMailServer;

struct SoakOptions {
    int projectors = 256;
    std::chrono::seconds interval{1};
    std::chrono::milliseconds duration{std::chrono::minutes(20)};
    std::chrono::milliseconds replyTimeout{1000};
    std::chrono::seconds reportEvery{60};
    bool mailStall = false;
    bool commLog = false;
    FaultTiming faults;
    SoakVerdictLimits limits;
};

// The mail side of a --mail-stall run, all owned by the caller.
struct SoakMail {
    AlertSender& sender;
    StallingMailServer& server;
};

// Drives one soak: starts the engine's polling, keeps the simulated faults
// going, prints a sample line every report period and, after the run time,
// lets the healthy queues drain, prints the summary and shuts the engine down.
class SoakRun : public QObject {
    Q_OBJECT
  public:
    SoakRun(const SoakOptions& options, const FleetPlan& plan, AppState& state, CommEngine& engine,
            const ReplyCounter& counter, SimControl& control, std::optional<SoakMail> mail,
            QObject* parent = nullptr);

    void start();
    // Called for every alert the engine raises (from its alert starter).
    void noteAlert();

  signals:
    void finished();

  private:
    void watchPasses();
    void report();
    void rearmRawReplies();
    void toggleErrors();
    void beginDrain();
    void checkDrained();
    void finish();
    bool healthyQueuesEmpty() const;
    SoakSample takeSample(const QString& label);

    const SoakOptions m_options;
    const FleetPlan& m_plan;
    AppState& m_state;
    CommEngine& m_engine;
    const ReplyCounter& m_counter;
    SimControl& m_control;
    std::optional<SoakMail> m_mail;
    const std::vector<int> m_alerting;

    LoopStallMeter m_meter;
    QTimer m_reportTimer;
    QTimer m_rawTimer;
    QTimer m_errorTimer;
    QTimer m_halfTimer;
    QTimer m_endTimer;
    QTimer m_drainTimer;

    QDateTime m_lastCheck;
    int m_passes = 0;
    int m_reports = 0;
    int m_alertsRaised = 0;
    int m_alertsDropped = 0;
    qint16 m_alertWriteIndex = 0;
    QMap<QString, int> m_alertMessages;
    bool m_errorOn = false;
    long m_startRssKiB = 0;
    std::optional<long> m_rssAfterPassFive;
    double m_passFiveSeconds = 0;
    std::optional<long> m_rssAtHalf;
    double m_halfSeconds = 0;
    double m_lastCpu = 0;
    double m_lastSeconds = 0;
    double m_drainDeadline = 0;
};
