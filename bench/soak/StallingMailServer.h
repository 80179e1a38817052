#pragma once

#include <QTcpServer>

#include <deque>

class QTcpSocket;

// A mail server on 127.0.0.1 that accepts every connection and never says a
// word, so a client waits for the greeting until its own time-out. The
// accepted sockets are kept open (at most MaxKept; the oldest is dropped).
class StallingMailServer : public QObject {
    Q_OBJECT
  public:
    static constexpr std::size_t MaxKept = 64;

    explicit StallingMailServer(QObject* parent = nullptr);

    bool listen();
    quint16 port() const { return m_server.serverPort(); }
    QString errorString() const { return m_server.errorString(); }
    int accepted() const { return m_accepted; }
    int open() const { return int(m_sockets.size()); }

  private:
    void acceptPending();
    void forget(QTcpSocket* socket);

    QTcpServer m_server;
    std::deque<QTcpSocket*> m_sockets; // children of m_server
    int m_accepted = 0;
};
