#include "comm/SerialTransport.h"

#include "comm/HostTools.h"
#include "core/AppState.h"
#include "core/SettingsStore.h"

#include <QSerialPort>

namespace {

bool validIndex(int projector) {
    return projector >= 1 && projector <= MaxProjectors;
}

} // namespace

SerialTransport::SerialTransport(const AppState& state, const SettingsStore& settings,
                                 QObject* parent)
    : QObject(parent), m_state(state), m_settings(settings) {}

SerialTransport::~SerialTransport() = default;

bool SerialTransport::isOpen(int projector) const {
    return validIndex(projector) && m_ports[std::size_t(projector)] &&
           m_ports[std::size_t(projector)]->isOpen();
}

SerialTransport::OpenResult SerialTransport::open(int projector) {
    if (!validIndex(projector))
        return OpenResult::Failed;
    if (isOpen(projector))
        return OpenResult::Opened;
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
        connect(port, &QSerialPort::readyRead, this, [this, projector] {
            m_exchange.read(*m_ports[std::size_t(projector)], projector);
        });
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
    m_exchange.clear(projector);
    port->clear(QSerialPort::Input);
    return OpenResult::Opened;
}

void SerialTransport::write(int projector, const QByteArray& frame) {
    if (isOpen(projector))
        m_exchange.write(*m_ports[std::size_t(projector)], frame);
}

void SerialTransport::close(int projector) {
    if (!validIndex(projector))
        return;
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
