#include "status/EndpointLimits.h"

#include <algorithm>

const char* RefusalReasonName(RefusalReason reason) {
    switch (reason) {
    case RefusalReason::Connections:
        return "connections";
    case RefusalReason::PerAddress:
        return "per_address";
    case RefusalReason::Reserved:
        return "loopback_reserve";
    case RefusalReason::Deadline:
        return "deadline";
    case RefusalReason::TooLarge:
        return "too_large";
    case RefusalReason::Count:
        break;
    }
    return "";
}

QHostAddress ConnectionAdmission::normalized(const QHostAddress& peer) {
    bool isV4 = false;
    const quint32 v4 = peer.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4) : peer;
}

std::optional<RefusalReason> ConnectionAdmission::admit(const QHostAddress& peer) {
    const QHostAddress address = normalized(peer);
    if (m_open >= m_limits.maxConnections)
        return RefusalReason::Connections;
    if (m_perAddress.value(address) >= m_limits.perAddress)
        return RefusalReason::PerAddress;
    if (!address.isLoopback() && m_open >= m_limits.maxConnections - m_limits.loopbackReserve)
        return RefusalReason::Reserved;
    ++m_open;
    ++m_perAddress[address];
    return std::nullopt;
}

void ConnectionAdmission::release(const QHostAddress& peer) {
    const QHostAddress address = normalized(peer);
    const auto it = m_perAddress.find(address);
    if (it == m_perAddress.end())
        return;
    --m_open;
    if (--*it == 0)
        m_perAddress.erase(it);
}

EndpointLimits FittedToOpenFiles(EndpointLimits limits, std::uint64_t openFiles) {
    const std::uint64_t room =
        openFiles > FilesKeptBesideEndpoint ? openFiles - FilesKeptBesideEndpoint : 0;
    if (room >= std::uint64_t(limits.maxConnections))
        return limits;
    const int least = std::min(limits.maxConnections, limits.loopbackReserve + limits.perAddress);
    limits.maxConnections = std::max(least, int(room));
    return limits;
}
