#include "comm/PJLinkNotifications.h"

#include "core/AppState.h"
#include "core/CommLogs.h"
#include "pjlink/PJLinkCodec.h"

#include <QHostAddress>
#include <QNetworkDatagram>
#include <QUdpSocket>

namespace {

// The configured PJLink projector at this address; 0 for none.
int projectorAt(const AppState& state, const QHostAddress& sender) {
    bool mapped = false;
    const QHostAddress from(sender.toIPv4Address(&mapped));
    for (int p = 1; p <= std::min<int>(state.ProjectorCount, MaxProjectors); ++p) {
        const ProjectorInfo& info = state.Projectors[p];
        if (!IsPJLink(info) || info.ConnectionKind != ConnectionLan)
            continue;
        const QHostAddress address(info.IPAddress.trimmed());
        if (!address.isNull() && (address.isEqual(sender) || (mapped && address.isEqual(from))))
            return p;
    }
    return 0;
}

} // namespace

PJLinkNotifications::PJLinkNotifications(AppState& state, Applier apply, QObject* parent)
    : QObject(parent), m_state(state), m_apply(std::move(apply)) {}

PJLinkNotifications::~PJLinkNotifications() = default;

bool PJLinkNotifications::listen(quint16 port, QString* error) {
    stop();
    auto socket = std::make_unique<QUdpSocket>();
    if (!socket->bind(QHostAddress::AnyIPv4, port, QUdpSocket::ShareAddress)) {
        if (error)
            *error = QStringLiteral("PJLink notifications: cannot listen on UDP port %1: %2")
                         .arg(port)
                         .arg(socket->errorString());
        return false;
    }
    connect(socket.get(), &QUdpSocket::readyRead, this, &PJLinkNotifications::readPending);
    m_socket = std::move(socket);
    return true;
}

void PJLinkNotifications::stop() {
    m_socket.reset();
}

bool PJLinkNotifications::isListening() const {
    return m_socket != nullptr;
}

void PJLinkNotifications::readPending() {
    // Read in a loop but bounded per wake-up, so a flood cannot hold the
    // event loop; what is left raises readyRead again.
    for (int n = 0; n < 64 && m_socket && m_socket->hasPendingDatagrams(); ++n) {
        const QNetworkDatagram datagram = m_socket->receiveDatagram(MaxDatagramBytes);
        const QByteArray line = datagram.data().trimmed();
        const int projector = projectorAt(m_state, datagram.senderAddress());
        if (projector >= 1 && !withinBudget(projector)) {
            ++m_state.Counters.PJLinkNotificationsLimited;
        } else if (projector >= 1 && m_apply && m_apply(projector, line)) {
            ++m_state.Counters.PJLinkNotificationsApplied;
            if (m_state.CommLogEnabled)
                WriteCommLog(m_state, QStringLiteral("PJLink-Notify(%1):").arg(projector) +
                                          PJLinkLogText(line));
        } else {
            ++m_state.Counters.PJLinkNotificationsIgnored;
        }
    }
}

bool PJLinkNotifications::withinBudget(int projector) {
    Budget& budget = m_budgets[std::size_t(projector)];
    const qint64 now = m_state.clock.now().toMSecsSinceEpoch();
    // A clock set back starts a new second as well.
    if (now < budget.secondStart || now - budget.secondStart >= 1000) {
        budget.secondStart = now;
        budget.used = 0;
    }
    if (budget.used >= MaxAppliedPerSecond)
        return false;
    ++budget.used;
    return true;
}
