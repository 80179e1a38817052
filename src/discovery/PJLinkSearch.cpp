#include "discovery/PJLinkSearch.h"

#include "discovery/DiscoveryText.h"

#include <QNetworkDatagram>
#include <QNetworkInterface>

PJLinkSearch::PJLinkSearch(QObject* parent) : QObject(parent) {
    m_window.setSingleShot(true);
    connect(&m_window, &QTimer::timeout, this, [this] {
        m_socket.close();
        emit finished();
    });
    connect(&m_socket, &QUdpSocket::readyRead, this, &PJLinkSearch::readAnswers);
}

bool PJLinkSearch::start(quint16 port, std::chrono::milliseconds window,
                         const QSet<quint32>& range) {
    cancel();
    m_problem.clear();
    m_seen.clear();
    m_ignored = 0;
    m_range = range;
    m_networks.clear();
    // Projectors answer to the port the search came from, or to the PJLink
    // port itself: share that port with the notification listener when it
    // can be had, any port otherwise.
    const auto share = QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint;
    if (!m_socket.bind(QHostAddress::AnyIPv4, port, share) &&
        !m_socket.bind(QHostAddress::AnyIPv4, 0, share)) {
        m_problem =
            QStringLiteral("The search cannot open a UDP socket: %1").arg(m_socket.errorString());
    }
    int sent = 0;
    if (m_problem.isEmpty()) {
        const auto interfaces = QNetworkInterface::allInterfaces();
        for (const QNetworkInterface& nic : interfaces) {
            const auto flags = nic.flags();
            if (!flags.testFlag(QNetworkInterface::IsUp) ||
                flags.testFlag(QNetworkInterface::IsLoopBack) ||
                !flags.testFlag(QNetworkInterface::CanBroadcast))
                continue;
            for (const QNetworkAddressEntry& entry : nic.addressEntries()) {
                if (entry.ip().protocol() != QAbstractSocket::IPv4Protocol ||
                    entry.broadcast().isNull())
                    continue;
                if (m_socket.writeDatagram(SearchLine, entry.broadcast(), port) !=
                    SearchLine.size())
                    continue;
                ++sent;
                const quint32 mask = entry.netmask().toIPv4Address();
                m_networks.append({entry.ip().toIPv4Address() & mask, mask});
            }
        }
        if (sent == 0)
            m_problem = QStringLiteral("The search found no network interface to send on.");
    }
    // The window runs even when nothing was sent, so finished() always comes
    // after the caller's connections are made.
    m_window.start(sent > 0 ? window : std::chrono::milliseconds(0));
    return sent > 0;
}

void PJLinkSearch::cancel() {
    m_window.stop();
    m_socket.close();
}

void PJLinkSearch::readAnswers() {
    while (m_socket.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_socket.receiveDatagram(256);
        if (!m_window.isActive())
            continue;
        const std::optional<QString> mac = ParseSearchAnswer(datagram.data());
        if (!mac)
            continue;
        bool ok = false;
        const quint32 v4 = datagram.senderAddress().toIPv4Address(&ok);
        if (!ok || m_seen.contains(v4))
            continue;
        if (!mayAnswer(v4) || m_seen.size() >= MaxAnswers) {
            ++m_ignored;
            continue;
        }
        m_seen.insert(v4);
        emit answered(QHostAddress(v4), *mac);
    }
}

bool PJLinkSearch::mayAnswer(quint32 address) const {
    if (!m_range.isEmpty())
        return m_range.contains(address);
    for (const auto& [network, mask] : m_networks) {
        if ((address & mask) == network)
            return true;
    }
    return false;
}
