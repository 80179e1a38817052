#pragma once

#include <QHash>
#include <QHostAddress>

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>

// How much of the endpoint one client may take, so that no client, however
// hostile, shuts the others out for longer than one request's deadline.
struct EndpointLimits {
    // An idle connection costs one descriptor and a few KiB: enough room
    // that clients trickling their heads from many addresses leave slots
    // for a well-behaved scraper.
    int maxConnections = 1024;
    int perAddress = 8;
    // The last slots of maxConnections are kept for loopback clients (the
    // local Prometheus, the operator's curl), never given to remote ones.
    int loopbackReserve = 8;
    // A request's head and body must have arrived this long after the
    // connection opened or the previous answer went out.
    std::chrono::milliseconds requestDeadline{5000};
    qint64 maxRequestBytes = 64 * 1024;
    // The limits' health condition clears after this long without a refusal.
    std::chrono::milliseconds quietPeriod{60000};
};

// Descriptors the rest of the program keeps beside the endpoint's
// connections: 256 projectors' sockets, serial ports, logs, the history.
inline constexpr std::uint64_t FilesKeptBesideEndpoint = 512;

// The limits with maxConnections lowered, when it must be, so that the
// connections fit into `openFiles` beside FilesKeptBesideEndpoint; never
// below what loopback's reserve and one client address need.
EndpointLimits FittedToOpenFiles(EndpointLimits limits, std::uint64_t openFiles);

// Why a connection was refused at its start or cut off before its answer.
enum class RefusalReason { Connections, PerAddress, Reserved, Deadline, TooLarge, Count };

// The label value /metrics shows for a reason.
const char* RefusalReasonName(RefusalReason reason);

using RefusalCounts = std::array<std::uint64_t, std::size_t(RefusalReason::Count)>;

// Counts the open connections per client address and decides whether a new
// one is admitted. Free of I/O: the listener asks, then reports the close.
class ConnectionAdmission {
  public:
    explicit ConnectionAdmission(const EndpointLimits& limits) : m_limits(limits) {}

    // Empty when admitted (and counted), else why not.
    std::optional<RefusalReason> admit(const QHostAddress& peer);
    void release(const QHostAddress& peer);
    int open() const { return m_open; }

    // IPv4-mapped IPv6 peers (a listener on "::") count as their IPv4 address.
    static QHostAddress normalized(const QHostAddress& peer);

  private:
    EndpointLimits m_limits;
    int m_open = 0;
    QHash<QHostAddress, int> m_perAddress; // only addresses with open connections
};
