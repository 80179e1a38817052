#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>

#include <chrono>
#include <optional>

// Waking a projector whose network sleeps in standby: a magic packet (six
// 0xFF bytes, then its MAC address sixteen times) sent by UDP to port 9 of
// the broadcast address of the interface whose network holds the
// projector's address.

// From Setting/WakeOnLan ("1": on; off otherwise) and
// Setting/WakeOnLanDelay (whole seconds from the packet to the power-on,
// 20 when not set or not a number from 0 to 600).
struct WakeOnLanSettings {
    bool enabled = false;
    std::chrono::seconds delay{20};
};

WakeOnLanSettings ReadWakeOnLanSettings(const QString& settingsFile);

inline constexpr quint16 WakeOnLanPort = 9;

// The six bytes of a MAC address written as six pairs of hex digits
// separated by ":" or "-" (00:1A:2B:3C:4D:5E), or nothing.
std::optional<QByteArray> MacAddressBytes(const QString& text);
QByteArray MagicPacket(const QByteArray& mac);

// The broadcast address of this machine's network that holds `address`, or
// nothing with the reason in `error`.
std::optional<QHostAddress> BroadcastAddressFor(const QHostAddress& address, QString* error);

// Sends the packet for the projector at `address` with the MAC address
// `mac`; empty when it went, else what kept it.
QString SendWakeOnLan(const QString& mac, const QString& address);
