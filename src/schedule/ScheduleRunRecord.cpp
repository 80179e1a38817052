#include "schedule/ScheduleRunRecord.h"

#include "platform/SafeFile.h"
#include "schedule/ScheduleFiles.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// Two days of a large fleet's entries stay far below this.
constexpr qint64 MaxRecordBytes = 4 * 1024 * 1024;

const QString HandledKey = QStringLiteral("handledUpTo");
const QString DaysKey = QStringLiteral("days");
const QString StoppedKey = QStringLiteral("stoppedByOperator");

} // namespace

QString ScheduleRunRecord::entryKey(const QTime& time, const QString& node) {
    return ScheduleTimeKey(time) + QLatin1Char(' ') + node;
}

bool ScheduleRunRecord::load(QString* error) {
    flush();
    m_handledUpTo.reset();
    m_stoppedByOperator = false;
    m_done.clear();
    m_changed = false;
    QString reason;
    const std::optional<QByteArray> bytes = ReadRegularFile(m_path, &reason, MaxRecordBytes);
    if (!bytes) {
        if (error)
            *error = reason;
        return reason.isEmpty();
    }
    QJsonParseError parse{};
    const QJsonDocument document = QJsonDocument::fromJson(*bytes, &parse);
    if (!document.isObject()) {
        if (error)
            *error = m_path + QStringLiteral(": not a record of schedule runs (") +
                     parse.errorString() + QLatin1Char(')');
        return false;
    }
    const QJsonObject root = document.object();
    if (root.value(HandledKey).isDouble())
        m_handledUpTo = qint64(root.value(HandledKey).toDouble());
    m_stoppedByOperator = root.value(StoppedKey).toBool();
    const QJsonObject days = root.value(DaysKey).toObject();
    for (auto day = days.begin(); day != days.end(); ++day) {
        const QDate date = QDate::fromString(day.key(), Qt::ISODate);
        if (!date.isValid())
            continue;
        std::set<QString>& done = m_done[date];
        for (const QJsonValue& entry : day.value().toArray()) {
            if (entry.isString())
                done.insert(entry.toString());
        }
    }
    return true;
}

void ScheduleRunRecord::save(bool always) {
    if (!m_changed && !always)
        return;
    QJsonObject days;
    for (const auto& [date, done] : m_done) {
        QJsonArray entries;
        for (const QString& entry : done)
            entries.append(entry);
        days.insert(date.toString(Qt::ISODate), entries);
    }
    QJsonObject root;
    if (m_handledUpTo)
        root.insert(HandledKey, double(*m_handledUpTo));
    root.insert(StoppedKey, m_stoppedByOperator);
    root.insert(DaysKey, days);
    if (!m_writer)
        m_writer = std::make_unique<LatestFileWriter>(m_path);
    m_writer->write(QJsonDocument(root).toJson(QJsonDocument::Compact) + '\n');
    m_changed = false;
}

void ScheduleRunRecord::flush() {
    if (m_writer)
        m_writer->flush();
}

bool ScheduleRunRecord::isDone(const QDate& day, const QTime& time, const QString& node) const {
    const auto found = m_done.find(day);
    return found != m_done.end() && found->second.count(entryKey(time, node)) > 0;
}

void ScheduleRunRecord::markDone(const QDate& day, const QTime& time, const QString& node) {
    m_changed = m_done[day].insert(entryKey(time, node)).second || m_changed;
}

void ScheduleRunRecord::keepDays(const QDate& today) {
    const QDate yesterday = today.addDays(-1);
    for (auto it = m_done.begin(); it != m_done.end();) {
        if (it->first == today || it->first == yesterday) {
            ++it;
        } else {
            it = m_done.erase(it);
            m_changed = true;
        }
    }
}
