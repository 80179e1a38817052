#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <QUdpSocket>

#include <chrono>
#include <utility>

// The PJLink search: one "%2SRCH" datagram to the broadcast address of every
// up, non-loopback IPv4 interface, then the "%2ACKN=<MAC>" answers of class 2
// projectors, collected for a while. An answer counts only from an address
// the search may hear from: one of the range given, or without a range, one
// on a network the search was sent to. Anyone can send a datagram with any
// sender address, so the rest are counted and dropped.
class PJLinkSearch : public QObject {
    Q_OBJECT
  public:
    explicit PJLinkSearch(QObject* parent = nullptr);

    // False when nothing could be sent (no socket, no interface that
    // broadcasts); problem() says why, and finished() still follows.
    // `range` holds the IPv4 addresses answers are taken from; empty: those
    // of the networks searched.
    bool start(quint16 port, std::chrono::milliseconds window, const QSet<quint32>& range = {});
    // Stops at once; no signal follows.
    void cancel();
    bool isRunning() const { return m_window.isActive(); }
    QString problem() const { return m_problem; }
    // Addresses that answered, and answers dropped (from outside, or beyond
    // the limit), since the last start.
    int answerCount() const { return int(m_seen.size()); }
    int ignoredCount() const { return m_ignored; }

    // A flood of datagrams never grows the set past this.
    static constexpr int MaxAnswers = 1024;

  signals:
    void answered(const QHostAddress& address, const QString& mac);
    void finished();

  private:
    void readAnswers();
    bool mayAnswer(quint32 address) const;

    QUdpSocket m_socket;
    QTimer m_window;
    QSet<quint32> m_range;
    QList<std::pair<quint32, quint32>> m_networks; // network and mask searched
    QSet<quint32> m_seen;
    int m_ignored = 0;
    QString m_problem;
};
