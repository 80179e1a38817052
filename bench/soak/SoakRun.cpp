#include "SoakRun.h"

#include "ProcessStats.h"
#include "ReplyCounter.h"
#include "SimControl.h"
#include "StallingMailServer.h"

#include "comm/CommEngine.h"
#include "comm/CommandQueue.h"
#include "core/AppState.h"
#include "mail/AlertQueue.h"
#include "mail/AlertSender.h"

#include <algorithm>
#include <cstdio>
#include <limits>

using namespace std::chrono_literals;

namespace {

// Error code 3 (lamp error) is one that raises an alert.
constexpr int AlertingErrorCode = 3;
constexpr auto ErrorToggleInterval = 5s;
constexpr auto StallTimerInterval = 5ms;

void printLine(const QString& text) {
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

} // namespace

SoakRun::SoakRun(const SoakOptions& options, const FleetPlan& plan, AppState& state,
                 CommEngine& engine, const ReplyCounter& counter, SimControl& control,
                 std::optional<SoakMail> mail, QObject* parent)
    : QObject(parent), m_options(options), m_plan(plan), m_state(state), m_engine(engine),
      m_counter(counter), m_control(control), m_mail(mail),
      m_alerting(mail ? plan.alerting() : std::vector<int>{}), m_meter(StallTimerInterval) {
    connect(&m_meter, &LoopStallMeter::ticked, this, &SoakRun::watchPasses);
    // Coarse timers may fire 5 % early, which would shift a one-minute line
    // by seconds.
    for (QTimer* timer : {&m_reportTimer, &m_halfTimer, &m_endTimer})
        timer->setTimerType(Qt::PreciseTimer);
    m_reportTimer.setInterval(options.reportEvery);
    connect(&m_reportTimer, &QTimer::timeout, this, &SoakRun::report);
    m_rawTimer.setInterval(1s);
    connect(&m_rawTimer, &QTimer::timeout, this, &SoakRun::rearmRawReplies);
    m_errorTimer.setInterval(ErrorToggleInterval);
    connect(&m_errorTimer, &QTimer::timeout, this, &SoakRun::toggleErrors);
    m_halfTimer.setSingleShot(true);
    m_halfTimer.setInterval(options.duration / 2);
    connect(&m_halfTimer, &QTimer::timeout, this, [this] {
        m_rssAtHalf = residentKiB();
        m_halfSeconds = m_meter.secondsSinceStart();
    });
    m_endTimer.setSingleShot(true);
    m_endTimer.setInterval(options.duration);
    connect(&m_endTimer, &QTimer::timeout, this, &SoakRun::beginDrain);
    m_drainTimer.setInterval(50ms);
    connect(&m_drainTimer, &QTimer::timeout, this, &SoakRun::checkDrained);
}

void SoakRun::start() {
    m_startRssKiB = residentKiB();
    m_lastCpu = cpuSeconds();
    m_alertWriteIndex = m_state.Alerts.writeIndex;
    m_meter.start();
    // As the program starts: the MAC address pass, then polling from a
    // forced first pass.
    m_engine.startMacAddressPass();
    m_state.LastStatusCheck = QDateTime();
    m_engine.startPolling(10);
    m_reportTimer.start();
    m_rawTimer.start();
    if (!m_alerting.empty())
        m_errorTimer.start();
    m_halfTimer.start();
    m_endTimer.start();
}

// The engine stores an alert at the ring's write index and moves the index on;
// an index that did not move means the ring was full and the alert dropped.
void SoakRun::noteAlert() {
    ++m_alertsRaised;
    const AlertQueue& ring = m_state.Alerts;
    if (ring.writeIndex == m_alertWriteIndex) {
        ++m_alertsDropped;
        return;
    }
    const QString message = ring.texts[std::size_t(m_alertWriteIndex)].section(QLatin1Char(';'), 2);
    ++m_alertMessages[message];
    m_alertWriteIndex = ring.writeIndex;
}

// A pass is seen when the poller moves LastStatusCheck on.
void SoakRun::watchPasses() {
    if (m_state.LastStatusCheck.isNull() || m_state.LastStatusCheck == m_lastCheck)
        return;
    m_lastCheck = m_state.LastStatusCheck;
    ++m_passes;
    // The sixth pass starting is the fifth one's end.
    if (m_passes == 6) {
        m_rssAfterPassFive = residentKiB();
        m_passFiveSeconds = m_meter.secondsSinceStart();
    }
}

void SoakRun::report() {
    // Named by minute in the usual one-minute rhythm, by number otherwise.
    const QString label =
        m_options.reportEvery == 60s ? QStringLiteral("minute=%1") : QStringLiteral("sample=%1");
    printLine(sampleLine(takeSample(label.arg(++m_reports))));
    // The simulator records every frame it receives; forgetting them each
    // period keeps it from growing through a long run.
    m_control.send(QStringLiteral("clear all"));
}

void SoakRun::rearmRawReplies() {
    for (int p = 1; p <= m_plan.size(); ++p) {
        if (m_plan.classOf(p) == ProjectorClass::Raw)
            m_control.send(m_plan.rawCommand(p));
    }
}

void SoakRun::toggleErrors() {
    m_errorOn = !m_errorOn;
    for (const int p : m_alerting) {
        m_control.send(QStringLiteral("error %1 %2")
                           .arg(m_plan.simId(p))
                           .arg(m_errorOn ? AlertingErrorCode : 0));
    }
}

void SoakRun::beginDrain() {
    m_engine.stopPolling();
    m_reportTimer.stop();
    m_rawTimer.stop();
    m_errorTimer.stop();
    // Commands of the last pass still on their way get three reply time-outs.
    m_drainDeadline =
        m_meter.secondsSinceStart() + 3.0 * double(m_options.replyTimeout.count()) / 1000.0 + 1.0;
    m_drainTimer.start();
}

void SoakRun::checkDrained() {
    if (healthyQueuesEmpty() || m_meter.secondsSinceStart() >= m_drainDeadline)
        finish();
}

bool SoakRun::healthyQueuesEmpty() const {
    for (int p = 1; p <= m_plan.size(); ++p) {
        if (m_plan.classOf(p) == ProjectorClass::Healthy && !IsQueueEmpty(m_state, p))
            return false;
    }
    return true;
}

void SoakRun::finish() {
    m_drainTimer.stop();
    const SoakSample last = takeSample(QStringLiteral("final"));
    m_meter.stop();
    printLine(sampleLine(last));
    SoakSummary summary;
    summary.last = last;
    summary.startRssKiB = m_startRssKiB;
    summary.rssAfterPassFive = m_rssAfterPassFive;
    summary.passFiveSeconds = m_passFiveSeconds;
    summary.rssAtHalf = m_rssAtHalf;
    summary.halfSeconds = m_halfSeconds;
    summary.limits = m_options.limits;
    summary.settings =
        QStringLiteral("%1 projectors, polling every %2 s, reply time-out %3 ms, mail stall %4")
            .arg(m_plan.size())
            .arg(m_options.interval.count())
            .arg(m_options.replyTimeout.count())
            .arg(m_options.mailStall ? QStringLiteral("on") : QStringLiteral("off"));
    printLine(summaryText(summary));
    m_engine.shutdown();
    emit finished();
}

SoakSample SoakRun::takeSample(const QString& label) {
    SoakSample s;
    s.label = label;
    s.seconds = m_meter.secondsSinceStart();
    s.passes = m_passes;
    s.rssKiB = residentKiB();
    s.cpuSeconds = cpuSeconds();
    const double wall = s.seconds - m_lastSeconds;
    s.cpuShare = wall > 0 ? (s.cpuSeconds - m_lastCpu) / wall : 0.0;
    m_lastSeconds = s.seconds;
    m_lastCpu = s.cpuSeconds;
    s.window = m_meter.takeWindow();
    s.overall = m_meter.overall();

    s.healthyMin = std::numeric_limits<long long>::max();
    s.healthyMax = 0;
    for (int p = 1; p <= m_plan.size(); ++p) {
        const ProjectorClass kind = m_plan.classOf(p);
        ClassTally& tally = s.classes[std::size_t(kind)];
        ++tally.projectors;
        tally.replies += m_counter.replies(p);
        tally.failures += m_counter.failures(p);
        if (kind == ProjectorClass::Healthy) {
            s.healthyMin = std::min(s.healthyMin, m_counter.replies(p));
            s.healthyMax = std::max(s.healthyMax, m_counter.replies(p));
        }
        s.longestQueue = std::max(s.longestQueue, QueueLength(m_state, p));
    }
    if (s.classes[std::size_t(ProjectorClass::Healthy)].projectors == 0)
        s.healthyMin = 0;
    s.controlFailures = m_control.failed();

    if (m_mail) {
        MailFigures mail;
        mail.alertsRaised = m_alertsRaised;
        mail.alertsDropped = m_alertsDropped;
        mail.byMessage = m_alertMessages;
        mail.alertQueue = AlertQueueLength(m_state);
        mail.serverAccepted = m_mail->server.accepted();
        mail.serverOpen = m_mail->server.open();
        mail.retryCount = m_mail->sender.mailRetryCount();
        mail.sending = m_mail->sender.mailSending();
        s.mail = mail;
    }
    return s;
}
