#pragma once

#include "platform/ChildRun.h"

#include <QObject>
#include <QTimer>

#include <functional>

class ContactWatch;
class EngineReports;
struct AppState;

// The reachability ping of LAN projectors that timed out (one PingList entry
// per tick) and the pass that learns LAN projectors' MAC addresses from the
// neighbour table. Child processes run asynchronously; each timer stays
// stopped while its process runs, and the ping timer sleeps while the list
// is empty until AddToPingList wakes it.
class Reachability : public QObject {
    Q_OBJECT
  public:
    Reachability(AppState& state, ContactWatch& contact, QObject* parent = nullptr);
    ~Reachability() override;

    // The programs run for "ping" and "ip", and how long either may run
    // before it is killed and counted as failed.
    void setPrograms(const QString& ping, const QString& ip, std::chrono::milliseconds limit);

    void startPingTimer();
    // Starts GetMACAddressTimer (one-shot, 10 ms); a pass already running is
    // followed by another one.
    void startMacAddressPass();
    void stop();
    bool isPingTicking() const { return m_pingTimer.isActive(); }
    // Where the MAC address pass reports its progress; nullptr for nowhere.
    void setReports(EngineReports* sink) { m_sink = sink; }
    // Keeps a MAC address learnt for a projector woken by LAN beyond this
    // run; none by default.
    void setMacKept(std::function<void(int projector, const QString& mac)> keep) {
        m_macKept = std::move(keep);
    }

    // Pings the address once, at most half a second's wait; calls done with
    // the answer. An address that is neither IPv4 nor a host name fails
    // without running anything.
    void PingHost(const QString& address, std::function<void(bool)> done);

  private:
    void pingTick();
    void wakePing();
    void pingDone(const QString& entry, int projector, quint64 numbering, bool answered);
    void macTick();
    void macContinue();
    void AcquireMacAddress(int projector);
    void macLookedUp(int projector, const QString& address, quint64 numbering, const QString& mac);

    AppState& m_state;
    ContactWatch& m_contact;
    QString m_pingProgram = QStringLiteral("ping");
    QString m_ipProgram = QStringLiteral("ip");
    std::chrono::milliseconds m_childLimit = std::chrono::seconds(3);
    QTimer m_pingTimer;
    QTimer m_macTimer;
    ChildRun m_pingRun;
    ChildRun m_macRun;
    int m_macNext = 0; // next projector of the running MAC pass, 0 when idle
    bool m_macAgain = false;
    bool m_pingStopped = true;
    EngineReports* m_sink = nullptr;
    std::function<void(int, const QString&)> m_macKept;
};
