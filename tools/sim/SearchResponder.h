#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QUdpSocket>

#include <memory>
#include <vector>

namespace sim {

class Fleet;

// Answers the PJLink search: a "%2SRCH" datagram on the search port gets one
// "%2ACKN=<MAC>" datagram from every class 2 PJLink projector that is not
// silent, sent from the projector's own address to where the search came from.
class SearchResponder : public QObject {
    Q_OBJECT
  public:
    // `addresses` holds the address of each PJLink projector, in id order.
    SearchResponder(Fleet& fleet, QList<QHostAddress> addresses, QObject* parent = nullptr);

    bool listen(quint16 port, QString* error);
    quint16 port() const { return m_port; }

  private:
    QUdpSocket* bind(const QHostAddress& address, QString* error);
    void read(QUdpSocket& socket);
    QUdpSocket* senderFor(const QHostAddress& address) const;

    Fleet& m_fleet;
    QList<QHostAddress> m_addresses;
    quint16 m_port = 0;
    // The socket that gets broadcasts first, then one per projector address.
    std::vector<std::unique_ptr<QUdpSocket>> m_sockets;
};

} // namespace sim
