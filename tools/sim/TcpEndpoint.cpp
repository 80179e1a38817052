#include "TcpEndpoint.h"

#include "Projector.h"
#include "ReplySender.h"

#include <QPointer>
#include <QTcpSocket>

#include <memory>

namespace sim {

TcpEndpoint::TcpEndpoint(Projector& projector, QObject* parent)
    : QObject(parent), m_projector(projector) {
    connect(&m_server, &QTcpServer::newConnection, this, &TcpEndpoint::accept);
}

bool ListenOn(QTcpServer& server, const QString& who, const QHostAddress& address, quint16 port,
              QString* error) {
    if (server.listen(address, port))
        return true;
    *error = QStringLiteral("%1: cannot listen on %2 port %3: %4")
                 .arg(who, address.toString())
                 .arg(port)
                 .arg(server.errorString());
    return false;
}

bool TcpEndpoint::listen(const QHostAddress& address, quint16 port, QString* error) {
    return ListenOn(m_server, QStringLiteral("projector %1").arg(m_projector.id()), address, port,
                    error);
}

void TcpEndpoint::accept() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        m_projector.countConnection();
        if (const QByteArray& greeting = m_projector.faults().greeting; !greeting.isEmpty())
            socket->write(greeting);
        auto buffer = std::make_shared<QByteArray>();
        const QPointer<QTcpSocket> guard(socket);
        const WriteBytes write = [guard](const QByteArray& bytes) {
            if (guard && guard->state() == QAbstractSocket::ConnectedState)
                guard->write(bytes);
        };
        const CloseLink close = [guard] {
            if (guard) {
                guard->flush();
                guard->disconnectFromHost();
            }
        };
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer, write, close] {
            buffer->append(socket->readAll());
            while (buffer->size() >= FrameSize) {
                const QByteArray frame = buffer->left(FrameSize);
                buffer->remove(0, FrameSize);
                if (const auto reply = m_projector.handleFrame(frame))
                    sendReply(socket, *reply, write, close);
            }
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

} // namespace sim
