#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <array>
#include <bitset>

class QTcpSocket;
class ReplyTimeouts;
struct AppState;

// Carries the commands of LAN projectors: one TCP connection per command,
// opened when the command is due and closed after its reply or time-out.
// Sockets are made on first use, so projectors that never talk cost little.
// A connection that fails (refused, unreachable) fails its command at once.
class LanTransport : public QObject {
    Q_OBJECT
  public:
    LanTransport(AppState& state, ReplyTimeouts& timeouts, QObject* parent = nullptr);
    ~LanTransport() override;

    // Starts the command at the projector's read index (entry in state 1).
    void LanSend(int projector);
    // The projector's reply time-out expired.
    void replyTimedOut(int projector);
    void close(int projector);
    void closeAll();

    // Socket state as numbered by the program: 0 closed, 1 open (bound),
    // 2 listening, 4 resolving host, 6 connecting, 7 connected, 8 closing,
    // 9 error (a failed or dropped connection not yet swept).
    int socketState(int projector) const;
    const QByteArray& receiveBuffer(int projector) const;

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
    void connected(int projector);
    // The connection for the command in flight could not be made.
    void connectFailed(int projector);
    void dataArrived(int projector);
    void wakeSweep();

    AppState& m_state;
    ReplyTimeouts& m_timeouts;
    std::array<QTcpSocket*, 257> m_sockets{};
    std::array<QByteArray, 257> m_receive{};
    std::bitset<257> m_errored;
    QTimer m_sweepTimer;
    bool m_sweepOn = false;
};
