#include "SearchResponder.h"

#include "Fleet.h"

#include <QNetworkDatagram>

namespace sim {

SearchResponder::SearchResponder(Fleet& fleet, QList<QHostAddress> addresses, QObject* parent)
    : QObject(parent), m_fleet(fleet), m_addresses(std::move(addresses)) {}

QUdpSocket* SearchResponder::bind(const QHostAddress& address, QString* error) {
    auto socket = std::make_unique<QUdpSocket>();
    // The broadcast socket and the per-address ones share the port.
    if (!socket->bind(address, m_port,
                      QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint)) {
        *error = QStringLiteral("cannot take search datagrams on %1 port %2: %3")
                     .arg(address.toString())
                     .arg(m_port)
                     .arg(socket->errorString());
        return nullptr;
    }
    QUdpSocket* raw = socket.get();
    connect(raw, &QUdpSocket::readyRead, this, [this, raw] { read(*raw); });
    m_sockets.push_back(std::move(socket));
    return raw;
}

bool SearchResponder::listen(quint16 port, QString* error) {
    m_port = port;
    QUdpSocket* any = bind(QHostAddress::AnyIPv4, error);
    if (!any)
        return false;
    if (m_port == 0)
        m_port = any->localPort();
    for (const QHostAddress& address : m_addresses) {
        if (!senderFor(address) && !bind(address, error))
            return false;
    }
    return true;
}

QUdpSocket* SearchResponder::senderFor(const QHostAddress& address) const {
    for (const auto& socket : m_sockets) {
        if (socket->localAddress() == address)
            return socket.get();
    }
    return nullptr;
}

void SearchResponder::read(QUdpSocket& socket) {
    while (socket.hasPendingDatagrams()) {
        const QNetworkDatagram search = socket.receiveDatagram(256);
        const QByteArray text = search.data().trimmed();
        if (text.compare("%2SRCH", Qt::CaseInsensitive) != 0)
            continue;
        for (int k = 0; k < m_fleet.pjlinkCount(); ++k) {
            PJLinkProjector* projector = m_fleet.pjlink(m_fleet.firstPJLinkId() + k);
            if (projector->model().pjClass != 2 || projector->quirks().silent ||
                projector->model().mac.isEmpty())
                continue;
            QUdpSocket* from = senderFor(m_addresses.value(k));
            if (!from)
                from = &socket;
            from->writeDatagram("%2ACKN=" + projector->model().mac + '\r', search.senderAddress(),
                                quint16(search.senderPort()));
        }
    }
}

} // namespace sim
