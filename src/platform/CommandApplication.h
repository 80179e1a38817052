#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

#include <memory>

// The application a command-line action needs while it runs (Qt SQL loads
// its drivers through it, the secret store answers through its event
// loop), made only when the program has none yet. Qt keeps the arguments
// it is given, so they live here beside it.
class CommandApplication {
  public:
    explicit CommandApplication(const QString& program) : m_name(program.toUtf8()) {
        m_argv[0] = m_name.data();
        if (!QCoreApplication::instance())
            m_app = std::make_unique<QCoreApplication>(m_argc, m_argv);
    }
    CommandApplication(const CommandApplication&) = delete;
    CommandApplication& operator=(const CommandApplication&) = delete;

  private:
    int m_argc = 1;
    QByteArray m_name;
    char* m_argv[2] = {nullptr, nullptr};
    std::unique_ptr<QCoreApplication> m_app;
};
