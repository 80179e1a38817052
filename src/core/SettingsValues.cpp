#include "core/SettingsValues.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <limits>

std::optional<QString> storedText(const QSettings& settings, const QString& key) {
    const QVariant value = settings.value(key);
    QString text = value.typeId() == QMetaType::QStringList
                       ? value.toStringList().join(QLatin1Char(','))
                       : value.toString();
    if (text.isEmpty())
        return std::nullopt;
    return text;
}

std::optional<qint16> storedInt16(const QSettings& settings, const QString& key) {
    const auto number = storedInt32(settings, key);
    if (!number || *number < std::numeric_limits<qint16>::min() ||
        *number > std::numeric_limits<qint16>::max())
        return std::nullopt;
    return qint16(*number);
}

std::optional<qint32> storedInt32(const QSettings& settings, const QString& key) {
    const auto text = storedText(settings, key);
    if (!text)
        return std::nullopt;
    bool ok = false;
    const qint32 number = text->trimmed().toInt(&ok);
    if (!ok)
        return std::nullopt;
    return number;
}

namespace {

// The leading decimal number of a text ("12abc" gives 12), if any.
std::optional<double> leadingNumber(const QString& text) {
    static const QRegularExpression number(
        QStringLiteral("^\\s*[+-]?(\\d+(\\.\\d*)?|\\.\\d+)([eE][+-]?\\d+)?"));
    const auto match = number.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(0).trimmed().toDouble();
}

} // namespace

std::optional<bool> storedFlag(const QSettings& settings, const QString& key) {
    const auto text = storedText(settings, key);
    if (!text)
        return std::nullopt;
    const auto number = leadingNumber(*text);
    return number && *number != 0.0;
}

namespace {

// The leading number rounded to a whole number (halves to the even
// neighbour), when it fits between low and high.
std::optional<qint32> roundedInRange(const QSettings& settings, const QString& key, double low,
                                     double high) {
    const auto text = storedText(settings, key);
    if (!text)
        return std::nullopt;
    const auto number = leadingNumber(*text);
    if (!number)
        return std::nullopt;
    const double rounded = std::nearbyint(*number);
    if (!(rounded >= low && rounded <= high))
        return std::nullopt;
    return qint32(rounded);
}

} // namespace

std::optional<qint16> storedRounded(const QSettings& settings, const QString& key) {
    const auto value = roundedInRange(settings, key, std::numeric_limits<qint16>::min(),
                                      std::numeric_limits<qint16>::max());
    return value ? std::optional<qint16>(qint16(*value)) : std::nullopt;
}

std::optional<qint32> storedRoundedInt32(const QSettings& settings, const QString& key) {
    return roundedInRange(settings, key, std::numeric_limits<qint32>::min(),
                          std::numeric_limits<qint32>::max());
}

int storedCount(QSettings& settings, const QString& group, const QString& countKey, int limit) {
    const auto stored = storedInt32(settings, group + QLatin1Char('/') + countKey);
    if (stored && *stored >= 0 && *stored <= limit)
        return *stored;
    settings.beginGroup(group);
    const QStringList present = settings.childGroups();
    settings.endGroup();
    int count = 0;
    while (count < limit && present.contains(QString::number(count + 1)))
        ++count;
    return count;
}

QString storedSiteName(const QSettings& settings) {
    return storedText(settings, QStringLiteral("Setting/SiteName")).value_or(QString()).trimmed();
}

int storedScheduleCatchUpMinutes(const QSettings& settings) {
    const auto minutes = storedInt32(settings, QStringLiteral("Setting/ScheduleCatchUpMinutes"));
    if (!minutes || *minutes < 0)
        return DefaultScheduleCatchUpMinutes;
    return std::min(*minutes, 24 * 60);
}

qint64 storedLogMaxBytes(const QSettings& settings) {
    constexpr qint64 MiB = 1024 * 1024;
    const std::optional<qint32> mib = storedInt32(settings, QStringLiteral("Setting/LogMaxMiB"));
    if (!mib || *mib < 1 || *mib > 1024 * 1024)
        return DefaultLogMaxMiB * MiB;
    return *mib * MiB;
}
