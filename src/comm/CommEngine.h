#pragma once

#include "platform/WakeOnLan.h"
#include "protocol/CommandTable.h"

#include <QObject>

#include <chrono>
#include <functional>
#include <memory>

struct AppState;
class EngineObserver;
struct PlannedItem;
class RefreshSink;
class SettingsStore;

// The communication engine: the command dispatcher, the LAN and serial
// transports, reply interpretation, status polling, the reachability ping and
// MAC address learning. It owns every socket, serial port and timer of the
// projector side; widgets only call these operations.
class CommEngine : public QObject {
    Q_OBJECT
  public:
    CommEngine(AppState& state, const SettingsStore& settings, QObject* parent = nullptr);
    ~CommEngine() override;

    const CommandTable& commands() const { return m_commands; }

    // Queues a frame for a projector; false when its queue is full (the
    // refusal is written to the communication log).
    bool EnqueueCommand(int projector, const CommandFrame& frame);
    // Queues a PJLink line without its CR ("%1INPT 31", "%2FREZ 1") for a
    // PJLink projector; false when the queue is full or the projector speaks
    // the own protocol.
    bool EnqueuePJLink(int projector, const QByteArray& line);
    // Queues one item of a command's plan, as one of the two above.
    bool EnqueueCommand(int projector, const PlannedItem& item);
    // Drops everything pending for one projector, including the command in
    // flight, and closes its connection.
    void FlushProjectorQueue(int projector);
    // Resets every queue, closes every connection and starts the dispatcher.
    void InitializeQueues();
    // After the projector's settings were edited: its queue is flushed and
    // what its old connection showed about its contact is forgotten.
    void projectorEdited(int projector);

    void startDispatcher();
    void stopDispatcher();
    // Status polling: the first tick after firstTickMs, then every second; a
    // pass runs when StatusCheckInterval seconds have passed since
    // LastStatusCheck (a null LastStatusCheck forces one).
    void startPolling(int firstTickMs = 10);
    void stopPolling();
    // Starts the one-shot MAC address pass.
    void startMacAddressPass();
    // Where replies and pings report what changed on screen (the window);
    // nullptr for nowhere.
    void setRefreshSink(RefreshSink* sink);
    // Observers are told what the engine does: values stored, commands
    // queued and finished, passes, alerts (the history's recorder, the
    // control routes, the window's progress). False past
    // EngineReports::MaxObservers; an observer removes itself before it goes.
    bool addObserver(EngineObserver* observer);
    void removeObserver(EngineObserver* observer);
    // Wake-on-LAN before a power-on of the projectors that ask for it; off
    // until set.
    void setWakeOnLan(const WakeOnLanSettings& settings);
    // Called after an alert was queued (the alert sender's start).
    void setAlertStarter(std::function<void()> starter);

    // Programs run for the reachability ping and the neighbour table
    // ("ping" and "ip" by default), and how long one may run before it is
    // killed and counted as failed (3 s by default).
    void setToolPrograms(const QString& ping, const QString& ip,
                         std::chrono::milliseconds limit = std::chrono::seconds(3));
    // True while the dispatcher, the socket sweep and the ping task all sleep
    // for want of work (nothing queued, no socket open, no ping waiting).
    bool isAsleep() const;
    // The LAN socket state of a projector (0 closed ... 7 connected, 9 error).
    int socketState(int projector) const;

    // Class 2 status notifications: listens on UDP (PJLink's port 4352 by
    // default) and applies notifications from the address of a configured
    // PJLink projector at once. False, with the reason in `error`, when the
    // port cannot be bound. Off again with on = false.
    bool setPJLinkNotifications(bool on, quint16 port = 4352, QString* error = nullptr);

    // Stops every timer and closes every socket and serial port.
    void shutdown();

  private:
    class Impl;
    const CommandTable& m_commands;
    std::unique_ptr<Impl> m_impl;
};
