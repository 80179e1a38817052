#pragma once

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>

#include <memory>
#include <vector>

// `slow` connections spread over `addresses` loopback addresses
// (127.0.1.1 on), each sending one byte of a request head every 250 ms and
// opening again as soon as the endpoint closes it; beside them, once a
// second, one well-behaved request from 127.0.9.1 on a new connection,
// timed from its connect to the end of its answer.
class SlowClients : public QObject {
    Q_OBJECT
  public:
    SlowClients(quint16 port, int slow, int addresses, int seconds);
    void start();
    QString report() const;

  signals:
    void finished();

  private:
    struct Slow {
        std::unique_ptr<QTcpSocket> socket;
        QHostAddress source;
        int sent = 0;
    };
    void open(Slow& slow);
    void drip();
    void probe();

    quint16 m_port;
    int m_addresses;
    int m_seconds;
    std::vector<Slow> m_slow;
    QTimer m_drip;
    QTimer m_probe;
    int m_probes = 0;
    int m_reopened = 0;
    std::vector<double> m_answerMs; // answered probes
    int m_unanswered = 0;
    int m_pending = 0;
};
