#pragma once

#include <QObject>
#include <QTcpSocket>

// Sends control lines to the simulator's control port without waiting for
// the answers: they are read as they come and only counted.
class SimControl : public QObject {
    Q_OBJECT
  public:
    explicit SimControl(quint16 port, QObject* parent = nullptr);

    void send(const QString& line);

    int sent() const { return m_sent; }
    int answeredOk() const { return m_ok; }
    // Answers other than OK, and lines that could not be written.
    int failed() const { return m_failed; }
    bool isConnected() const { return m_socket.state() == QAbstractSocket::ConnectedState; }

  private:
    void readAnswers();

    QTcpSocket m_socket;
    int m_sent = 0;
    int m_ok = 0;
    int m_failed = 0;
};
