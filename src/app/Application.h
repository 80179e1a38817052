#pragma once

#include "core/AppState.h"
#include "core/Startup.h"
#include "ui/MessageService.h"

#include <QStringList>

#include <memory>

class AlertSender;
class CommEngine;
class MailWorker;
class MainForm;
class ScheduleRunner;

// The composition root: builds the state, the engine, the schedule runner,
// the alert sender and the main window, wires them together and starts the
// run in the order the program starts up.
class Application {
public:
    Application();
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // False when another instance already runs; the caller then ends at once.
    bool start(const QStringList& arguments);

private:
    void wireSchedule();
    void wireMail();

    AppState m_state;
    ProgramSession m_session;
    MessageService m_messages;
    std::unique_ptr<MailWorker> m_mailWorker;
    std::unique_ptr<CommEngine> m_engine;
    std::unique_ptr<ScheduleRunner> m_runner;
    std::unique_ptr<AlertSender> m_alerts;
    std::unique_ptr<MainForm> m_mainForm;
};
