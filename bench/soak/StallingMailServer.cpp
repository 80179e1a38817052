#include "StallingMailServer.h"

#include <QTcpSocket>

#include <algorithm>

StallingMailServer::StallingMailServer(QObject* parent) : QObject(parent) {
    connect(&m_server, &QTcpServer::newConnection, this, &StallingMailServer::acceptPending);
}

bool StallingMailServer::listen() {
    return m_server.listen(QHostAddress::LocalHost, 0);
}

void StallingMailServer::acceptPending() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        ++m_accepted;
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { forget(socket); });
        // Whatever the client says is read and dropped, so nothing piles up.
        connect(socket, &QTcpSocket::readyRead, this, [socket] { socket->readAll(); });
        m_sockets.push_back(socket);
        if (m_sockets.size() > MaxKept)
            forget(m_sockets.front());
    }
}

void StallingMailServer::forget(QTcpSocket* socket) {
    const auto it = std::find(m_sockets.begin(), m_sockets.end(), socket);
    if (it == m_sockets.end())
        return;
    m_sockets.erase(it);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}
