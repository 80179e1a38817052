#include "core/ProgramCore.h"

#include "comm/CommEngine.h"
#include "mail/AlertSender.h"
#include "mail/MailWorker.h"
#include "platform/StopSignals.h"
#include "schedule/ScheduleRunner.h"
#include "status/StatusServer.h"

#include <QSettings>

#include <sys/resource.h>

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
    RaiseOpenFileLimit();
    if (!m_session->start(arguments))
        return false;
    m_engine = std::make_unique<CommEngine>(*m_state, m_session->store());
    m_runner = std::make_unique<ScheduleRunner>(*m_state);
    m_mailWorker = std::make_unique<MailWorker>();
    m_alerts = std::make_unique<AlertSender>(*m_state, *m_mailWorker);
    m_engine->setAlertStarter([this] { m_alerts->StartAlertSender(); });
    return true;
}

void ProgramCore::startCommunication() {
    m_alerts->openSpool();
    m_runner->BuildTodayPlan();
    m_engine->startDispatcher();
    m_engine->startMacAddressPass();
    m_state->LastStatusCheck = QDateTime();
    m_engine->startPolling(10);
    m_engine->InitializeQueues();
}

void ProgramCore::startStatusEndpoint(const QString& addressOverride, int portOverride) {
    StatusEndpointSettings settings = ReadStatusEndpointSettings(m_session->store().filePath());
    if (!addressOverride.isEmpty())
        settings.address = addressOverride;
    if (portOverride >= 0)
        settings.port = portOverride;
    if (settings.port <= 0)
        return;
    m_status = std::make_unique<StatusServer>(*m_state, settings);
    m_status->setScheduleRunning([this] { return m_runner && m_runner->isRunning(); });
    m_status->start();
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
    m_status.reset();
    if (m_runner)
        m_runner->ScheduleStop();
    m_engine->shutdown();
    m_alerts->shutdown(AlertSender::ShutdownGrace);
}

void RaiseOpenFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

QString ProgramVersion() {
    return QStringLiteral(NORVIK3_VERSION);
}
