#include "comm/OwnProtocol.h"

#include "comm/CommandQueue.h"
#include "comm/HostTools.h"
#include "comm/LanTransport.h"
#include "comm/ReplyInterpreter.h"
#include "comm/ReplyTimeouts.h"
#include "comm/SerialTransport.h"
#include "core/AppState.h"
#include "core/CommLogs.h"
#include "core/PingList.h"
#include "protocol/CommandTable.h"
#include "protocol/ReplyFraming.h"

namespace {

bool validIndex(int projector) {
    return projector >= 1 && projector <= MaxProjectors;
}

QByteArray frameOf(const QueueEntry& entry) {
    return entry.command.left(entry.commandLength);
}

} // namespace

OwnProtocol::OwnProtocol(AppState& state, const CommandTable& commands, ReplyTimeouts& timeouts,
                         ReplyInterpreter& interpreter, LanTransport& lan, SerialTransport& serial)
    : m_state(state), m_commands(commands), m_timeouts(timeouts), m_interpreter(interpreter),
      m_lan(lan), m_serial(serial) {
    m_lan.exchange().setFraming(IsReplyComplete);
    m_lan.exchange().setReplied([this](int p, const QByteArray& reply) {
        replied(p, reply, QStringLiteral("TCP-Recv"), true);
        m_lan.close(p);
    });
    m_lan.setConnected([this](int p) { connected(p); });
    m_lan.setFailed([this](int p, const QString& error) { connectFailed(p, error); });
    m_serial.exchange().setFraming(IsReplyComplete);
    m_serial.exchange().setReplied([this](int p, const QByteArray& reply) {
        replied(p, reply, QStringLiteral("Comm-Recv"), false);
        closeSerial(p);
    });
}

void OwnProtocol::queueStatusQueries(int projector) {
    const CommandFrame* queries[] = {
        &m_commands.PowerGetCommand, &m_commands.InputGetCommand, &m_commands.ErrorStatusGetCommand,
        &m_commands.LampTimeGetCommand, &m_commands.FilterTimeGetCommand};
    for (const CommandFrame* query : queries) {
        if (!EnqueueCommand(m_state, projector, *query))
            break;
    }
}

void OwnProtocol::send(int projector) {
    if (!validIndex(projector))
        return;
    if (m_state.Projectors[projector].ConnectionKind == ConnectionLan)
        lanSend(projector);
    else
        serialSend(projector);
}

void OwnProtocol::lanSend(int projector) {
    const ProjectorInfo& info = m_state.Projectors[projector];
    QueueEntry& entry = CurrentQueueEntry(m_state, projector);
    const std::chrono::milliseconds timeout(m_state.Timing.TcpTimeoutTime);
    switch (m_lan.socketState(projector)) {
    case 0: {
        bool portOk = false;
        const quint16 port = info.PortNo.trimmed().toUShort(&portOk);
        QString host = info.IPAddress;
        // An unusable address or port is never connected to; the command
        // then times out like one to an unreachable projector.
        if (IsValidHostAddress(info.IPAddress) && portOk && port != 0)
            host = m_lan.connectTo(projector, info.IPAddress, port);
        m_timeouts.start(projector, timeout);
        entry.state = QueueConnecting;
        WriteCommLog(m_state, QStringLiteral("TCP(%1)_Connect:").arg(projector) + host);
        break;
    }
    case 7:
        entry.state = QueueSent;
        m_lan.write(projector, frameOf(entry));
        WriteCommLog(m_state, QStringLiteral("TCP-Send(%1):").arg(projector) +
                                  FormatFrameHex(entry.command, entry.commandLength));
        m_timeouts.start(projector, timeout);
        break;
    default:
        break;
    }
}

void OwnProtocol::connected(int projector) {
    m_timeouts.stop(projector);
    if (IsQueueEmpty(m_state, projector))
        return;
    QueueEntry& entry = CurrentQueueEntry(m_state, projector);
    if (entry.state != QueueConnecting)
        return;
    entry.state = QueueSent;
    m_lan.write(projector, frameOf(entry));
    if (m_state.CommLogEnabled)
        WriteCommLog(m_state, QStringLiteral("TCP-Send(%1):").arg(projector) +
                                  FormatFrameHex(entry.command, entry.commandLength));
    m_timeouts.start(projector, std::chrono::milliseconds(m_state.Timing.TcpTimeoutTime));
}

