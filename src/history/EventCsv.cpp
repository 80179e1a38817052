#include "history/EventCsv.h"

#include "core/CsvText.h"

#include <QDateTime>

namespace {

QString Number(const std::optional<qint64>& value) {
    return value ? QString::number(*value) : QString();
}

} // namespace

QByteArray EventCsvHeader() {
    return CsvLine({QStringLiteral("Time"), QStringLiteral("Kind"), QStringLiteral("Group"),
                    QStringLiteral("Projector"), QStringLiteral("ProjectorId"),
                    QStringLiteral("Value"), QStringLiteral("Value2"), QStringLiteral("Text"),
                    QStringLiteral("Outcome"), QStringLiteral("Source"),
                    QStringLiteral("Client")});
}

QByteArray EventCsvLine(const HistoryEvent& event, const QTimeZone& zone) {
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(event.timeMs, zone);
    return CsvLine({time.toString(Qt::ISODate), EventKindName(event.kind), event.groupName,
                    event.projectorName, event.projectorId, Number(event.value),
                    Number(event.value2), event.text, event.outcome,
                    EventSourceName(event.source), event.client});
}
