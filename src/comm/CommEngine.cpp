#include "comm/CommEngine.h"

#include "comm/CommandDispatcher.h"
#include "comm/CommandPlanner.h"
#include "comm/CommandQueue.h"
#include "comm/EngineReports.h"
#include "comm/LanTransport.h"
#include "comm/PJLinkNotifications.h"
#include "comm/ProjectorProtocols.h"
#include "comm/Reachability.h"
#include "comm/RefreshSink.h"
#include "comm/ReplyInterpreter.h"
#include "comm/ReplyTimeouts.h"
#include "comm/SerialTransport.h"
#include "comm/StatusPoller.h"
#include "comm/WakeGate.h"
#include "core/AppState.h"
#include "core/SettingsStore.h"

namespace {

// The bytes last queued for the projector: a PJLink projector's queue holds
// a frame's line.
QByteArray lastQueued(const AppState& state, int projector) {
    const ProjectorQueue& q = state.Queues[std::size_t(projector)];
    const qint16 last = q.QueueWriteIndex == 1 ? qint16(QueueSlots) : qint16(q.QueueWriteIndex - 1);
    const QueueEntry& entry = q.entries[std::size_t(last)];
    return entry.command.left(entry.commandLength);
}

} // namespace

class CommEngine::Impl : public DispatchTarget {
  public:
    Impl(AppState& state, const SettingsStore& settings, const CommandTable& commands)
        : m_state(state), m_timeouts([this](int p) { replyTimedOut(p); }),
          m_serial(state, settings), m_interpreter(state),
          m_protocols({state, commands, m_timeouts, m_interpreter, m_lan, m_serial}), m_gate(state),
          m_dispatcher(state, *this, m_gate), m_poller(state, m_protocols),
          m_reachability(state, m_interpreter.contact()),
          m_notifications(state, [this](int p, const QByteArray& line) {
              return m_interpreter.ApplyPJLinkNotification(p, line);
          }) {
        m_interpreter.setReports(&m_sink);
        m_poller.setReports(&m_sink);
        m_reachability.setReports(&m_sink);
        m_reachability.setMacKept(
            [&settings](int p, const QString& mac) { settings.writeMacAddress(p, mac); });
        m_gate.setHoldStarted([this](int p) { m_sink.wakingByLan(p); });
    }

    ProjectorProtocol& protocolOf(int p) const { return m_protocols.of(p); }

    void Send(int p) override { protocolOf(p).send(p); }
    void HandleAcknowledge(int p) override {
        m_poller.handingOver(p, false);
        protocolOf(p).handleAcknowledge(p);
    }
    void HandleFailure(int p, bool timedOut) override {
        m_poller.handingOver(p, timedOut);
        protocolOf(p).handleFailure(p, timedOut);
    }
    void HandleDataReply(int p) override {
        m_poller.handingOver(p, false);
        protocolOf(p).handleData(p);
    }

    // A status query skipped after its round found no projector: told as
    // unanswered, so that whoever counts the commands stays in step, and
    // counted towards a disconnect as the time-out it stands for (a dead
    // projector is shown so after one round, as when every query waited),
    // but never as a command that timed out.
    void HandleSkipped(int p) override {
        const QueueEntry& entry = CurrentQueueEntry(m_state, p);
        m_interpreter.contact().commandTimedOut(p);
        m_sink.commandFinished(p, entry.command.left(entry.commandLength),
                               CommandOutcome::TimedOut);
    }

    void replyTimedOut(int p) { protocolOf(p).replyTimedOut(p); }

    // A projector's protocol may have changed since its session was opened:
    // every protocol lets go of it.
    void closeTransport(int p) {
        m_poller.queueDropped(p);
        m_timeouts.stop(p);
        m_protocols.each([p](ProjectorProtocol& protocol) { protocol.close(p); });
    }

    AppState& m_state;
    ReplyTimeouts m_timeouts;
    LanTransport m_lan;
    SerialTransport m_serial;
    ReplyInterpreter m_interpreter;
    ProjectorProtocols m_protocols;
    WakeGate m_gate;
    CommandDispatcher m_dispatcher;
    StatusPoller m_poller;
    Reachability m_reachability;
    PJLinkNotifications m_notifications;
    EngineReports m_sink;
};

CommEngine::CommEngine(AppState& state, const SettingsStore& settings, QObject* parent)
    : QObject(parent), m_commands(BuildCommandTable()),
      m_impl(std::make_unique<Impl>(state, settings, m_commands)) {
    // The socket sweep and the reachability ping run for the whole run.
    m_impl->m_lan.startSweep();
    m_impl->m_reachability.startPingTimer();
}

CommEngine::~CommEngine() {
    shutdown();
}

