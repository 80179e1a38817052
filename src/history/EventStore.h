#pragma once

#include "history/HistoryEvent.h"

#include <QString>
#include <QStringList>

class QSqlError;
class QSqlQuery;

#include <optional>
#include <vector>

// How long and how large the history may grow: Setting/HistoryDays and
// Setting/HistoryMaxMiB.
struct HistoryLimits {
    int days = 400;
    int maxMiB = 256;
};
// From the two settings' texts; an empty, unreadable or non-positive text
// keeps the default.
HistoryLimits HistoryLimitsFrom(const QString& daysText, const QString& maxMiBText);

// Which events a page holds. Every part left empty lets everything through.
struct EventFilter {
    QList<EventKind> kinds;
    // Events of these projectors only (a projector's, or every projector of
    // a group's); the program's own events have no projector.
    QStringList projectorIds;
    std::optional<qint64> fromMs; // inclusive, UTC
    std::optional<qint64> toMs;   // exclusive, UTC
    // Found, case-insensitively, in the name, the group, the text or the
    // outcome.
    QString text;
};

// Where the next page (older events) starts.
struct EventCursor {
    qint64 timeMs = 0;
    qint64 id = 0;
    QString toText() const; // "<timeMs>.<id>", what the endpoint hands out
    static std::optional<EventCursor> fromText(const QString& text);
    bool operator==(const EventCursor&) const = default;
};

struct EventPage {
    std::vector<HistoryEvent> events; // newest first
    std::optional<EventCursor> next;  // none on the last page
    // Why the page could not be read; empty when it was. An empty page with
    // no problem means that nothing matches.
    QString problem;
};

// One daily Hours event.
struct HoursRecord {
    qint64 timeMs = 0;
    qint32 lamp = -1;
    qint32 filter = -1;
    QList<qint32> lamps;
};

// One connection to the history file History.sqlite. The writing one is
// the only one that may change the file; a reading one serves views and
// queries beside it (the file is in WAL mode, so neither waits for the
// other). A connection belongs to the thread that opened it.
class EventStore {
  public:
    enum class Mode { Write, Read };
    static constexpr int SchemaVersion = 2;
    static constexpr int MaxPage = 1000;

    EventStore(QString filePath, Mode mode);
    ~EventStore();
    EventStore(const EventStore&) = delete;
    EventStore& operator=(const EventStore&) = delete;

    enum class OpenResult {
        Opened,
        // The file was damaged or not a database: the writing connection
        // moved it aside as History.sqlite.broken-<time> and started a new
        // one (message() says so). A reading one reports Failed instead.
        Replaced,
        // Could not be opened now (no driver, full disk, no access, a newer
        // version's file): message() says why; nothing was changed.
        Failed,
    };
    OpenResult open();
    void close();
    bool isOpen() const { return m_open; }
    const QString& filePath() const { return m_filePath; }
    // What the last open or write reported.
    const QString& message() const { return m_message; }
    int schemaVersion() const;

    enum class WriteResult { Written, DiskFull, Corrupt, Failed };
    // All of them in one transaction, or none of them. Ids are given in the
    // order of the list.
    WriteResult append(const std::vector<HistoryEvent>& events);
    // Moves a file found damaged while open aside and starts a new one.
    OpenResult replaceBroken();

    // Deletes the oldest events, at most `batch` at a time and `batches`
    // times: those older than limits.days before nowMs, then more while the
    // file's used size is over limits.maxMiB (refused control requests
    // before anything else). Then gives free pages back to the file system,
    // in small steps, until the file is within limits.maxMiB. The number
    // deleted.
    qint64 prune(qint64 nowMs, const HistoryLimits& limits, int batch = 1000, int batches = 20);
    // Bytes the events take in the file (its pages less the free ones).
    qint64 usedBytes() const;

    // At most `limit` (up to MaxPage) events newest first, older than
    // `after` when given; only that page is read from the file.
    EventPage page(const EventFilter& filter, const std::optional<EventCursor>& after,
                   int limit) const;
    // The projector's daily hours since sinceMs, oldest first.
    std::vector<HoursRecord> hoursSince(const QString& projectorId, qint64 sinceMs) const;
    qint64 count() const;
    // An Hours event of the projector is kept for the local day of timeMs.
    bool hasHoursOn(const QString& projectorId, qint64 timeMs) const;

  private:
    OpenResult openOnce(bool& broken);
    OpenResult moveAsideAndRecreate(const QString& why);
    bool configure();
    bool upgrade();
    void noteError(const QSqlError& error);
    bool exec(QSqlQuery& query, const QString& sql);
    // The statement's first value; empty when it failed.
    QString pragma(const QString& statement);
    WriteResult writeFailure() const;
    void giveBackFreePages(qint64 maxBytes);

    QString m_filePath;
    Mode m_mode;
    QString m_connection;
    bool m_open = false;
    QString m_message;
    int m_lastCode = 0; // SQLite's primary result code of the last failure
};

// The schema, step by step; upgrade() runs the steps a file has not had.
struct SchemaStep {
    int version;
    QStringList statements;
};
const std::vector<SchemaStep>& HistorySchemaSteps();
