#pragma once

#include <QTcpServer>

#include <chrono>

// The listening socket handed to the HTTP server: it serves at most
// MaxConnections at once (more are closed as they are accepted), closes a
// connection idle for IdleLimit, and one that sends more than
// MaxRequestBytes without being answered, so that idle or hostile clients
// cannot use up the program's descriptors or memory.
class GuardedTcpServer : public QTcpServer {
    Q_OBJECT
  public:
    static constexpr int MaxConnections = 64;
    static constexpr std::chrono::milliseconds IdleLimit{10000};
    static constexpr qint64 MaxRequestBytes = 64 * 1024;

    explicit GuardedTcpServer(QObject* parent = nullptr);

    int openConnections() const { return m_open; }
    // Connections closed at accept or for idleness or size since start.
    quint64 refusedConnections() const { return m_refused; }

  protected:
    void incomingConnection(qintptr descriptor) override;

  private:
    int m_open = 0;
    quint64 m_refused = 0;
};
