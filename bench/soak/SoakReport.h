#pragma once

#include "FleetPlan.h"
#include "LoopStallMeter.h"

#include <QMap>
#include <QString>

#include <array>
#include <optional>

// One look at the running soak: the per-minute line and the final summary are
// printed from these.
struct ClassTally {
    int projectors = 0;
    long long replies = 0;  // values handed over (statusChanged)
    long long failures = 0; // refused or timed-out power/input queries
};

struct MailFigures {
    int alertsRaised = 0;
    int alertsDropped = 0;        // the alert ring was full
    QMap<QString, int> byMessage; // stored alerts per message text
    int alertQueue = 0;
    int serverAccepted = 0; // connections the stalling server took
    int serverOpen = 0;
    int retryCount = 0;
    bool sending = false;
};

struct SoakSample {
    QString label; // "minute=3", "sample=3" or "final"
    double seconds = 0;
    int passes = 0;
    long rssKiB = 0;
    double cpuSeconds = 0;
    double cpuShare = 0; // of one core since the previous sample
    LoopStallMeter::Stall window;
    LoopStallMeter::Stall overall;
    std::array<ClassTally, ProjectorClassCount> classes{};
    long long healthyMin = 0; // replies per healthy projector
    long long healthyMax = 0;
    int longestQueue = 0; // commands waiting at the fullest projector queue
    int controlFailures = 0;
    std::optional<MailFigures> mail;

    long long expectedPerHealthy() const { return 5LL * passes; }
};

struct SoakVerdictLimits {
    double maxStallMs = 100;
    long maxGrowthKiB = 1024;
};

struct SoakSummary {
    SoakSample last;
    long startRssKiB = 0;
    std::optional<long> rssAfterPassFive;
    double passFiveSeconds = 0;
    std::optional<long> rssAtHalf; // half-way through the run time
    double halfSeconds = 0;
    QString settings; // polling interval, time-out, ...
    SoakVerdictLimits limits;
};

// "minute=1 t=60.0 passes=59 rss_kib=... healthy=...": key=value words.
QString sampleLine(const SoakSample& sample);
// The closing summary, several lines ending with one "result ..." line.
QString summaryText(const SoakSummary& summary);
