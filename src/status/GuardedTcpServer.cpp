#include "status/GuardedTcpServer.h"

#include "status/HttpRules.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

#include <unistd.h>

namespace {

// Written here, not by the HTTP server, which has no request to answer.
QByteArray RequestTimeout(std::chrono::milliseconds deadline) {
    const QByteArray body = ErrorJson(408, QStringLiteral("the request did not arrive within %1 s")
                                               .arg(double(deadline.count()) / 1000.0)) +
                            '\n';
    return "HTTP/1.1 408 Request Timeout\r\nContent-Type: application/json\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

} // namespace

// Watches one admitted connection; a child of its socket, so it ends with it.
// Its readyRead handler is connected before the HTTP server's, so it sees
// each request's bytes (by peeking) before the server reads them.
class GuardedConnection : public QObject {
  public:
    GuardedConnection(GuardedTcpServer& server, QTcpSocket* socket)
        : QObject(socket), m_server(&server), m_admission(server.m_admission),
          m_limits(server.m_limits), m_socket(socket), m_peer(socket->peerAddress()) {
        m_deadline.setSingleShot(true);
        m_deadline.setInterval(m_limits.requestDeadline);
        connect(&m_deadline, &QTimer::timeout, this, &GuardedConnection::deadlinePassed);
        connect(socket, &QTcpSocket::readyRead, this, &GuardedConnection::received);
        connect(socket, &QTcpSocket::bytesWritten, this, &GuardedConnection::written);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        m_deadline.start();
    }
    ~GuardedConnection() override { m_admission->release(m_peer); }
    GuardedConnection(const GuardedConnection&) = delete;
    GuardedConnection& operator=(const GuardedConnection&) = delete;

  private:
    void received() {
        if (m_closing)
            return;
        // The next request on a kept-alive connection gets a whole deadline
        // from its first byte, not what is left of the idle wait.
        if (m_answered && m_pending.isEmpty())
            m_deadline.start();
        m_pending += m_socket->peek(m_socket->bytesAvailable());
        if (m_pending.size() > m_limits.maxRequestBytes) {
            cut(RefusalReason::TooLarge);
            return;
        }
        examineHead();
    }

    void examineHead() {
        if (m_requestEnd >= 0)
            return;
        const qsizetype headEnd = RequestHeadEnd(m_pending);
        if (headEnd < 0)
            return;
        const QByteArray head = m_pending.first(headEnd);
        m_closeAfterAnswer = WantsCloseAfterAnswer(head);
        m_requestEnd = headEnd + RequestBodyLength(head);
    }

    // The HTTP server writes each answer in one go, so the answer is out
    // once nothing is left to write.
    void written() {
        if (m_closing || m_socket->bytesToWrite() > 0)
            return;
        if (m_closeAfterAnswer) {
            close();
            return;
        }
        // A pipelined request may already have begun behind this one.
        m_pending.remove(0, m_requestEnd < 0 ? m_pending.size() : qsizetype(m_requestEnd));
        m_requestEnd = -1;
        m_answered = true;
        examineHead();
        m_deadline.start();
    }

    void deadlinePassed() {
        if (m_closing) {
            // The client did not take the last bytes within a deadline either.
            m_socket->abort();
            m_socket->deleteLater();
            return;
        }
        const bool answering = m_socket->bytesToWrite() > 0;
        if (m_answered && m_pending.isEmpty() && !answering) {
            // A kept-alive connection that asked nothing more: no fault.
            close();
            return;
        }
        report(RefusalReason::Deadline);
        if (answering) {
            // Too slow to read its answer: no room for another behind it.
            m_closing = true;
            m_socket->abort();
            m_socket->deleteLater();
            return;
        }
        m_socket->write(RequestTimeout(m_limits.requestDeadline));
        close();
    }

    // Closes once the bytes written so far are out, within one more deadline.
    void close() {
        m_closing = true;
        m_socket->disconnectFromHost();
        if (m_socket->state() != QAbstractSocket::UnconnectedState)
            m_deadline.start();
    }

    // Called from readyRead: the HTTP server's handler still runs after this
    // one and must find the socket open, so the abort comes just after.
    void cut(RefusalReason reason) {
        m_closing = true;
        m_deadline.stop();
        report(reason);
        QMetaObject::invokeMethod(
            this,
            [socket = m_socket] {
                socket->abort();
                socket->deleteLater();
            },
            Qt::QueuedConnection);
    }

    void report(RefusalReason reason) {
        if (m_server)
            m_server->refused(reason, m_peer);
    }

    QPointer<GuardedTcpServer> m_server;
    std::shared_ptr<ConnectionAdmission> m_admission;
    EndpointLimits m_limits;
    QTcpSocket* m_socket;
    QHostAddress m_peer;
    QTimer m_deadline;
    // Bytes received since the last answer (bounded by maxRequestBytes), and
    // where the request they begin with ends, once its head is complete.
    QByteArray m_pending;
    qint64 m_requestEnd = -1;
    bool m_closeAfterAnswer = false;
    bool m_answered = false;
    bool m_closing = false;
};

GuardedTcpServer::GuardedTcpServer(const EndpointLimits& limits, QObject* parent)
    : QTcpServer(parent), m_limits(limits),
      m_admission(std::make_shared<ConnectionAdmission>(limits)) {
    // Connections that arrive together wait in the kernel's queue, not in
    // a SYN retry a second later.
    setListenBacklogSize(limits.maxConnections);
}

void GuardedTcpServer::refused(RefusalReason reason, const QHostAddress& peer) {
    ++m_refusals[std::size_t(reason)];
    emit clientRefused(reason, peer);
}

std::unique_ptr<QTcpSocket> GuardedTcpServer::makeSocket() {
    return std::make_unique<QTcpSocket>(this);
}

void GuardedTcpServer::admitted(QTcpSocket* socket) {
    addPendingConnection(socket);
}

void GuardedTcpServer::incomingConnection(qintptr descriptor) {
    std::unique_ptr<QTcpSocket> socket = makeSocket();
    if (!socket->setSocketDescriptor(descriptor)) {
        ::close(int(descriptor));
        return;
    }
    const QHostAddress peer = socket->peerAddress();
    if (const auto refusal = m_admission->admit(peer)) {
        socket->abort();
        refused(*refusal, peer);
        return;
    }
    new GuardedConnection(*this, socket.get());
    admitted(socket.release());
}
