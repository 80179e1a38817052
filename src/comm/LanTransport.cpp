#include "comm/LanTransport.h"

#include "core/AppState.h"

#include <QTcpSocket>

#include <utility>

using namespace std::chrono_literals;

namespace {

bool validIndex(int projector) {
    return projector >= 1 && projector <= MaxProjectors;
}

} // namespace

LanTransport::LanTransport(QObject* parent) : QObject(parent) {
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

void LanTransport::setConnected(std::function<void(int)> connected) {
    m_connected = std::move(connected);
}

void LanTransport::setFailed(std::function<void(int, const QString&)> failed) {
    m_failed = std::move(failed);
}

QTcpSocket* LanTransport::socketFor(int projector) {
    QTcpSocket*& socket = m_sockets[std::size_t(projector)];
    if (!socket) {
        socket = new QTcpSocket(this);
        // A reply is a few bytes; a peer that floods is read in small pieces.
        socket->setReadBufferSize(ReadBufferBytes);
        connect(socket, &QTcpSocket::stateChanged, this, &LanTransport::wakeSweep);
        connect(socket, &QTcpSocket::connected, this, [this, projector] {
            if (m_connected)
                m_connected(projector);
        });
        connect(socket, &QTcpSocket::readyRead, this, [this, projector] {
            m_exchange.read(*m_sockets[std::size_t(projector)], projector);
        });
        connect(socket, &QTcpSocket::errorOccurred, this,
                [this, projector](QAbstractSocket::SocketError) {
                    m_errored.set(std::size_t(projector));
                    const QTcpSocket* s = m_sockets[std::size_t(projector)];
                    if (m_failed && s->state() != QAbstractSocket::ConnectedState)
                        m_failed(projector, s->errorString());
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

QString LanTransport::connectTo(int projector, const QString& host, quint16 port) {
    // Bytes left over from a connection cut off earlier belong to no
    // exchange of this one.
    m_exchange.clear(projector);
    QTcpSocket* socket = socketFor(projector);
    socket->connectToHost(host, port);
    wakeSweep();
    return socket->peerName();
}

void LanTransport::write(int projector, const QByteArray& frame) {
    if (QTcpSocket* socket = validIndex(projector) ? m_sockets[std::size_t(projector)] : nullptr)
        m_exchange.write(*socket, frame);
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
