#include "discovery/DiscoveryText.h"

#include "core/AppState.h"

#include <QRegularExpression>

namespace {

QString protocolWord(const QString& protocol) {
    return protocol.compare(ProtocolPJLink, Qt::CaseInsensitive) == 0 ? QStringLiteral("pjlink")
                                                                      : QStringLiteral("native");
}

quint16 portOf(const ProjectorInfo& info) {
    const QString text = info.PortNo.trimmed();
    if (text.isEmpty())
        return IsPJLink(info) ? DefaultPJLinkPortNo.toUShort() : DefaultPortNo.toUShort();
    return text.toUShort();
}

} // namespace

DiscoveryRange ParseDiscoveryRange(const QString& text) {
    DiscoveryRange range;
    const QString trimmed = text.trimmed();
    const QStringList parts = trimmed.split(QLatin1Char('/'));
    QHostAddress base;
    bool ok = parts.size() <= 2 && base.setAddress(parts.first()) &&
              base.protocol() == QAbstractSocket::IPv4Protocol &&
              parts.first().count(QLatin1Char('.')) == 3;
    int prefix = 32;
    if (ok && parts.size() == 2)
        prefix = parts.at(1).toInt(&ok);
    if (!ok || prefix < 0 || prefix > 32) {
        range.error =
            QStringLiteral("\"%1\" is no address range; write it like 192.0.2.0/24.").arg(trimmed);
        return range;
    }
    if (prefix < MinDiscoveryPrefix) {
        range.error = QStringLiteral("The range %1 is larger than a /%2 (%3 addresses).")
                          .arg(trimmed)
                          .arg(MinDiscoveryPrefix)
                          .arg(MaxDiscoveryAddresses);
        return range;
    }
    const quint32 size = prefix == 32 ? 1u : (1u << (32 - prefix));
    const quint32 first = base.toIPv4Address() & ~(size - 1);
    if ((first >> 28) >= 14) {
        range.error =
            QStringLiteral("The range %1 holds no projector addresses (multicast or reserved).")
                .arg(trimmed);
        return range;
    }
    const quint32 skip = size >= 4 ? 1 : 0;
    for (quint32 i = skip; i < size - skip; ++i)
        range.addresses.append(QHostAddress(first + i));
    return range;
}

std::optional<QString> ParseSearchAnswer(const QByteArray& datagram) {
    static const QRegularExpression answer(
        QStringLiteral("^%2ACKN=([0-9A-Fa-f]{2}([:-]?[0-9A-Fa-f]{2}){5})\\r?\\n?$"));
    const auto match = answer.match(QString::fromLatin1(datagram));
    if (!match.hasMatch())
        return std::nullopt;
    QString hex = match.captured(1).toUpper();
    hex.remove(QLatin1Char(':')).remove(QLatin1Char('-'));
    QStringList pairs;
    for (int i = 0; i < hex.size(); i += 2)
        pairs << hex.mid(i, 2);
    return pairs.join(QLatin1Char(':'));
}

bool IsInFleet(const AppState& state, const DiscoveryFind& find) {
    const bool findIsPJLink = find.protocol.compare(ProtocolPJLink, Qt::CaseInsensitive) == 0;
    for (int p = 1; p <= state.ProjectorCount; ++p) {
        const ProjectorInfo& info = state.Projectors[size_t(p)];
        if (info.ConnectionKind != ConnectionLan)
            continue;
        if (!find.mac.isEmpty() && info.MACAddress.compare(find.mac, Qt::CaseInsensitive) == 0)
            return true;
        if (info.IPAddress.trimmed() == find.address && IsPJLink(info) == findIsPJLink &&
            portOf(info) == find.port)
            return true;
    }
    return false;
}

QString CsvField(const QString& text) {
    static const QRegularExpression special(QStringLiteral("[,\"\\r\\n]"));
    if (!text.contains(special))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString DiscoveryCsvHeader() {
    return QStringLiteral("Group,Name,Protocol,Connection,Address,Port,COMPort,COMSettings,Model,"
                          "MACAddress,Password\r\n");
}

QString DiscoveryCsvRow(const DiscoveryFind& find) {
    const QStringList fields{QString(),
                             find.name.isEmpty() ? find.address : find.name,
                             protocolWord(find.protocol),
                             QStringLiteral("lan"),
                             find.address,
                             QString::number(find.port),
                             QString(),
                             QString(),
                             find.model,
                             find.mac,
                             QString()};
    QStringList quoted;
    for (const QString& field : fields)
        quoted << CsvField(field);
    return quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n");
}
