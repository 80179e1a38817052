#include "core/FieldChecks.h"

#include "core/Fleet.h"

#include <QRegularExpression>

namespace {

// Digits without a leading zero, the number itself at most `largest`.
bool isPlainNumber(const QString& text, int largest) {
    static const QRegularExpression digits(QStringLiteral("^(0|[1-9][0-9]{0,4})$"));
    return digits.match(text).hasMatch() && text.toInt() <= largest;
}

} // namespace

QString CheckEntryName(const QString& name) {
    if (const QString refusal = CheckNodeName(name); !refusal.isEmpty())
        return refusal;
    for (const char32_t c : name.toUcs4()) {
        // Format characters: the directional marks, overrides and isolates,
        // the zero-width space and joiners, the byte-order mark.
        if (QChar::category(c) == QChar::Other_Format)
            return QStringLiteral("A name cannot contain bidirectional or zero-width characters.");
    }
    if (name.size() > MaxEntryNameLength)
        return QStringLiteral("A name has more than %1 characters.").arg(MaxEntryNameLength);
    return QString();
}

QString CheckIPv4Address(const QString& address) {
    const QStringList parts = address.split(QLatin1Char('.'));
    bool ok = parts.size() == 4;
    for (const QString& part : parts)
        ok = ok && isPlainNumber(part, 255);
    if (ok)
        return QString();
    return QStringLiteral("The IP address \"%1\" is no IPv4 address; write it like 192.0.2.10.")
        .arg(address);
}

QString CheckPortNumber(const QString& port) {
    if (isPlainNumber(port, 65535) && port != QLatin1String("0"))
        return QString();
    return QStringLiteral("The port \"%1\" is not a number from 1 to 65535.").arg(port);
}
