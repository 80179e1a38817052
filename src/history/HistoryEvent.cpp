#include "history/HistoryEvent.h"

#include <array>

namespace {

const std::array<QString, EventKindCount> KindNames = {
    QStringLiteral("power"),           QStringLiteral("input"),
    QStringLiteral("error"),           QStringLiteral("warning"),
    QStringLiteral("disconnect"),      QStringLiteral("reconnect"),
    QStringLiteral("auth-error"),      QStringLiteral("command"),
    QStringLiteral("schedule-start"),  QStringLiteral("schedule-stop"),
    QStringLiteral("schedule-action"), QStringLiteral("mail-queued"),
    QStringLiteral("mail-sent"),       QStringLiteral("mail-failed"),
    QStringLiteral("mail-dropped"),    QStringLiteral("program-start"),
    QStringLiteral("program-stop"),    QStringLiteral("hours"),
    QStringLiteral("schedule-missed"),
};

const std::array<QString, 5> SourceNames = {
    QString(),
    QStringLiteral("window"),
    QStringLiteral("service"),
    QStringLiteral("schedule"),
    QStringLiteral("endpoint"),
};

} // namespace

QString EventKindName(EventKind kind) {
    return KindNames[std::size_t(kind)];
}

std::optional<EventKind> EventKindFromName(const QString& name) {
    for (std::size_t k = 0; k < KindNames.size(); ++k) {
        if (KindNames[k] == name)
            return EventKind(k);
    }
    return std::nullopt;
}

QString EventSourceName(EventSource source) {
    return SourceNames[std::size_t(source)];
}

EventSource EventSourceFromName(const QString& name) {
    for (std::size_t s = 1; s < SourceNames.size(); ++s) {
        if (SourceNames[s] == name)
            return EventSource(s);
    }
    return EventSource::None;
}

QString LampHoursText(const QList<qint32>& hours) {
    QStringList parts;
    for (qint32 h : hours)
        parts << QString::number(h);
    return parts.join(u',');
}

QList<qint32> LampHoursFromText(const QString& text) {
    QList<qint32> hours;
    for (const QString& part : text.split(u',', Qt::SkipEmptyParts)) {
        bool ok = false;
        const qint32 h = part.trimmed().toInt(&ok);
        if (ok)
            hours << h;
    }
    return hours;
}
