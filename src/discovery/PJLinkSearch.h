#pragma once

#include <QHostAddress>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <QUdpSocket>

#include <chrono>

// The PJLink search: one "%2SRCH" datagram to the broadcast address of every
// up, non-loopback IPv4 interface, then the "%2ACKN=<MAC>" answers of class 2
// projectors, collected for a while.
class PJLinkSearch : public QObject {
    Q_OBJECT
  public:
    explicit PJLinkSearch(QObject* parent = nullptr);

    // False when nothing could be sent (no socket, no interface that
    // broadcasts); problem() says why, and finished() still follows.
    bool start(quint16 port, std::chrono::milliseconds window);
    // Stops at once; no signal follows.
    void cancel();
    bool isRunning() const { return m_window.isActive(); }
    QString problem() const { return m_problem; }

  signals:
    void answered(const QHostAddress& address, const QString& mac);
    void finished();

  private:
    void readAnswers();

    // A flood of datagrams never grows the set past this.
    static constexpr int MaxAnswers = 4096;
    QUdpSocket m_socket;
    QTimer m_window;
    QSet<QString> m_seen;
    QString m_problem;
};
