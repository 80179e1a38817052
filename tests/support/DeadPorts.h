#pragma once

// Ports on 127.0.0.1 that behave like projectors that are not there, for
// tests and benchmarks:
//
//   BlackHolePort dead;      // a connect never completes (a dead address)
//   quint16 p = dead.port(); // 0 when it could not be set up
//   quint16 r = RefusingPort(); // nothing listens: a connect is refused
//
// The black hole listens with a backlog of none and has its one place in
// the queue taken by a connection of its own, so the kernel drops every
// further connection request, as for an address where nothing answers.

#include <QTcpServer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

class BlackHolePort {
  public:
    BlackHolePort() {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (m_listener < 0 || ::bind(m_listener, asSockaddr(address), size) != 0 ||
            ::listen(m_listener, 0) != 0 || ::getsockname(m_listener, asSockaddr(address), &size))
            return;
        m_filler = ::socket(AF_INET, SOCK_STREAM, 0);
        if (m_filler >= 0 && ::connect(m_filler, asSockaddr(address), sizeof address) == 0)
            m_port = ntohs(address.sin_port);
    }
    ~BlackHolePort() {
        for (int fd : {m_filler, m_listener})
            if (fd >= 0)
                ::close(fd);
    }
    BlackHolePort(const BlackHolePort&) = delete;
    BlackHolePort& operator=(const BlackHolePort&) = delete;

    quint16 port() const { return m_port; }

  private:
    static sockaddr* asSockaddr(sockaddr_in& address) {
        return reinterpret_cast<sockaddr*>(&address);
    }

    int m_listener = -1;
    int m_filler = -1;
    quint16 m_port = 0;
};

// A port that was free a moment ago: a connect to it is refused.
inline quint16 RefusingPort() {
    QTcpServer server;
    return server.listen(QHostAddress::LocalHost) ? server.serverPort() : 0;
}
