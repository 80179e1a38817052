#pragma once

#include "comm/FrameExchange.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <bitset>
#include <functional>

class QTcpSocket;

// Moves the bytes of LAN projectors over TCP: opens a connection, writes
// frames on it and hands on each reply the framing completes. Sockets are
// made on first use, so projectors that never talk cost little. What a
// connection is opened for, and what its replies mean, is for the protocol.
class LanTransport : public QObject {
    Q_OBJECT
  public:
    explicit LanTransport(QObject* parent = nullptr);
    ~LanTransport() override;

    // Told when a connection is made, and when one that is not connected
    // fails (refused, unreachable), with the socket's reason.
    void setConnected(std::function<void(int projector)> connected);
    void setFailed(std::function<void(int projector, const QString& error)> failed);
    // The framing of replies and who receives them.
    FrameExchange& exchange() { return m_exchange; }

    // Starts connecting; returns the peer name the socket connects to.
    QString connectTo(int projector, const QString& host, quint16 port);
    void write(int projector, const QByteArray& frame);
    void close(int projector);
    void closeAll();

    // Socket state as numbered by the program: 0 closed, 1 open (bound),
    // 2 listening, 4 resolving host, 6 connecting, 7 connected, 8 closing,
    // 9 error (a failed or dropped connection not yet swept).
    int socketState(int projector) const;

    static constexpr qint64 ReadBufferBytes = 4096;

    // The 10 ms sweep that closes sockets left listening, closing or in
    // error; it looks only at sockets that exist. Returns whether any socket
    // is still open (the sweep sleeps when none is).
    void startSweep();
    void stopSweep();
    bool sweep();
    bool isSweeping() const { return m_sweepTimer.isActive(); }

  private:
    QTcpSocket* socketFor(int projector);
    void wakeSweep();

    FrameExchange m_exchange;
    std::function<void(int)> m_connected;
    std::function<void(int, const QString&)> m_failed;
    std::array<QTcpSocket*, 257> m_sockets{};
    std::bitset<257> m_errored;
    QTimer m_sweepTimer;
    bool m_sweepOn = false;
};
