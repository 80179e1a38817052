#include "ControlChannel.h"

#include "ControlCommands.h"

#include <QTcpSocket>

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace sim {

ControlChannel::ControlChannel(ControlCommands& commands, QObject* parent)
    : QObject(parent), m_commands(commands) {
    connect(&m_server, &QTcpServer::newConnection, this, &ControlChannel::accept);
}

void ControlChannel::printLine(const QString& line) {
    std::fputs(line.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void ControlChannel::readStdin() {
    m_stdin = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
    connect(m_stdin.get(), &QSocketNotifier::activated, this, &ControlChannel::onStdin);
}

void ControlChannel::onStdin() {
    char chunk[4096];
    const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (n <= 0) {
        m_stdin->setEnabled(false);
        emit stdinClosed();
        return;
    }
    m_stdinBuffer.append(chunk, int(n));
    for (qsizetype end = m_stdinBuffer.indexOf('\n'); end >= 0; end = m_stdinBuffer.indexOf('\n')) {
        const QString line = QString::fromLocal8Bit(m_stdinBuffer.left(end)).trimmed();
        m_stdinBuffer.remove(0, end + 1);
        if (!line.isEmpty())
            printLine(m_commands.execute(line));
    }
}

bool ControlChannel::listen(quint16 port, QString* error) {
    if (m_server.listen(QHostAddress::LocalHost, port))
        return true;
    *error = QStringLiteral("cannot listen for control on port %1: %2")
                 .arg(port)
                 .arg(m_server.errorString());
    return false;
}

void ControlChannel::accept() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            while (socket->canReadLine()) {
                const QString line = QString::fromLocal8Bit(socket->readLine()).trimmed();
                if (line.isEmpty())
                    continue;
                socket->write((m_commands.execute(line) + QLatin1Char('\n')).toLocal8Bit());
                socket->flush();
            }
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

} // namespace sim
