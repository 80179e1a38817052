#pragma once

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QTcpServer>

#include <memory>

namespace sim {

class ControlCommands;

// Carries control lines to the commands and their answers back: lines from
// stdin are answered on stdout, lines from a control connection on that
// connection.
class ControlChannel : public QObject {
    Q_OBJECT
  public:
    ControlChannel(ControlCommands& commands, QObject* parent = nullptr);

    void readStdin();
    // Listens on 127.0.0.1:`port` (0 picks a free one); false with `error` set.
    bool listen(quint16 port, QString* error);
    quint16 port() const { return m_server.serverPort(); }

    // Writes one line to stdout and flushes it at once.
    static void printLine(const QString& line);

  signals:
    void stdinClosed();

  private:
    void onStdin();
    void accept();

    ControlCommands& m_commands;
    std::unique_ptr<QSocketNotifier> m_stdin;
    QByteArray m_stdinBuffer;
    QTcpServer m_server;
};

} // namespace sim
