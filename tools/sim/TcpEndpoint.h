#pragma once

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

namespace sim {

class Projector;

// Makes `server` listen on `address` and `port` (0 picks a free one); false
// with `error` set, naming `who`, on failure.
bool ListenOn(QTcpServer& server, const QString& who, const QHostAddress& address, quint16 port,
              QString* error);

// One projector reachable on a TCP port of 127.0.0.1. Every accepted
// connection is served until the peer closes it, a frame at a time.
class TcpEndpoint : public QObject {
    Q_OBJECT
  public:
    TcpEndpoint(Projector& projector, QObject* parent = nullptr);

    // Listens on `address` and `port` (0 picks a free one); false with
    // `error` set on failure.
    bool listen(const QHostAddress& address, quint16 port, QString* error);
    quint16 port() const { return m_server.serverPort(); }

  private:
    void accept();

    Projector& m_projector;
    QTcpServer m_server;
};

} // namespace sim
