#include "platform/WakeOnLan.h"

#include <QNetworkInterface>
#include <QRegularExpression>
#include <QSettings>
#include <QUdpSocket>

namespace {

constexpr int MacBytes = 6;
constexpr int MacRepeats = 16;
constexpr int MaxDelaySeconds = 600;

} // namespace

WakeOnLanSettings ReadWakeOnLanSettings(const QString& settingsFile) {
    const QSettings s(settingsFile, QSettings::IniFormat);
    WakeOnLanSettings settings;
    settings.enabled =
        s.value(QStringLiteral("Setting/WakeOnLan")).toString().trimmed() == QLatin1String("1");
    bool ok = false;
    const int delay =
        s.value(QStringLiteral("Setting/WakeOnLanDelay")).toString().trimmed().toInt(&ok);
    if (ok && delay >= 0 && delay <= MaxDelaySeconds)
        settings.delay = std::chrono::seconds(delay);
    return settings;
}

std::optional<QByteArray> MacAddressBytes(const QString& text) {
    static const QRegularExpression pattern(
        QStringLiteral("^[0-9A-Fa-f]{2}([:-])(?:[0-9A-Fa-f]{2}\\1){4}[0-9A-Fa-f]{2}$"));
    const QString mac = text.trimmed();
    if (!pattern.match(mac).hasMatch())
        return std::nullopt;
    QString digits = mac;
    digits.remove(QLatin1Char(':')).remove(QLatin1Char('-'));
    return QByteArray::fromHex(digits.toLatin1());
}

QByteArray MagicPacket(const QByteArray& mac) {
    return QByteArray(MacBytes, char(0xFF)) + mac.repeated(MacRepeats);
}

std::optional<QHostAddress> BroadcastAddressFor(const QHostAddress& address, QString* error) {
    if (address.protocol() != QAbstractSocket::IPv4Protocol || address.isLoopback()) {
        *error = QStringLiteral("%1 is not an IPv4 address on a network").arg(address.toString());
        return std::nullopt;
    }
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        if (!interface.flags().testFlag(QNetworkInterface::IsUp) ||
            !interface.flags().testFlag(QNetworkInterface::CanBroadcast))
            continue;
        for (const QNetworkAddressEntry& entry : interface.addressEntries())
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol &&
                !entry.broadcast().isNull() && address.isInSubnet(entry.ip(), entry.prefixLength()))
                return entry.broadcast();
    }
    *error = QStringLiteral("no network of this machine holds %1").arg(address.toString());
    return std::nullopt;
}

QString SendWakeOnLan(const QString& mac, const QString& address) {
    const std::optional<QByteArray> bytes = MacAddressBytes(mac);
    if (!bytes)
        return mac.trimmed().isEmpty()
                   ? QStringLiteral("no MAC address is known for %1").arg(address)
                   : QStringLiteral("\"%1\" is not a MAC address").arg(mac);
    QString error;
    const QHostAddress host(address.trimmed());
    const std::optional<QHostAddress> broadcast =
        host.isNull() ? std::nullopt : BroadcastAddressFor(host, &error);
    if (!broadcast)
        return host.isNull() ? QStringLiteral("\"%1\" is not an IPv4 address").arg(address) : error;
    // A datagram leaves at once or not at all: nothing here waits.
    QUdpSocket socket;
    const QByteArray packet = MagicPacket(*bytes);
    if (socket.writeDatagram(packet, *broadcast, WakeOnLanPort) != packet.size())
        return QStringLiteral("the wake-up packet for %1 could not be sent to %2: %3")
            .arg(address, broadcast->toString(), socket.errorString());
    return {};
}
