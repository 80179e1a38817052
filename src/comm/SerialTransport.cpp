#include "comm/SerialTransport.h"

#include "comm/CommandQueue.h"
#include "comm/HostTools.h"
#include "comm/ReplyTimeouts.h"
#include "core/AppState.h"
#include "core/CommLogs.h"
#include "core/SettingsStore.h"
#include "protocol/ReplyFraming.h"

#include <QSerialPort>

#include <utility>

namespace {

bool validIndex(int projector) {
    return projector >= 1 && projector <= MaxProjectors;
}

} // namespace

SerialTransport::SerialTransport(AppState& state, const SettingsStore& settings,
                                 ReplyTimeouts& timeouts, QObject* parent)
    : QObject(parent), m_state(state), m_settings(settings), m_timeouts(timeouts) {}

SerialTransport::~SerialTransport() = default;

bool SerialTransport::isOpen(int projector) const {
    return validIndex(projector) && m_ports[std::size_t(projector)] &&
           m_ports[std::size_t(projector)]->isOpen();
}

const QByteArray& SerialTransport::receiveBuffer(int projector) const {
    return m_receive[validIndex(projector) ? std::size_t(projector) : 0];
}

SerialTransport::OpenResult SerialTransport::open(int projector) {
    const ProjectorInfo& info = m_state.Projectors[projector];
    const SerialLineSettings line = ParseComSettings(info.COMSettings);
    if (!line.valid || info.COMPort < 1)
        return OpenResult::Failed;
    const QString device = m_settings.serialDevice(info.COMPort);
    if (m_deviceHolder.contains(device))
        return OpenResult::Busy;

    QSerialPort*& port = m_ports[std::size_t(projector)];
    if (!port) {
        port = new QSerialPort(this);
        port->setReadBufferSize(ReadBufferBytes);
        connect(port, &QSerialPort::readyRead, this, [this, projector] { dataArrived(projector); });
    }
    port->setPortName(device);
    if (!port->open(QIODevice::ReadWrite))
        return OpenResult::Failed;
    if (!port->setBaudRate(line.baudRate) || !port->setParity(line.parity) ||
        !port->setDataBits(line.dataBits) || !port->setStopBits(line.stopBits) ||
        !port->setFlowControl(QSerialPort::NoFlowControl)) {
        port->close();
        return OpenResult::Failed;
    }
    m_deviceHolder.insert(device, projector);
    // A new exchange starts clean: bytes of a reply cut off earlier do not
    // belong to it.
    m_receive[std::size_t(projector)].clear();
    port->clear(QSerialPort::Input);
    return OpenResult::Opened;
}

void SerialTransport::SerialSend(int projector) {
    if (!validIndex(projector))
        return;
    if (!isOpen(projector)) {
        switch (open(projector)) {
        case OpenResult::Opened:
            break;
        case OpenResult::Busy:
            // Another projector of ours holds the device: waiting for it is
            // no failure.
            return;
        case OpenResult::Failed:
            // Tried again on every tick, but only until the reply time-out
            // has passed; then it ends as an unanswered command would.
            if (!m_openFailing.test(std::size_t(projector))) {
                m_openFailing.set(std::size_t(projector));
                m_timeouts.start(projector,
                                 std::chrono::milliseconds(m_state.Timing.CommTimeoutTime));
            }
            return;
        }
    }
    m_openFailing.reset(std::size_t(projector));
    QueueEntry& entry = CurrentQueueEntry(m_state, projector);
    entry.state = QueueSent;
    m_ports[std::size_t(projector)]->write(entry.command.left(entry.commandLength));
    if (m_state.CommLogEnabled)
        WriteCommLog(m_state, QStringLiteral("Comm-Send(%1):").arg(projector) +
                                  FormatFrameHex(entry.command, entry.commandLength));
    m_timeouts.start(projector, std::chrono::milliseconds(m_state.Timing.CommTimeoutTime));
}

void SerialTransport::dataArrived(int projector) {
    QSerialPort* port = m_ports[std::size_t(projector)];
    QByteArray& buffer = m_receive[std::size_t(projector)];
    AppendReceived(buffer, port->readAll());
    if (!IsReplyComplete(buffer))
        return;
    m_timeouts.stop(projector);
    const QByteArray reply = std::exchange(buffer, QByteArray());
    if (m_state.CommLogEnabled)
        WriteCommLog(m_state,
                     QStringLiteral("Comm-Recv(%1):").arg(projector) + FormatFrameHex(reply));
    if (!IsQueueEmpty(m_state, projector)) {
        QueueEntry& entry = CurrentQueueEntry(m_state, projector);
        if (entry.state == QueueSent) {
            entry.state = ClassifyReply(entry.command, reply, entry.state);
            if (entry.state == QueueDataReply) {
                StoreReply(entry, reply);
            }
        }
    }
    close(projector);
}

void SerialTransport::replyTimedOut(int projector) {
    const bool openFailing = m_openFailing.test(std::size_t(projector));
    m_timeouts.stop(projector);
    close(projector);
    if (!IsQueueEmpty(m_state, projector)) {
        QueueEntry& entry = CurrentQueueEntry(m_state, projector);
        if (entry.state == QueueSent || (openFailing && entry.state == QueueQueued))
            entry.state = QueueTimedOut;
    }
    WriteCommLog(m_state, QStringLiteral("Comm-Timeout(%1):QueueRP(%2)")
                              .arg(projector)
                              .arg(m_state.Queues[projector].QueueReadIndex));
}

void SerialTransport::close(int projector) {
    if (!validIndex(projector))
        return;
    m_openFailing.reset(std::size_t(projector));
    QSerialPort* port = m_ports[std::size_t(projector)];
    if (!port || !port->isOpen())
        return;
    port->close();
    for (auto it = m_deviceHolder.begin(); it != m_deviceHolder.end(); ++it) {
        if (it.value() == projector) {
            m_deviceHolder.erase(it);
            break;
        }
    }
}

void SerialTransport::closeAll() {
    for (int p = 1; p <= MaxProjectors; ++p)
        close(p);
}
