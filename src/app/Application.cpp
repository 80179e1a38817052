#include "app/Application.h"

#include "comm/CommEngine.h"
#include "mail/AlertSender.h"
#include "mail/MailSettingsForm.h"
#include "mail/MailWorker.h"
#include "platform/StopSignals.h"
#include "schedule/SchedulePanel.h"
#include "schedule/ScheduleRunner.h"
#include "ui/MainForm.h"

#include <QCoreApplication>
#include <QLayout>

Application::Application() : m_session(m_state) {}

Application::~Application() {
    if (m_engine)
        m_engine->setRefreshSink(nullptr);
    m_mainForm.reset();
}

bool Application::start(const QStringList& arguments) {
    // Caught from the start: a stop that comes while the window is still
    // being built is carried out as soon as the event loop runs.
    m_stopSignals = std::make_unique<StopSignals>();
    QObject::connect(m_stopSignals.get(), &StopSignals::stopRequested, m_stopSignals.get(),
                     [this] { stopOnSignal(); });
    if (!m_session.start(arguments))
        return false;
    const SettingsStore& store = m_session.store();
    m_engine = std::make_unique<CommEngine>(m_state, store);
    m_runner = std::make_unique<ScheduleRunner>(m_state);
    m_mainForm = std::make_unique<MainForm>(m_state, store, *m_engine, m_messages);
    wireSchedule();
    wireMail();

    m_mainForm->InitProjectorTree();
    m_engine->setRefreshSink(m_mainForm.get());
    m_engine->startDispatcher();
    m_engine->startMacAddressPass();
    m_state.LastStatusCheck = QDateTime();
    m_engine->startPolling(10);
    m_engine->InitializeQueues();
    m_mainForm->show();
    return true;
}

void Application::stopOnSignal() {
    m_engine->shutdown();
    // Not quit(): that would close the window through its exit question.
    QCoreApplication::exit(0);
}

// The schedule runner and the Schedule tab's editor.
void Application::wireSchedule() {
    auto* panel = new SchedulePanel(m_state, *m_runner, m_messages, m_mainForm->scheduleHost());
    m_mainForm->scheduleHost()->layout()->addWidget(panel);
    MainForm* form = m_mainForm.get();
    ScheduleRunner* runner = m_runner.get();
    QObject::connect(form, &MainForm::scheduleNodeShown, panel, &SchedulePanel::showNode);
    QObject::connect(form, &MainForm::treeChanged, runner, &ScheduleRunner::BuildTodayPlan);
    QObject::connect(form, &MainForm::scheduleStartRequested, runner,
                     &ScheduleRunner::ScheduleStart);
    QObject::connect(form, &MainForm::scheduleStopRequested, runner, &ScheduleRunner::ScheduleStop);
    QObject::connect(runner, &ScheduleRunner::runningChanged, form, &MainForm::setScheduleRunning);
}

// The alert sender and the mail settings dialog (from the "&Option" menu)
// share the one mail thread. When the program ends, a mail under way gets a
// short grace and every alert not mailed is logged.
void Application::wireMail() {
    m_mailWorker = std::make_unique<MailWorker>();
    m_alerts = std::make_unique<AlertSender>(m_state, *m_mailWorker);
    m_engine->setAlertStarter([this] { m_alerts->StartAlertSender(); });
    QObject::connect(m_mainForm.get(), &MainForm::mailSettingsRequested, m_mainForm.get(), [this] {
        OpenMailSettings(m_mainForm.get(), m_state, m_session.store(), *m_mailWorker, m_messages);
    });
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, m_alerts.get(),
                     [this] { m_alerts->shutdown(AlertSender::ShutdownGrace); });
}
