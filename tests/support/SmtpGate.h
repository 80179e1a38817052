#pragma once

// A mail server that accepts connections on 127.0.0.1 and then says nothing,
// like a server that hangs, until the test decides: open() lets the held
// connections (and all later ones) through to a real SMTP server behind the
// gate, so the mail goes out late; drop() closes them, so the mail fails.
//
//   SmtpSink sink;
//   SmtpGate gate(sink.port());
//   ... send to gate.server() ...
//   QTRY_COMPARE(gate.held(), 1);   // the mail library is waiting now
//   gate.open();

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

#include <utility>

class SmtpGate : public QObject {
  public:
    explicit SmtpGate(quint16 targetPort = 0) : m_targetPort(targetPort) {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* client = m_server.nextPendingConnection()) {
                client->setParent(this);
                ++m_accepted;
                if (m_mode == Mode::Pass)
                    relay(client);
                else if (m_mode == Mode::Drop)
                    client->abort();
                else
                    m_held.append(client);
            }
        });
        m_server.listen(QHostAddress::LocalHost);
    }

    bool isReady() const { return m_server.isListening(); }
    QString server() const { return QStringLiteral("127.0.0.1:%1").arg(m_server.serverPort()); }
    // Connections waiting for the test's decision.
    int held() const {
        int n = 0;
        for (const QPointer<QTcpSocket>& socket : m_held)
            n += socket && socket->state() == QAbstractSocket::ConnectedState;
        return n;
    }
    int accepted() const { return m_accepted; }

    void open() {
        m_mode = Mode::Pass;
        for (const QPointer<QTcpSocket>& client : std::exchange(m_held, {})) {
            if (client)
                relay(client);
        }
    }

    void drop() {
        m_mode = Mode::Drop;
        for (const QPointer<QTcpSocket>& client : std::exchange(m_held, {})) {
            if (client)
                client->abort();
        }
    }

    // Back to holding new connections.
    void hold() { m_mode = Mode::Hold; }

  private:
    enum class Mode { Hold, Pass, Drop };

    void relay(QTcpSocket* client) {
        auto* upstream = new QTcpSocket(this);
        connect(client, &QTcpSocket::readyRead, upstream,
                [client, upstream] { upstream->write(client->readAll()); });
        connect(upstream, &QTcpSocket::readyRead, client,
                [client, upstream] { client->write(upstream->readAll()); });
        connect(client, &QTcpSocket::disconnected, upstream, &QTcpSocket::disconnectFromHost);
        connect(upstream, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
        upstream->connectToHost(QHostAddress::LocalHost, m_targetPort);
        upstream->write(client->readAll());
    }

    QTcpServer m_server;
    quint16 m_targetPort;
    Mode m_mode = Mode::Hold;
    QList<QPointer<QTcpSocket>> m_held;
    int m_accepted = 0;
};
