#include "app/Application.h"

#include "comm/CommEngine.h"
#include "schedule/ScheduleRunner.h"
#include "status/StatusServer.h"
#include "ui/MailSettingsForm.h"
#include "ui/MainForm.h"
#include "ui/SchedulePanel.h"

#include <QCoreApplication>
#include <QLayout>
#include <QTimer>

Application::Application() = default;

Application::~Application() {
    m_core.shutdown();
    if (m_mainForm)
        m_core.engine().setRefreshSink(nullptr);
    m_mainForm.reset();
}

bool Application::start(const QStringList& arguments) {
    QObject::connect(&m_core, &ProgramCore::stopRequested, &m_core, [this] { stopOnSignal(); });
    m_core.setProgramSource(EventSource::Window);
    m_core.state().Secrets = &m_secrets;
    if (!m_core.start(arguments))
        return false;
    m_mainForm =
        std::make_unique<MainForm>(m_core.state(), m_core.store(), m_core.engine(), m_messages);
    m_mainForm->StorePJLinkPassword = [this](int p, const QString& password) {
        return m_core.storePJLinkPassword(p, password);
    };
    m_mainForm->setHistory(m_core.history());
    // The due columns and labels follow the forecasts, worked out in the
    // background after each day's hours.
    QObject::connect(&m_core, &ProgramCore::forecastsChanged, m_mainForm.get(), [this] {
        for (int p = 1; p <= m_core.state().ProjectorCount; ++p)
            m_mainForm->statusChanged(p, StatusItem::LampTime);
    });
    wireSchedule();
    wireMail();
    // Whichever way the program ends, the core ends in order.
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, &m_core,
                     [this] { m_core.shutdown(); });

    m_mainForm->InitProjectorTree();
    m_core.engine().setRefreshSink(m_mainForm.get());
    m_core.startCommunication();
    m_core.startStatusEndpoint();
    m_mainForm->show();
    // An endpoint that could not start is no reason to stop, but the
    // operator who set it up is told, once the window runs.
    if (const StatusServer* status = m_core.statusServer(); status && !status->isListening())
        QTimer::singleShot(0, m_mainForm.get(), [this, problem = status->problem()] {
            m_messages.show(m_mainForm.get(), MessageKind::Warning, problem + QLatin1Char('.'));
        });
    QStringList warnings = m_core.session().warnings();
    if (const StatusServer* status = m_core.statusServer(); status && !status->warning().isEmpty())
        warnings << status->warning();
    for (const QString& warning : warnings)
        QTimer::singleShot(0, m_mainForm.get(), [this, warning] {
            m_messages.show(m_mainForm.get(), MessageKind::Warning, warning + QLatin1Char('.'));
        });
    if (m_core.scheduleAutoStart())
        m_core.runner().ScheduleStart();
    return true;
}

void Application::stopOnSignal() {
    m_core.shutdown();
    // Not quit(): that would close the window through its exit question.
    QCoreApplication::exit(0);
}

// The schedule runner and the Schedule tab's editor.
void Application::wireSchedule() {
    ScheduleRunner& runner = m_core.runner();
    auto* panel = new SchedulePanel(m_core.state(), runner, m_messages, m_mainForm->scheduleHost());
    m_mainForm->scheduleHost()->layout()->addWidget(panel);
    MainForm* form = m_mainForm.get();
    QObject::connect(form, &MainForm::scheduleNodeShown, panel, &SchedulePanel::showNode);
    QObject::connect(form, &MainForm::treeChanged, &runner, &ScheduleRunner::BuildTodayPlan);
    QObject::connect(form, &MainForm::scheduleStartRequested, &runner,
                     &ScheduleRunner::ScheduleStart);
    QObject::connect(form, &MainForm::scheduleStopRequested, &runner,
                     &ScheduleRunner::ScheduleStop);
    QObject::connect(&runner, &ScheduleRunner::runningChanged, form, &MainForm::setScheduleRunning);
}

// The mail settings dialog (from the "&Option" menu) shares the core's mail
// thread with the alert sender.
void Application::wireMail() {
    QObject::connect(m_mainForm.get(), &MainForm::mailSettingsRequested, m_mainForm.get(), [this] {
        OpenMailSettings(m_mainForm.get(), m_core.state(), m_core.store(), m_core.mailWorker(),
                         m_messages);
    });
}
