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
class StopSignals;

// The composition root: builds the state, the engine, the schedule runner,
// the alert sender and the main window, wires them together and starts the
// run in the order the program starts up.
class Application {
  public:
    Application();
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // False when the run cannot go on: session() then says whether another
    // instance runs (the caller ends at once, silently) or what failed.
    bool start(const QStringList& arguments);
    const ProgramSession& session() const { return m_session; }

  private:
    void wireSchedule();
    void wireMail();
    // SIGTERM, SIGINT or SIGHUP: the orderly shutdown, without the question.
    void stopOnSignal();

    AppState m_state;
    ProgramSession m_session;
    MessageService m_messages;
    std::unique_ptr<MailWorker> m_mailWorker;
    std::unique_ptr<CommEngine> m_engine;
    std::unique_ptr<ScheduleRunner> m_runner;
    std::unique_ptr<AlertSender> m_alerts;
    std::unique_ptr<MainForm> m_mainForm;
    std::unique_ptr<StopSignals> m_stopSignals;
};
