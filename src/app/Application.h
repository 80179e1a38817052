#pragma once

#include "program/ProgramCore.h"
#include "ui/KeychainSecretStore.h"
#include "ui/MessageService.h"

#include <QStringList>

#include <memory>

class MainForm;

// The window on top of the program's core: builds the main window and the
// Schedule tab's editor, wires them to the core's engine, runner and mail
// thread, and starts the run in the order the program starts up.
class Application {
public:
    Application();
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // False when the run cannot go on: session() then says whether another
    // instance runs (the caller ends at once) or what failed.
    bool start(const QStringList& arguments);
    const ProgramSession& session() const { return m_core.session(); }

private:
    void wireSchedule();
    void wireMail();
    // SIGTERM, SIGINT or SIGHUP: the orderly shutdown, without the question.
    void stopOnSignal();

    // Outlives the core, whose password keepers ask it.
    KeychainSecretStore m_secrets;
    ProgramCore m_core;
    MessageService m_messages;
    std::unique_ptr<MainForm> m_mainForm;
};
