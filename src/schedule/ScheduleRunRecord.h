#pragma once

#include <QDate>
#include <QString>
#include <QTime>

#include "schedule/LatestFileWriter.h"

#include <map>
#include <memory>
#include <optional>
#include <set>

// Which schedule entries have been dealt with (run, or found too late and
// recorded as missed), kept in a small file of the program folder so that a
// restart or a clock set back never runs an entry a second time that day.
// Only today's and yesterday's entries are kept. It also keeps the instant
// up to which the runner has looked after the schedule, so that a start can
// tell what came due while the program was not running.
class ScheduleRunRecord {
  public:
    explicit ScheduleRunRecord(QString path) : m_path(std::move(path)) {}
    ScheduleRunRecord(ScheduleRunRecord&&) = default;
    ScheduleRunRecord& operator=(ScheduleRunRecord&&) = default;

    const QString& path() const { return m_path; }

    // Reads the file. A missing file is an empty record; so is one that
    // cannot be read or understood, with the reason in `error`.
    bool load(QString* error = nullptr);
    // Hands the record to the file's writer (a worker thread): `always`, or
    // when an entry was marked or forgotten since the last load or save.
    void save(bool always);
    // Waits until every save is on disk.
    void flush();

    // Milliseconds since the epoch; nothing when the record is new. Not a
    // change of its own: it is written with the next save.
    std::optional<qint64> handledUpTo() const { return m_handledUpTo; }
    void setHandledUpTo(qint64 instant) { m_handledUpTo = instant; }
    // The schedule was last stopped by the operator, not by the program's end.
    bool stoppedByOperator() const { return m_stoppedByOperator; }
    void setStoppedByOperator(bool stopped) { m_stoppedByOperator = stopped; }

    // `node` names the tree node (its key and text).
    bool isDone(const QDate& day, const QTime& time, const QString& node) const;
    void markDone(const QDate& day, const QTime& time, const QString& node);
    // Forgets every day but `today` and the day before.
    void keepDays(const QDate& today);

  private:
    static QString entryKey(const QTime& time, const QString& node);

    QString m_path;
    std::optional<qint64> m_handledUpTo;
    bool m_stoppedByOperator = false;
    std::map<QDate, std::set<QString>> m_done; // "HH:mm node" per day
    bool m_changed = false;
    std::unique_ptr<LatestFileWriter> m_writer; // made at the first save
};
