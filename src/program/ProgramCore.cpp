#include "program/ProgramCore.h"

#include "comm/CommEngine.h"
#include "comm/CommandPlanner.h"
#include "core/Version.h"
#include "history/ForecastFeed.h"
#include "history/HistoryRecorder.h"
#include "history/HistoryWriter.h"
#include "mail/AlertMail.h"
#include "mail/AlertQueue.h"
#include "mail/AlertSender.h"
#include "mail/AlertSpool.h"
#include "mail/MailWorker.h"
#include "pjlink/PJLinkCodec.h"
#include "pjlink/PJLinkPasswords.h"
#include "platform/StopSignals.h"
#include "platform/WakeOnLan.h"
#include "schedule/ScheduleRunner.h"
#include "status/StatusServer.h"

#include <QSettings>

#include <algorithm>
#include <csignal>
#include <memory>
#include <sys/resource.h>
#include <utility>

namespace {

// The same device on the same connection: what it showed still holds.
bool SameConnection(const ProjectorInfo& a, const ProjectorInfo& b) {
    return a.Protocol == b.Protocol && a.ConnectionKind == b.ConnectionKind &&
           a.COMPort == b.COMPort && a.COMSettings == b.COMSettings && a.IPAddress == b.IPAddress &&
           a.PortNo == b.PortNo;
}

constexpr int PasswordWaitMs = 3000;

HistoryLimits ReadHistoryLimits(const QString& settingsFile) {
    const QSettings s(settingsFile, QSettings::IniFormat);
    return HistoryLimitsFrom(s.value(QStringLiteral("Setting/HistoryDays")).toString(),
                             s.value(QStringLiteral("Setting/HistoryMaxMiB")).toString());
}

// Settings the endpoint cannot take up without listening afresh.
bool SameListener(const StatusEndpointSettings& a, const StatusEndpointSettings& b) {
    return a.address == b.address && a.port == b.port && a.token == b.token;
}

} // namespace

ProgramCore::ProgramCore()
    : m_state(std::make_unique<AppState>()), m_session(std::make_unique<ProgramSession>(*m_state)) {
}

ProgramCore::~ProgramCore() {
    shutdown();
}

bool ProgramCore::start(const QStringList& arguments) {
    // Caught from the start: a stop that comes while the program is still
    // being built is carried out as soon as the event loop runs.
    m_stopSignals = std::make_unique<StopSignals>();
    connect(m_stopSignals.get(), &StopSignals::stopRequested, this, &ProgramCore::stopRequested);
    connect(m_stopSignals.get(), &StopSignals::hangUp, this, [this] {
        if (m_reloadOnHangUp && !m_shutDown)
            emit reloadRequested();
        else
            emit stopRequested(SIGHUP);
    });
    RaiseOpenFileLimit();
    if (!m_session->start(arguments))
        return false;
    m_passwords = std::make_unique<PJLinkPasswords>(*m_state);
    m_state->PJLinkPassword = [this](int projector) { return m_passwords->passwordOf(projector); };
    m_engine = std::make_unique<CommEngine>(*m_state, m_session->store());
    m_engine->setWakeOnLan(ReadWakeOnLanSettings(m_session->store().filePath()));
    m_runner = std::make_unique<ScheduleRunner>(*m_state);
    CommEngine* engine = m_engine.get();
    m_runner->setQueue(
        [engine](int p, const PlannedItem& item) { return engine->EnqueueCommand(p, item); });
    m_mailWorker = std::make_unique<MailWorker>();
    m_alerts = std::make_unique<AlertSender>(*m_state, *m_mailWorker);
    m_engine->setAlertStarter([this] { m_alerts->StartAlertSender(); });
    m_state->ProjectorDeleted = [this](int deleted) { RenumberAlertsAfterDelete(*m_state, deleted); };
    startHistory();
    return true;
}

