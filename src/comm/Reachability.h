#pragma once

#include "comm/ChildRun.h"

#include <QObject>
#include <QTimer>

#include <functional>

class RefreshSink;
struct AppState;

// The reachability ping of LAN projectors that timed out (one PingList entry
// per tick) and the pass that learns LAN projectors' MAC addresses from the
// neighbour table. Child processes run asynchronously; each timer stays
// stopped while its process runs.
class Reachability : public QObject {
    Q_OBJECT
public:
    using AlertRaiser = std::function<void(int projector, const QString& message)>;

    Reachability(AppState& state, AlertRaiser raiseAlert, QObject* parent = nullptr);

    void setRefreshSink(RefreshSink* sink) { m_sink = sink; }
    // The programs run for "ping" and "ip", and how long either may run
    // before it is killed and counted as failed.
    void setPrograms(const QString& ping, const QString& ip, std::chrono::milliseconds limit);

    void startPingTimer();
    // Starts GetMACAddressTimer (one-shot, 10 ms); a pass already running is
    // followed by another one.
    void startMacAddressPass();
    void stop();

    // Pings the address once, at most half a second's wait; calls done with
    // the answer. An address that is neither IPv4 nor a host name fails
    // without running anything.
    void PingHost(const QString& address, std::function<void(bool)> done);

private:
    void pingTick();
    void pingDone(const QString& entry, int projector, bool answered);
    void macTick();
    void macContinue();
    void AcquireMacAddress(int projector);

    AppState& m_state;
    AlertRaiser m_raiseAlert;
    RefreshSink* m_sink = nullptr;
    QString m_pingProgram = QStringLiteral("ping");
    QString m_ipProgram = QStringLiteral("ip");
    std::chrono::milliseconds m_childLimit = std::chrono::seconds(3);
    QTimer m_pingTimer;
    QTimer m_macTimer;
    ChildRun m_pingRun;
    ChildRun m_macRun;
    int m_macNext = 0; // next projector of the running MAC pass, 0 when idle
    bool m_macAgain = false;
};