void OwnProtocol::connectFailed(int projector, const QString& error) {
    if (IsQueueEmpty(m_state, projector))
        return;
    QueueEntry& entry = CurrentQueueEntry(m_state, projector);
    // A refused or unreachable address fails its command now: waiting for
    // the time-out would tell nothing more.
    if (entry.state != QueueConnecting)
        return;
    m_timeouts.stop(projector);
    entry.state = QueueTimedOut;
    AddToPingList(m_state, projector);
    WriteCommLog(m_state, QStringLiteral("TCP-ConnectFailed(%1):%2").arg(projector).arg(error));
}

void OwnProtocol::serialSend(int projector) {
    switch (m_serial.open(projector)) {
    case SerialTransport::OpenResult::Opened:
        break;
    case SerialTransport::OpenResult::Busy:
        // Another projector of ours holds the device: waiting for it is no
        // failure.
        return;
    case SerialTransport::OpenResult::Failed:
        // Tried again on every tick, but only until the reply time-out has
        // passed; then it ends as an unanswered command would.
        if (!m_openFailing.test(std::size_t(projector))) {
            m_openFailing.set(std::size_t(projector));
            m_timeouts.start(projector, std::chrono::milliseconds(m_state.Timing.CommTimeoutTime));
        }
        return;
    }
    m_openFailing.reset(std::size_t(projector));
    QueueEntry& entry = CurrentQueueEntry(m_state, projector);
    entry.state = QueueSent;
    m_serial.write(projector, frameOf(entry));
    if (m_state.CommLogEnabled)
        WriteCommLog(m_state, QStringLiteral("Comm-Send(%1):").arg(projector) +
                                  FormatFrameHex(entry.command, entry.commandLength));
    m_timeouts.start(projector, std::chrono::milliseconds(m_state.Timing.CommTimeoutTime));
}

void OwnProtocol::replied(int projector, const QByteArray& reply, const QString& tag,
                          bool connectingAnswers) {
    m_timeouts.stop(projector);
    if (m_state.CommLogEnabled)
        WriteCommLog(m_state, tag + QStringLiteral("(%1):").arg(projector) + FormatFrameHex(reply));
    if (IsQueueEmpty(m_state, projector))
        return;
    QueueEntry& entry = CurrentQueueEntry(m_state, projector);
    if (entry.state == QueueSent || (connectingAnswers && entry.state == QueueConnecting)) {
        entry.state = ClassifyReply(entry.command, reply, entry.state);
        if (entry.state == QueueDataReply)
            StoreReply(entry, reply);
    }
}

void OwnProtocol::replyTimedOut(int projector) {
    const qint16 kind = m_state.Projectors[projector].ConnectionKind;
    if (kind == ConnectionLan)
        lanTimedOut(projector);
    else if (kind == ConnectionSerial)
        serialTimedOut(projector);
    else
        m_timeouts.stop(projector);
}

void OwnProtocol::lanTimedOut(int projector) {
    m_timeouts.stop(projector);
    m_lan.close(projector);
    if (!IsQueueEmpty(m_state, projector)) {
        QueueEntry& entry = CurrentQueueEntry(m_state, projector);
        if (entry.state == QueueSent || entry.state == QueueConnecting)
            entry.state = QueueTimedOut;
    }
    AddToPingList(m_state, projector);
    WriteCommLog(m_state, QStringLiteral("TCP-Timeout(%1):QueueRP(%2)")
                              .arg(projector)
                              .arg(m_state.Queues[projector].QueueReadIndex));
}

void OwnProtocol::serialTimedOut(int projector) {
    const bool openFailing = m_openFailing.test(std::size_t(projector));
    m_timeouts.stop(projector);
    closeSerial(projector);
    if (!IsQueueEmpty(m_state, projector)) {
        QueueEntry& entry = CurrentQueueEntry(m_state, projector);
        if (entry.state == QueueSent || (openFailing && entry.state == QueueQueued))
            entry.state = QueueTimedOut;
    }
    WriteCommLog(m_state, QStringLiteral("Comm-Timeout(%1):QueueRP(%2)")
                              .arg(projector)
                              .arg(m_state.Queues[projector].QueueReadIndex));
}

void OwnProtocol::handleAcknowledge(int projector) {
    m_interpreter.HandleAcknowledge(projector);
}

void OwnProtocol::handleFailure(int projector, bool timedOut) {
    m_interpreter.HandleFailure(projector, timedOut);
}

void OwnProtocol::handleData(int projector) {
    m_interpreter.HandleDataReply(projector);
}

void OwnProtocol::closeSerial(int projector) {
    if (validIndex(projector))
        m_openFailing.reset(std::size_t(projector));
    m_serial.close(projector);
}

void OwnProtocol::close(int projector) {
    m_lan.close(projector);
    closeSerial(projector);
}

void OwnProtocol::closeAll() {
    m_lan.closeAll();
    m_openFailing.reset();
    m_serial.closeAll();
}
