#include "status/GuardedTcpServer.h"

#include <QTcpSocket>
#include <QTimer>

#include <unistd.h>

GuardedTcpServer::GuardedTcpServer(QObject* parent) : QTcpServer(parent) {}

void GuardedTcpServer::incomingConnection(qintptr descriptor) {
    if (m_open >= MaxConnections) {
        ::close(int(descriptor));
        ++m_refused;
        return;
    }
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        ::close(int(descriptor));
        return;
    }
    ++m_open;
    connect(socket, &QObject::destroyed, this, [this] { --m_open; });
    auto* idle = new QTimer(socket);
    idle->setSingleShot(true);
    idle->setInterval(IdleLimit);
    // Bytes received since the last answer went out.
    auto unanswered = std::make_shared<qint64>(0);
    const auto drop = [this, socket] {
        ++m_refused;
        socket->abort();
        socket->deleteLater();
    };
    connect(idle, &QTimer::timeout, socket, drop);
    connect(socket, &QTcpSocket::readyRead, socket, [socket, idle, unanswered, drop] {
        idle->start();
        *unanswered += socket->bytesAvailable();
        if (*unanswered > MaxRequestBytes)
            drop();
    });
    connect(socket, &QTcpSocket::bytesWritten, socket, [idle, unanswered] {
        idle->start();
        *unanswered = 0;
    });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    idle->start();
    addPendingConnection(socket);
}