void ProgramCore::startHistory() {
    const QString file = m_state->ProgramFolder + QStringLiteral("/History.sqlite");
    HistoryWriter::Options options;
    options.filePath = file;
    options.limits = ReadHistoryLimits(m_session->store().filePath());
    m_history = std::make_unique<HistoryWriter>(std::move(options));
    HistoryWriter* writer = m_history.get();
    m_recorder = std::make_unique<HistoryRecorder>(
        *m_state, [writer](HistoryEvent e) { writer->record(std::move(e)); }, m_program);
    m_forecasts = std::make_unique<ForecastFeed>(file);
    HistoryRecorder* recorder = m_recorder.get();

    m_engine->addObserver(recorder);
    m_runner->setActionObserver(
        [recorder](const ScheduleActionReport& report) { recorder->scheduleAction(report); });
    connect(m_runner.get(), &ScheduleRunner::runningChanged, recorder,
            &HistoryRecorder::scheduleRunning);
    connect(m_alerts.get(), &AlertSender::alertMailed, recorder, &HistoryRecorder::alertMailed);
    connect(m_alerts.get(), &AlertSender::alertMailFailed, recorder,
            &HistoryRecorder::alertMailFailed);
    connect(m_alerts.get(), &AlertSender::alertDropped, recorder, &HistoryRecorder::alertDropped);
    connect(recorder, &HistoryRecorder::hoursRecorded, this, [this] { m_forecastDue = true; });

    // The writer's signals come from its thread: queued to this one.
    connect(writer, &HistoryWriter::problem, this, [this](const QString& text) {
        m_state->Health.raise(HealthCondition::HistoryFailing, text);
    });
    connect(writer, &HistoryWriter::recovered, this, [this](const QString& text) {
        m_state->Health.clear(HealthCondition::HistoryFailing, text);
    });
    connect(writer, &HistoryWriter::committed, this, [this] {
        if (std::exchange(m_forecastDue, false))
            requestForecasts();
    });
    connect(m_forecasts.get(), &ForecastFeed::computed, this, &ProgramCore::applyForecasts);
    recorder->programStarted(QStringLiteral("Norvik3 ") + ProgramVersion());
}

void ProgramCore::requestForecasts() {
    if (m_forecasts)
        m_forecasts->request(ForecastRequestFor(*m_state));
}

void ProgramCore::applyForecasts(const std::vector<ProjectorForecast>& results) {
    if (m_recorder) {
        for (const ProjectorForecast& r : results)
            m_recorder->hoursKnown(r.projectorId, r.lastHoursMs);
    }
    if (ApplyForecasts(*m_state, results))
        emit forecastsChanged();
}

void ProgramCore::stopHistory() {
    if (!m_history)
        return;
    m_recorder->programStopping({});
    m_engine->removeObserver(m_recorder.get());
    m_runner->setActionObserver({});
    if (m_state->Spool)
        m_state->Spool->onDropped({});
    m_forecasts.reset();
    m_recorder.reset();
    // Commits what is still pending, the program's stop included.
    m_history.reset();
}

void ProgramCore::startCommunication() {
    m_alerts->openSpool();
    if (m_state->Spool && m_recorder) {
        m_state->Spool->onDropped([this](const QString& text) {
            const AlertText alert = ParseAlertText(text);
            if (m_recorder)
                m_recorder->alertDropped(alert.projector, alert.message,
                                         QStringLiteral("the alert queue is full"));
        });
    }
    m_runner->BuildTodayPlan();
    m_engine->startDispatcher();
    m_engine->startMacAddressPass();
    m_state->LastStatusCheck = QDateTime();
    if (m_passwords->settled()) {
        m_engine->startPolling(10);
    } else {
        // The first pass waits for the secret store's answers, for a few
        // seconds at most: a session sent before them would go without the
        // password the store holds, and be refused.
        m_engine->startPolling(PasswordWaitMs);
        auto once = std::make_shared<QMetaObject::Connection>();
        *once = connect(m_passwords.get(), &PJLinkPasswords::refreshed, this, [this, once] {
            if (!m_passwords->settled())
                return;
            disconnect(*once);
            if (!m_shutDown)
                m_engine->startPolling(10);
        });
    }
    m_engine->InitializeQueues();
    applyNotificationSetting();
}

void ProgramCore::applyNotificationSetting() {
    const QSettings s(m_session->store().filePath(), QSettings::IniFormat);
    const bool on = s.value(QStringLiteral("Setting/PJLinkNotifications")).toString().trimmed() ==
                    QLatin1String("1");
    QString error;
    HealthReport& health = m_state->Health;
    if (m_engine->setPJLinkNotifications(on, PJLinkPort, &error) || !on) {
        if (health.isActive(HealthCondition::NotificationsFailing))
            health.clear(HealthCondition::NotificationsFailing,
                         on ? QStringLiteral("PJLink notifications are received again")
                            : QStringLiteral("PJLink notifications are off"));
        return;
    }
    // The engine's reason names the port; without one ours does.
    health.raise(HealthCondition::NotificationsFailing,
                 !error.isEmpty()
                     ? error
                     : QStringLiteral("PJLink notifications cannot be received on UDP port %1")
                           .arg(PJLinkPort));
}

bool ProgramCore::storePJLinkPassword(int projector, const QString& password) {
    if (projector < 1 || projector > m_state->ProjectorCount)
        return false;
    const ProjectorInfo& info = m_state->Projectors[std::size_t(projector)];
    return m_passwords->store(info.IPAddress, info.PortNo, password);
}

