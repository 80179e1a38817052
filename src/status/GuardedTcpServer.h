#pragma once

#include "status/EndpointLimits.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <memory>

// The listening socket handed to the HTTP server. It admits a connection
// only within EndpointLimits (in all, per client address, loopback's
// reserve), gives every request a deadline from the connection or the
// previous answer (408 and close when it passes), cuts a request larger
// than maxRequestBytes, and closes after the answer when the client asked
// for it (HTTP/1.0, "Connection: close"), which the HTTP server itself does
// not do.
class GuardedTcpServer : public QTcpServer {
    Q_OBJECT
  public:
    explicit GuardedTcpServer(const EndpointLimits& limits, QObject* parent = nullptr);

    int openConnections() const { return m_admission->open(); }
    // Connections refused or cut off since start, by reason.
    const RefusalCounts& refusals() const { return m_refusals; }

  signals:
    void clientRefused(RefusalReason reason, const QHostAddress& peer);

  protected:
    void incomingConnection(qintptr descriptor) override;
    // The socket of an accepted connection, a child of this listener.
    virtual std::unique_ptr<QTcpSocket> makeSocket();
    // Hands an admitted connection, already guarded, to the HTTP server.
    virtual void admitted(QTcpSocket* socket);

  private:
    friend class GuardedConnection;
    void refused(RefusalReason reason, const QHostAddress& peer);

    EndpointLimits m_limits;
    // Shared with the connections, which release their slot as they end,
    // possibly after the listener (the sockets are its children).
    std::shared_ptr<ConnectionAdmission> m_admission;
    RefusalCounts m_refusals{};
};
