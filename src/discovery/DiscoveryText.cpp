#include "discovery/DiscoveryText.h"

#include "core/AppState.h"
#include "core/CsvText.h"
#include "core/FieldChecks.h"
#include "core/FleetCsvColumns.h"

#include <QRegularExpression>

namespace {

QString protocolWord(const QString& protocol) {
    return protocol.compare(ProtocolPJLink, Qt::CaseInsensitive) == 0 ? CsvPJLink : CsvNative;
}

quint16 portOf(const ProjectorInfo& info) {
    const QString text = info.PortNo.trimmed();
    if (text.isEmpty())
        return IsPJLink(info) ? DefaultPJLinkPortNo.toUShort() : DefaultPortNo.toUShort();
    return text.toUShort();
}

// What the network sent, as the tree, the logs and a terminal can show it.
QString escaped(const QString& text) {
    QString shown;
    for (const char32_t c : text.toUcs4()) {
        const auto category = QChar::category(c);
        if (category == QChar::Other_Control || category == QChar::Other_Format ||
            category == QChar::Separator_Line || category == QChar::Separator_Paragraph)
            shown += (c > 0xFFFF ? QStringLiteral("\\U") : QStringLiteral("\\u")) +
                     QString::number(uint(c), 16)
                         .toUpper()
                         .rightJustified(c > 0xFFFF ? 8 : 4, QLatin1Char('0'));
        else
            shown += QString::fromUcs4(&c, 1);
    }
    return shown.left(MaxEntryNameLength);
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

QString DiscoveryName(const DiscoveryFind& find) {
    const QString name = escaped(find.name);
    return name.trimmed().isEmpty() ? find.address : name;
}

QByteArray DiscoveryCsvHeader() {
    return CsvLine(FleetCsvColumns + FleetCsvIgnoredColumns);
}

QByteArray DiscoveryCsvRow(const DiscoveryFind& find, const QString& name,
                           const QString& nativeModel) {
    const bool pjlink = find.protocol.compare(ProtocolPJLink, Qt::CaseInsensitive) == 0;
    QString note;
    if (find.passwordRequired)
        note = QStringLiteral("password required");
    else if (!pjlink && nativeModel.isEmpty())
        note = QStringLiteral("choose the model");
    QStringList fields(CsvColumnCount);
    fields[CsvName] = name;
    fields[CsvProtocol] = protocolWord(find.protocol);
    fields[CsvConnection] = CsvLan;
    fields[CsvAddress] = find.address;
    fields[CsvPort] = QString::number(find.port);
    fields[CsvModel] = pjlink ? QString() : nativeModel;
    fields[CsvMACAddress] = find.mac;
    fields << (pjlink ? escaped(find.model) : QString()) << note;
    return CsvLine(fields, CsvCells::Guarded);
}

QString DiscoverySummary(const DiscoveryCounts& counts) {
    return QStringLiteral("searched: %1 answered, %2 ignored from outside the range; probed: %3; "
                          "found: %4; already in the fleet: %5, not listed")
        .arg(counts.answered)
        .arg(counts.ignored)
        .arg(counts.probed)
        .arg(counts.found)
        .arg(counts.inFleet);
}
