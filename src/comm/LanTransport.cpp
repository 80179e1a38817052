#include "comm/LanTransport.h"

#include "comm/CommandQueue.h"
#include "comm/HostTools.h"
#include "comm/ReplyTimeouts.h"
#include "core/AppState.h"
#include "core/CommLogs.h"
#include "core/PingList.h"
#include "protocol/ReplyFraming.h"

#include <QTcpSocket>

#include <utility>

using namespace std::chrono_literals;

namespace {

bool validIndex(int projector) {
    return projector >= 1 && projector <= MaxProjectors;
}

} // namespace

LanTransport::LanTransport(AppState& state, ReplyTimeouts& timeouts, QObject* parent)
    : QObject(parent), m_state(state), m_timeouts(timeouts) {
    m_sweepTimer.setInterval(10ms);
    m_sweepTimer.setSingleShot(true);
    connect(&m_sweepTimer, &QTimer::timeout, this, [this] {
        // Sleeps once every socket is closed; a connect or a change of a
        // socket's state wakes it.
        if (sweep())
            m_sweepTimer.start();
    });
}

LanTransport::~LanTransport() = default;

QTcpSocket* LanTransport::socketFor(int projector) {
    QTcpSocket*& socket = m_sockets[std::size_t(projector)];
    if (!socket) {
        socket = new QTcpSocket(this);
        // A reply is a few bytes; a peer that floods is read in small pieces.
        socket->setReadBufferSize(ReadBufferBytes);
        connect(socket, &QTcpSocket::stateChanged, this, &LanTransport::wakeSweep);
        connect(socket, &QTcpSocket::connected, this, [this, projector] { connected(projector); });
        connect(socket, &QTcpSocket::readyRead, this,
                [this, projector] { dataArrived(projector); });
        connect(socket, &QTcpSocket::errorOccurred, this,
                [this, projector](QAbstractSocket::SocketError) {
                    m_errored.set(std::size_t(projector));
                    connectFailed(projector);
                    wakeSweep();
                });
    }
    return socket;
}

int LanTransport::socketState(int projector) const {
    if (!validIndex(projector))
        return 0;
    const QTcpSocket* socket = m_sockets[std::size_t(projector)];
    if (!socket)
        return 0;
    switch (socket->state()) {
    case QAbstractSocket::UnconnectedState:
        return m_errored.test(std::size_t(projector)) ? 9 : 0;
    case QAbstractSocket::BoundState:
        return 1;
    case QAbstractSocket::ListeningState:
        return 2;
    case QAbstractSocket::HostLookupState:
        return 4;
    case QAbstractSocket::ConnectingState:
        return 6;
    case QAbstractSocket::ConnectedState:
        return 7;
    case QAbstractSocket::ClosingState:
        return 8;
    }
    return 9;
}

const QByteArray& LanTransport::receiveBuffer(int projector) const {
    return m_receive[validIndex(projector) ? std::size_t(projector) : 0];
}

void LanTransport::LanSend(int projector) {
    if (!validIndex(projector))
        return;
    const ProjectorInfo& info = m_state.Projectors[projector];
    QueueEntry& entry = CurrentQueueEntry(m_state, projector);
    const std::chrono::milliseconds timeout(m_state.Timing.TcpTimeoutTime);
    switch (socketState(projector)) {
    case 0: {
        // Bytes left over from a connection cut off earlier belong to no
        // command of this connection.
        m_receive[std::size_t(projector)].clear();
        bool portOk = false;
        const quint16 port = info.PortNo.trimmed().toUShort(&portOk);
        QString host = info.IPAddress;
        // An unusable address or port is never connected to; the command
        // then times out like one to an unreachable projector.
        if (IsValidHostAddress(info.IPAddress) && portOk && port != 0) {
            QTcpSocket* socket = socketFor(projector);
            socket->connectToHost(info.IPAddress, port);
            host = socket->peerName();
            wakeSweep();
        }
        m_timeouts.start(projector, timeout);
        entry.state = QueueConnecting;
        WriteCommLog(m_state, QStringLiteral("TCP(%1)_Connect:").arg(projector) + host);
        break;
    }
    case 7:
        entry.state = QueueSent;
        m_sockets[std::size_t(projector)]->write(entry.command.left(entry.commandLength));
        WriteCommLog(m_state, QStringLiteral("TCP-Send(%1):").arg(projector) +
                                  FormatFrameHex(entry.command, entry.commandLength));
        m_timeouts.start(projector, timeout);
        break;
    default:
        break;
    }
}

