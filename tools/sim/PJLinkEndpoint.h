#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>

namespace sim {

class PJLinkProjector;
class PJLinkSession;

// One PJLink projector reachable on a TCP port of 127.0.0.1. Every accepted
// connection is a session of its own: greeting, authentication, then one
// reply line per command line.
class PJLinkEndpoint : public QObject {
    Q_OBJECT
  public:
    PJLinkEndpoint(PJLinkProjector& projector, QObject* parent = nullptr);
    ~PJLinkEndpoint() override;

    // Listens on `address` and `port` (0 picks a free one); false with
    // `error` set on failure.
    bool listen(const QHostAddress& address, quint16 port, QString* error);
    quint16 port() const { return m_server.serverPort(); }

  private:
    void accept();

    PJLinkProjector& m_projector;
    QTcpServer m_server;
    QList<QPointer<PJLinkSession>> m_sessions; // owned as children
};

} // namespace sim