namespace {

StatusEndpointSettings EndpointSettings(const QString& settingsFile, const QString& addressOverride,
                                        int portOverride) {
    StatusEndpointSettings settings = ReadStatusEndpointSettings(settingsFile);
    if (!addressOverride.isEmpty())
        settings.address = addressOverride;
    if (portOverride >= 0)
        settings.port = portOverride;
    return settings;
}

} // namespace

void ProgramCore::startStatusEndpoint(const QString& addressOverride, int portOverride) {
    m_endpointAddressOverride = addressOverride;
    m_endpointPortOverride = portOverride;
    m_endpointSettings = EndpointSettings(m_session->store().filePath(), m_endpointAddressOverride,
                                          m_endpointPortOverride);
    const StatusEndpointSettings& settings = m_endpointSettings;
    // The endpoint follows commands as one of the engine's observers: not
    // past its end.
    if (m_status)
        m_engine->removeObserver(m_status->controlObserver());
    m_status.reset();
    if (settings.port <= 0)
        return;
    m_status = std::make_unique<StatusServer>(*m_state, settings);
    m_status->setScheduleRunning([this] { return m_runner && m_runner->isRunning(); });
    HistoryRecorder* recorder = m_recorder.get();
    HistoryWriter* writer = m_history.get();
    m_status->setControl(
        {m_engine.get(), m_runner.get(),
         [writer](HistoryEvent e) {
             if (writer)
                 writer->record(std::move(e));
         },
         [recorder](int projector, const QString& caption, int ahead, const QString& client) {
             if (recorder)
                 recorder->follow(projector, caption, EventSource::Endpoint, ahead, client);
         }});
    m_engine->addObserver(m_status->controlObserver());
    m_status->start();
}

void ProgramCore::reload() {
    if (m_shutDown || !m_engine)
        return;
    const auto before = std::make_unique<decltype(AppState::Projectors)>(m_state->Projectors);
    const int countBefore = m_state->ProjectorCount;
    m_session->store().LoadConfiguration(*m_state);
    if (m_history)
        m_history->setLimits(ReadHistoryLimits(m_session->store().filePath()));
    ApplyLogLimits(*m_state, m_session->store().filePath());
    const int countAfter = m_state->ProjectorCount;
    bool renumbered = false;
    for (int n = 1; n <= std::max(countBefore, countAfter); ++n) {
        ProjectorInfo& now = m_state->Projectors[n];
        const ProjectorInfo& old = (*before)[n];
        if (n <= countBefore && n <= countAfter && SameConnection(old, now)) {
            // A new name or model keeps the status, the alerts pending for
            // its recovery mail and the MAC address learnt.
            ProjectorInfo kept = old;
            kept.ProjectorName = now.ProjectorName;
            kept.ModelName = now.ModelName;
            kept.WakeOnLan = now.WakeOnLan;
            now = std::move(kept);
            continue;
        }
        renumbered = true;
        m_engine->projectorEdited(n);
    }
    // A ping or MAC lookup under way must not land on a changed record.
    if (renumbered)
        ++m_state->ProjectorNumbering;
    m_session->store().LoadTree(*m_state);
    m_runner->BuildTodayPlan();
    m_passwords->reload();
    applyNotificationSetting();
    m_engine->setWakeOnLan(ReadWakeOnLanSettings(m_session->store().filePath()));

    const StatusEndpointSettings wanted = EndpointSettings(
        m_session->store().filePath(), m_endpointAddressOverride, m_endpointPortOverride);
    const bool serving = m_status && m_status->isListening();
    // A renewed certificate often keeps its path, so TLS reads it again; one
    // that cannot be used leaves the old one serving rather than none.
    const bool inPlace = serving && SameListener(wanted, m_endpointSettings) &&
                         wanted.usesTls() == m_status->usesTls();
    if (!inPlace) {
        startStatusEndpoint(m_endpointAddressOverride, m_endpointPortOverride);
    } else {
        m_endpointSettings = wanted;
        m_status->reloadTokens();
        if (wanted.usesTls())
            m_status->reloadCertificate(wanted.certificate, wanted.key);
    }
    m_alerts->retryNow();
    // New thresholds, or records that start afresh.
    requestForecasts();
}

bool ProgramCore::scheduleAutoStart() const {
    const QSettings s(m_session->store().filePath(), QSettings::IniFormat);
    return s.value(QStringLiteral("Setting/ScheduleAutoStart")).toString().trimmed() ==
           QLatin1String("1");
}

void ProgramCore::shutdown() {
    if (m_shutDown || !m_engine)
        return;
    m_shutDown = true;
    if (m_status)
        m_engine->removeObserver(m_status->controlObserver());
    m_status.reset();
    if (m_runner)
        m_runner->stopAtProgramEnd();
    m_engine->shutdown();
    m_alerts->shutdown(AlertSender::ShutdownGrace);
    stopHistory();
}

void RaiseOpenFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}