void LanTransport::connected(int projector) {
    m_timeouts.stop(projector);
    if (IsQueueEmpty(m_state, projector))
        return;
    QueueEntry& entry = CurrentQueueEntry(m_state, projector);
    if (entry.state != QueueConnecting)
        return;
    entry.state = QueueSent;
    m_sockets[std::size_t(projector)]->write(entry.command.left(entry.commandLength));
    if (m_state.CommLogEnabled)
        WriteCommLog(m_state, QStringLiteral("TCP-Send(%1):").arg(projector) +
                                  FormatFrameHex(entry.command, entry.commandLength));
    m_timeouts.start(projector, std::chrono::milliseconds(m_state.Timing.TcpTimeoutTime));
}

void LanTransport::connectFailed(int projector) {
    if (IsQueueEmpty(m_state, projector))
        return;
    QueueEntry& entry = CurrentQueueEntry(m_state, projector);
    const QTcpSocket* socket = m_sockets[std::size_t(projector)];
    // A refused or unreachable address fails its command now: waiting for
    // the time-out would tell nothing more.
    if (entry.state != QueueConnecting || socket->state() == QAbstractSocket::ConnectedState)
        return;
    m_timeouts.stop(projector);
    entry.state = QueueTimedOut;
    AddToPingList(m_state, projector);
    WriteCommLog(
        m_state,
        QStringLiteral("TCP-ConnectFailed(%1):%2").arg(projector).arg(socket->errorString()));
}

void LanTransport::dataArrived(int projector) {
    QTcpSocket* socket = m_sockets[std::size_t(projector)];
    QByteArray& buffer = m_receive[std::size_t(projector)];
    AppendReceived(buffer, socket->readAll());
    if (!IsReplyComplete(buffer))
        return;
    m_timeouts.stop(projector);
    const QByteArray reply = std::exchange(buffer, QByteArray());
    if (m_state.CommLogEnabled)
        WriteCommLog(m_state,
                     QStringLiteral("TCP-Recv(%1):").arg(projector) + FormatFrameHex(reply));
    if (!IsQueueEmpty(m_state, projector)) {
        QueueEntry& entry = CurrentQueueEntry(m_state, projector);
        if (entry.state == QueueSent || entry.state == QueueConnecting) {
            entry.state = ClassifyReply(entry.command, reply, entry.state);
            if (entry.state == QueueDataReply) {
                StoreReply(entry, reply);
            }
        }
    }
    close(projector);
}

void LanTransport::replyTimedOut(int projector) {
    m_timeouts.stop(projector);
    close(projector);
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

void LanTransport::close(int projector) {
    if (!validIndex(projector))
        return;
    if (QTcpSocket* socket = m_sockets[std::size_t(projector)];
        socket && socket->state() != QAbstractSocket::UnconnectedState)
        socket->abort();
    m_errored.reset(std::size_t(projector));
}

void LanTransport::closeAll() {
    for (int p = 1; p <= MaxProjectors; ++p)
        close(p);
}

void LanTransport::startSweep() {
    m_sweepOn = true;
    m_sweepTimer.start();
}

void LanTransport::stopSweep() {
    m_sweepOn = false;
    m_sweepTimer.stop();
}

void LanTransport::wakeSweep() {
    if (m_sweepOn && !m_sweepTimer.isActive())
        m_sweepTimer.start();
}

bool LanTransport::sweep() {
    bool open = false;
    for (int p = 1; p <= MaxProjectors; ++p) {
        if (!m_sockets[std::size_t(p)])
            continue;
        const int state = socketState(p);
        if (state == 2 || state == 3 || state >= 8)
            close(p);
        open = open || socketState(p) != 0;
    }
    return open;
}
