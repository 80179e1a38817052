#include "history/HistoryTime.h"

#include <QDateTime>

std::optional<qint64> HistoryTimeFrom(const QString& text, const QTimeZone& zone) {
    const QString trimmed = text.trimmed();
    if (trimmed.size() == 10) {
        const QDate date = QDate::fromString(trimmed, Qt::ISODate);
        if (!date.isValid())
            return std::nullopt;
        return QDateTime(date, QTime(0, 0), zone).toMSecsSinceEpoch();
    }
    // A date alone is taken above: here the time must be there.
    if (!trimmed.contains(u'T'))
        return std::nullopt;
    const QDateTime time = QDateTime::fromString(trimmed, Qt::ISODateWithMs);
    if (!time.isValid())
        return std::nullopt;
    if (time.timeSpec() == Qt::LocalTime)
        return QDateTime(time.date(), time.time(), zone).toMSecsSinceEpoch();
    return time.toMSecsSinceEpoch();
}

QString HistoryTimeText(qint64 timeMs) {
    return QDateTime::fromMSecsSinceEpoch(timeMs, Qt::UTC).toString(Qt::ISODateWithMs);
}