bool CommEngine::EnqueueCommand(int projector, const CommandFrame& frame) {
    const int ahead =
        projector >= 1 && projector <= MaxProjectors ? QueueLength(m_impl->m_state, projector) : 0;
    if (!::EnqueueCommand(m_impl->m_state, projector, frame))
        return false;
    m_impl->m_sink.commandQueued(projector, lastQueued(m_impl->m_state, projector), ahead);
    return true;
}

bool CommEngine::EnqueuePJLink(int projector, const QByteArray& line) {
    const int ahead =
        projector >= 1 && projector <= MaxProjectors ? QueueLength(m_impl->m_state, projector) : 0;
    if (!EnqueueLine(m_impl->m_state, projector, line))
        return false;
    m_impl->m_sink.commandQueued(projector, line, ahead);
    return true;
}

bool CommEngine::EnqueueCommand(int projector, const PlannedItem& item) {
    return item.frame ? EnqueueCommand(projector, *item.frame)
                      : EnqueuePJLink(projector, item.line);
}

bool CommEngine::setPJLinkNotifications(bool on, quint16 port, QString* error) {
    if (!on) {
        m_impl->m_notifications.stop();
        return true;
    }
    return m_impl->m_notifications.listen(port, error);
}

void CommEngine::FlushProjectorQueue(int projector) {
    if (projector < 1 || projector > MaxProjectors)
        return;
    const bool running = m_impl->m_dispatcher.isRunning();
    m_impl->m_dispatcher.stop();
    m_impl->m_sink.queueDropped(projector);
    m_impl->closeTransport(projector);
    ResetProjectorQueue(m_impl->m_state, projector);
    m_impl->m_gate.forget(projector);
    m_impl->m_interpreter.contact().queueFlushed(projector);
    if (running)
        m_impl->m_dispatcher.start();
}

void CommEngine::projectorEdited(int projector) {
    FlushProjectorQueue(projector);
    m_impl->m_poller.projectorEdited(projector);
    m_impl->m_protocols.each(
        [projector](ProjectorProtocol& protocol) { protocol.projectorEdited(projector); });
    m_impl->m_interpreter.contact().projectorEdited(projector);
    if (projector >= 1 && projector <= MaxProjectors)
        m_impl->m_state.Projectors[projector].PJLink = PJLinkFacts{};
}

void CommEngine::InitializeQueues() {
    m_impl->m_dispatcher.stop();
    for (int p = 1; p <= MaxProjectors; ++p) {
        m_impl->m_sink.queueDropped(p);
        m_impl->closeTransport(p);
        ResetProjectorQueue(m_impl->m_state, p);
        m_impl->m_interpreter.contact().queueFlushed(p);
    }
    m_impl->m_gate.forgetAll();
    m_impl->m_interpreter.queuesReset();
    m_impl->m_dispatcher.start();
}

void CommEngine::startDispatcher() {
    m_impl->m_dispatcher.start();
}

void CommEngine::stopDispatcher() {
    m_impl->m_dispatcher.stop();
}

void CommEngine::startPolling(int firstTickMs) {
    m_impl->m_poller.start(std::chrono::milliseconds(firstTickMs));
}

void CommEngine::stopPolling() {
    m_impl->m_poller.stop();
}

void CommEngine::startMacAddressPass() {
    m_impl->m_reachability.startMacAddressPass();
}

void CommEngine::setRefreshSink(RefreshSink* sink) {
    m_impl->m_sink.setRefreshSink(sink);
}

bool CommEngine::addObserver(EngineObserver* observer) {
    return m_impl->m_sink.addObserver(observer);
}

void CommEngine::removeObserver(EngineObserver* observer) {
    m_impl->m_sink.removeObserver(observer);
}

void CommEngine::setWakeOnLan(const WakeOnLanSettings& settings) {
    m_impl->m_gate.setSettings(settings);
}

void CommEngine::setAlertStarter(std::function<void()> starter) {
    m_impl->m_interpreter.setAlertStarter(std::move(starter));
}

void CommEngine::setToolPrograms(const QString& ping, const QString& ip,
                                 std::chrono::milliseconds limit) {
    m_impl->m_reachability.setPrograms(ping, ip, limit);
}

bool CommEngine::isAsleep() const {
    return !m_impl->m_dispatcher.isTicking() && !m_impl->m_lan.isSweeping() &&
           !m_impl->m_reachability.isPingTicking();
}

int CommEngine::socketState(int projector) const {
    return m_impl->m_lan.socketState(projector);
}

void CommEngine::shutdown() {
    m_impl->m_dispatcher.stop();
    m_impl->m_poller.stop();
    m_impl->m_reachability.stop();
    m_impl->m_lan.stopSweep();
    m_impl->m_timeouts.stopAll();
    m_impl->m_protocols.each([](ProjectorProtocol& protocol) { protocol.closeAll(); });
    m_impl->m_notifications.stop();
}
