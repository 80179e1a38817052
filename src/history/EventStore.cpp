#include "history/EventStore.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <atomic>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcHistory, "norvik.history")

namespace {

constexpr int SqliteCorrupt = 11;
constexpr int SqliteFull = 13;
constexpr int SqliteNotADatabase = 26;
constexpr qint64 MsPerDay = 24LL * 60 * 60 * 1000;
// Free pages are reused by later events; only this much of them is kept
// (less when the file would be over its limit), the rest is given back to
// the file system.
constexpr qint64 FreeBytesKept = 8LL * 1024 * 1024;
// Pages given back per statement, and statements per prune: small steps,
// so the writer's next batch never waits long behind them.
constexpr qint64 VacuumStepPages = 1024;
constexpr int VacuumSteps = 16;
// Refused control requests (an endpoint command event whose outcome is a
// 4xx or 5xx status) go first when the file is over its size.
constexpr const char* RefusalsWhere =
    "kind = 'command' AND source = 'endpoint' AND outcome GLOB '[45][0-9][0-9]*'";

int primaryCode(const QSqlError& error) {
    return error.nativeErrorCode().toInt() & 0xff;
}

QString connectionName() {
    static std::atomic<quint64> next{0};
    return QStringLiteral("norvik-history-%1").arg(++next);
}

QVariant optionalValue(const std::optional<qint64>& value) {
    return value ? QVariant(*value) : QVariant(QMetaType(QMetaType::LongLong));
}

std::optional<qint64> optionalFrom(const QVariant& value) {
    if (value.isNull())
        return std::nullopt;
    return value.toLongLong();
}

// A null text would be bound as NULL; the columns hold '' for none.
QString nonNull(const QString& text) {
    return text.isNull() ? QStringLiteral("") : text;
}

// The history tells what was controlled and by whom: only its owner reads
// it. SQLite gives the -wal and -shm files the database file's mode.
void keepPrivate(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
    for (const char* suffix : {"", "-wal", "-shm"})
        ::chmod((name + suffix).constData(), 0600);
}

QString likePattern(const QString& text) {
    QString escaped = text;
    escaped.replace(u'\\', QStringLiteral("\\\\"))
        .replace(u'%', QStringLiteral("\\%"))
        .replace(u'_', QStringLiteral("\\_"));
    return u'%' + escaped + u'%';
}

} // namespace

HistoryLimits HistoryLimitsFrom(const QString& daysText, const QString& maxMiBText) {
    HistoryLimits limits;
    bool ok = false;
    const int days = daysText.trimmed().toInt(&ok);
    if (ok && days > 0)
        limits.days = days;
    const int maxMiB = maxMiBText.trimmed().toInt(&ok);
    if (ok && maxMiB > 0)
        limits.maxMiB = maxMiB;
    return limits;
}

QString EventCursor::toText() const {
    return QStringLiteral("%1.%2").arg(timeMs).arg(id);
}

std::optional<EventCursor> EventCursor::fromText(const QString& text) {
    const QStringList parts = text.split(u'.');
    if (parts.size() != 2)
        return std::nullopt;
    bool timeOk = false;
    bool idOk = false;
    const EventCursor cursor{parts[0].toLongLong(&timeOk), parts[1].toLongLong(&idOk)};
    if (!timeOk || !idOk || cursor.id <= 0)
        return std::nullopt;
    return cursor;
}

EventStore::EventStore(QString filePath, Mode mode)
    : m_filePath(std::move(filePath)), m_mode(mode), m_connection(connectionName()) {}

EventStore::~EventStore() {
    close();
    if (QSqlDatabase::contains(m_connection))
        QSqlDatabase::removeDatabase(m_connection);
}

void EventStore::close() {
    if (QSqlDatabase::contains(m_connection))
        QSqlDatabase::database(m_connection, false).close();
    m_open = false;
}

int EventStore::schemaVersion() const {
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (!query.exec(QStringLiteral("SELECT value FROM meta WHERE key = 'version'")) ||
        !query.next())
        return 0;
    return query.value(0).toInt();
}

EventStore::OpenResult EventStore::open() {
    bool broken = false;
    const OpenResult result = openOnce(broken);
    // Only the writer may replace the file: a reader beside it reports.
    if (!broken || m_mode == Mode::Read)
        return result;
    return moveAsideAndRecreate(m_message);
}

EventStore::OpenResult EventStore::replaceBroken() {
    return moveAsideAndRecreate(m_message);
}

EventStore::OpenResult EventStore::moveAsideAndRecreate(const QString& why) {
    close();
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = m_filePath + QStringLiteral(".broken-") + stamp;
    for (int n = 2; QFileInfo::exists(aside); ++n)
        aside = m_filePath + QStringLiteral(".broken-%1-%2").arg(stamp).arg(n);
    if (!QFile::rename(m_filePath, aside)) {
        m_message = QStringLiteral("%1 is damaged (%2) and cannot be moved aside; the history is "
                                   "not recorded")
                        .arg(m_filePath, why);
        return OpenResult::Failed;
    }
    // The log of the damaged file goes with it; it belongs to no new file.
    QFile::rename(m_filePath + QStringLiteral("-wal"), aside + QStringLiteral("-wal"));
    QFile::remove(m_filePath + QStringLiteral("-shm"));
    bool broken = false;
    if (openOnce(broken) != OpenResult::Opened)
        return OpenResult::Failed;
    m_message = QStringLiteral("%1 was damaged (%2): it was moved aside as %3 and a new history "
                               "was started")
                    .arg(m_filePath, why, QFileInfo(aside).fileName());
    qCWarning(lcHistory).noquote() << m_message;
    return OpenResult::Replaced;
}

EventStore::OpenResult EventStore::openOnce(bool& broken) {
    close();
    broken = false;
    m_lastCode = 0;
    if (m_mode == Mode::Read && !QFileInfo::exists(m_filePath)) {
        m_message = QStringLiteral("%1 does not exist yet").arg(m_filePath);
        return OpenResult::Failed;
    }
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))) {
        m_message = QStringLiteral("The SQLite driver of Qt SQL (libqt6sql6-sqlite) is not "
                                   "installed; the history is not recorded");
        return OpenResult::Failed;
    }
    if (m_mode == Mode::Write)
        keepPrivate(m_filePath);
    if (!QSqlDatabase::contains(m_connection))
        QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    db.setDatabaseName(m_filePath);
    db.setConnectOptions(m_mode == Mode::Write ? QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000")
                                               : QStringLiteral("QSQLITE_BUSY_TIMEOUT=200"));
    if (!db.open()) {
        noteError(db.lastError());
    } else if (configure() && upgrade()) {
        m_open = true;
        return OpenResult::Opened;
    }
    broken = m_lastCode == SqliteCorrupt || m_lastCode == SqliteNotADatabase;
    close();
    return OpenResult::Failed;
}

void EventStore::noteError(const QSqlError& error) {
    m_lastCode = primaryCode(error);
    m_message = m_lastCode == SqliteFull         ? QStringLiteral("the disk is full")
                : error.databaseText().isEmpty() ? error.text()
                                                 : error.databaseText();
}

bool EventStore::exec(QSqlQuery& query, const QString& sql) {
    if (query.exec(sql))
        return true;
    noteError(query.lastError());
    return false;
}

QString EventStore::pragma(const QString& statement) {
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (!exec(query, QStringLiteral("PRAGMA ") + statement))
        return {};
    return query.next() ? query.value(0).toString() : QStringLiteral("ok");
}

bool EventStore::configure() {
    if (m_mode == Mode::Read) {
        // Reads never write, so a view cannot take the writer's lock.
        return !pragma(QStringLiteral("query_only = 1")).isEmpty() &&
               !pragma(QStringLiteral("schema_version")).isEmpty();
    }
    // Takes effect only on a new file, before its first table: lets pages
    // freed by the size limit be given back to the file system.
    if (pragma(QStringLiteral("auto_vacuum = INCREMENTAL")).isEmpty())
        return false;
    const QString mode = pragma(QStringLiteral("journal_mode = WAL"));
    if (mode.compare(QStringLiteral("wal"), Qt::CaseInsensitive) != 0) {
        if (m_lastCode == 0)
            m_message = QStringLiteral("the file cannot be kept in WAL mode (%1)").arg(mode);
        return false;
    }
    // A commit is synced to the disk: at most one a second.
    if (pragma(QStringLiteral("synchronous = FULL")).isEmpty() ||
        pragma(QStringLiteral("journal_size_limit = 4194304")).isEmpty())
        return false;
    const QString check = pragma(QStringLiteral("quick_check(1)"));
    if (check.isEmpty())
        return false;
    if (check != QStringLiteral("ok")) {
        m_lastCode = SqliteCorrupt;
        m_message = check;
        return false;
    }
    return true;
}

bool EventStore::upgrade() {
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery query(db);
    if (!exec(query, QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'")))
        return false;
    QStringList tables;
    while (query.next())
        tables << query.value(0).toString();
    tables.removeAll(QStringLiteral("sqlite_sequence"));
    int version = 0;
    if (tables.contains(QStringLiteral("meta"))) {
        version = schemaVersion();
    } else if (!tables.isEmpty()) {
        m_lastCode = SqliteNotADatabase;
        m_message = QStringLiteral("not a history file");
        return false;
    }
    if (version > SchemaVersion) {
        m_message = QStringLiteral("written by a newer version of the program (schema %1); the "
                                   "history is not recorded")
                        .arg(version);
        return false;
    }
    if (version == SchemaVersion)
        return true;
    if (m_mode == Mode::Read) {
        m_message = QStringLiteral("not yet upgraded by the program");
        return false;
    }
    if (!db.transaction()) {
        noteError(db.lastError());
        return false;
    }
    for (const SchemaStep& step : HistorySchemaSteps()) {
        if (step.version <= version)
            continue;
        for (const QString& statement : step.statements) {
            if (!exec(query, statement)) {
                db.rollback();
                return false;
            }
        }
    }
    query.prepare(QStringLiteral("INSERT OR REPLACE INTO meta(key, value) VALUES('version', ?)"));
    query.addBindValue(QString::number(SchemaVersion));
    if (!query.exec()) {
        noteError(query.lastError());
        db.rollback();
        return false;
    }
    if (!db.commit()) {
        noteError(db.lastError());
        db.rollback();
        return false;
    }
    if (version > 0)
        qCInfo(lcHistory).noquote() << QStringLiteral("%1 upgraded from schema %2 to %3")
                                           .arg(m_filePath)
                                           .arg(version)
                                           .arg(SchemaVersion);
    return true;
}

EventStore::WriteResult EventStore::append(const std::vector<HistoryEvent>& events) {
    if (!m_open) {
        m_message = QStringLiteral("the history is not open");
        return WriteResult::Failed;
    }
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    m_lastCode = 0;
    if (!db.transaction()) {
        noteError(db.lastError());
        return writeFailure();
    }
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral(
        "INSERT INTO events(time_ms, projector_id, projector_name, group_name, kind, value, "
        "value2, text, outcome, source, client) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    for (const HistoryEvent& e : events) {
        insert.addBindValue(e.timeMs);
        insert.addBindValue(nonNull(e.projectorId));
        insert.addBindValue(nonNull(e.projectorName));
        insert.addBindValue(nonNull(e.groupName));
        insert.addBindValue(EventKindName(e.kind));
        insert.addBindValue(optionalValue(e.value));
        insert.addBindValue(optionalValue(e.value2));
        insert.addBindValue(nonNull(e.text));
        insert.addBindValue(nonNull(e.outcome));
        insert.addBindValue(nonNull(EventSourceName(e.source)));
        insert.addBindValue(nonNull(e.client));
        if (!insert.exec()) {
            noteError(insert.lastError());
            insert.finish();
            db.rollback();
            return writeFailure();
        }
    }
    insert.finish();
    if (!db.commit()) {
        noteError(db.lastError());
        db.rollback();
        return writeFailure();
    }
    return WriteResult::Written;
}

EventStore::WriteResult EventStore::writeFailure() const {
    if (m_lastCode == SqliteFull)
        return WriteResult::DiskFull;
    if (m_lastCode == SqliteCorrupt || m_lastCode == SqliteNotADatabase)
        return WriteResult::Corrupt;
    return WriteResult::Failed;
}

qint64 EventStore::usedBytes() const {
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    qint64 pages = 0;
    qint64 pageSize = 0;
    qint64 freePages = 0;
    if (query.exec(QStringLiteral("PRAGMA page_count")) && query.next())
        pages = query.value(0).toLongLong();
    if (query.exec(QStringLiteral("PRAGMA page_size")) && query.next())
        pageSize = query.value(0).toLongLong();
    if (query.exec(QStringLiteral("PRAGMA freelist_count")) && query.next())
        freePages = query.value(0).toLongLong();
    return (pages - freePages) * pageSize;
}

qint64 EventStore::prune(qint64 nowMs, const HistoryLimits& limits, int batch, int batches) {
    if (!m_open || m_mode != Mode::Write)
        return 0;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery query(db);
    const qint64 cutoff = nowMs - qint64(limits.days) * MsPerDay;
    const qint64 maxBytes = qint64(limits.maxMiB) * 1024 * 1024;
    const QString oldest = QStringLiteral("DELETE FROM events WHERE id IN (SELECT id FROM events "
                                          "WHERE %1 ORDER BY time_ms LIMIT ?)");
    qint64 deleted = 0;
    for (int n = 0; n < batches; ++n) {
        const bool expired = [&] {
            query.prepare(QStringLiteral("SELECT 1 FROM events WHERE time_ms < ? LIMIT 1"));
            query.addBindValue(cutoff);
            return query.exec() && query.next();
        }();
        query.finish();
        if (!expired && usedBytes() <= maxBytes)
            break;
        int rows = 0;
        // Over the size, refusals make room before any event of the fleet.
        for (const QString& which :
             expired ? QStringList{QStringLiteral("time_ms < ?")}
                     : QStringList{QString::fromLatin1(RefusalsWhere), QStringLiteral("1")}) {
            query.prepare(oldest.arg(which));
            if (expired)
                query.addBindValue(cutoff);
            query.addBindValue(batch);
            if (!query.exec()) {
                noteError(query.lastError());
                break;
            }
            rows = query.numRowsAffected();
            if (rows > 0)
                break;
        }
        deleted += rows;
        if (rows == 0)
            break;
    }
    giveBackFreePages(maxBytes);
    return deleted;
}

void EventStore::giveBackFreePages(qint64 maxBytes) {
    const qint64 pageSize = pragma(QStringLiteral("page_size")).toLongLong();
    if (pageSize <= 0)
        return;
    bool shrunk = false;
    for (int step = 0; step < VacuumSteps; ++step) {
        const qint64 used = usedBytes();
        const qint64 keptPages = std::clamp(maxBytes - used, 0LL, FreeBytesKept) / pageSize;
        const qint64 freePages = pragma(QStringLiteral("freelist_count")).toLongLong();
        if (freePages <= keptPages)
            break;
        // Qt runs the statement one step, and each step frees one page: as
        // many steps as pages, in one transaction.
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        if (!db.transaction())
            break;
        QSqlQuery query(db);
        const qint64 pages = std::min(freePages - keptPages, VacuumStepPages);
        bool done = query.prepare(QStringLiteral("PRAGMA incremental_vacuum(1)"));
        for (qint64 page = 0; done && page < pages; ++page)
            done = query.exec();
        query.finish();
        if (!done || !db.commit()) {
            noteError(done ? db.lastError() : query.lastError());
            db.rollback();
            break;
        }
        // A file made without incremental vacuum cannot give pages back.
        if (pragma(QStringLiteral("freelist_count")).toLongLong() >= freePages)
            break;
        shrunk = true;
    }
    // In WAL mode the file itself is cut when the log is written back.
    if (shrunk)
        pragma(QStringLiteral("wal_checkpoint(PASSIVE)"));
}

EventPage EventStore::page(const EventFilter& filter, const std::optional<EventCursor>& after,
                           int limit) const {
    EventPage result;
    if (!m_open) {
        result.problem = QStringLiteral("the history is not open");
        return result;
    }
    limit = std::clamp(limit, 1, MaxPage);
    QStringList where;
    QVariantList binds;
    if (!filter.kinds.isEmpty()) {
        QStringList marks;
        for (EventKind kind : filter.kinds) {
            marks << QStringLiteral("?");
            binds << EventKindName(kind);
        }
        where << QStringLiteral("kind IN (%1)").arg(marks.join(u','));
    }
    if (!filter.projectorIds.isEmpty()) {
        QStringList marks;
        for (const QString& id : filter.projectorIds) {
            marks << QStringLiteral("?");
            binds << id;
        }
        where << QStringLiteral("projector_id IN (%1)").arg(marks.join(u','));
    }
    if (filter.fromMs) {
        where << QStringLiteral("time_ms >= ?");
        binds << *filter.fromMs;
    }
    if (filter.toMs) {
        where << QStringLiteral("time_ms < ?");
        binds << *filter.toMs;
    }
    if (!filter.text.isEmpty()) {
        where << QStringLiteral(
            "(projector_name LIKE ? ESCAPE '\\' OR group_name LIKE ? ESCAPE "
            "'\\' OR text LIKE ? ESCAPE '\\' OR outcome LIKE ? ESCAPE '\\' OR client LIKE ? "
            "ESCAPE '\\')");
        const QString pattern = likePattern(filter.text);
        binds << pattern << pattern << pattern << pattern << pattern;
    }
    if (after) {
        // The bound on time_ms alone lets the index seek to the cursor; an
        // OR by itself would have it walk every newer event first.
        where << QStringLiteral("time_ms <= ? AND (time_ms < ? OR id < ?)");
        binds << after->timeMs << after->timeMs << after->id;
    }
    QString sql = QStringLiteral("SELECT id, time_ms, projector_id, projector_name, group_name, "
                                 "kind, value, value2, text, outcome, source, client FROM events");
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    sql += QStringLiteral(" ORDER BY time_ms DESC, id DESC LIMIT %1").arg(limit + 1);

    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.setForwardOnly(true);
    bool done = query.prepare(sql);
    if (done) {
        for (const QVariant& value : binds)
            query.addBindValue(value);
        done = query.exec();
    }
    if (!done) {
        const QSqlError error = query.lastError();
        result.problem = error.databaseText().isEmpty() ? error.text() : error.databaseText();
        qCWarning(lcHistory).noquote() << "History query failed:" << result.problem;
        return result;
    }
    while (query.next()) {
        if (int(result.events.size()) == limit) {
            const HistoryEvent& last = result.events.back();
            result.next = EventCursor{last.timeMs, last.id};
            break;
        }
        HistoryEvent e;
        e.id = query.value(0).toLongLong();
        e.timeMs = query.value(1).toLongLong();
        e.projectorId = query.value(2).toString();
        e.projectorName = query.value(3).toString();
        e.groupName = query.value(4).toString();
        const std::optional<EventKind> kind = EventKindFromName(query.value(5).toString());
        if (!kind)
            continue;
        e.kind = *kind;
        e.value = optionalFrom(query.value(6));
        e.value2 = optionalFrom(query.value(7));
        e.text = query.value(8).toString();
        e.outcome = query.value(9).toString();
        e.source = EventSourceFromName(query.value(10).toString());
        e.client = query.value(11).toString();
        result.events.push_back(std::move(e));
    }
    return result;
}

std::vector<HoursRecord> EventStore::hoursSince(const QString& projectorId, qint64 sinceMs) const {
    std::vector<HoursRecord> rows;
    if (!m_open)
        return rows;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.setForwardOnly(true);
    query.prepare(
        QStringLiteral("SELECT time_ms, value, value2, text FROM events WHERE "
                       "projector_id = ? AND kind = ? AND time_ms >= ? ORDER BY time_ms"));
    query.addBindValue(projectorId);
    query.addBindValue(EventKindName(EventKind::Hours));
    query.addBindValue(sinceMs);
    if (!query.exec())
        return rows;
    while (query.next()) {
        rows.push_back({query.value(0).toLongLong(),
                        query.value(1).isNull() ? -1 : query.value(1).toInt(),
                        query.value(2).isNull() ? -1 : query.value(2).toInt(),
                        LampHoursFromText(query.value(3).toString())});
    }
    return rows;
}

bool EventStore::hasHoursOn(const QString& projectorId, qint64 timeMs) const {
    if (!m_open)
        return false;
    const QDate day = QDateTime::fromMSecsSinceEpoch(timeMs).date();
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(QStringLiteral("SELECT 1 FROM events WHERE kind = ? AND projector_id = ? "
                                 "AND time_ms >= ? AND time_ms < ? LIMIT 1"));
    query.addBindValue(EventKindName(EventKind::Hours));
    query.addBindValue(projectorId);
    query.addBindValue(day.startOfDay().toMSecsSinceEpoch());
    query.addBindValue(day.addDays(1).startOfDay().toMSecsSinceEpoch());
    return query.exec() && query.next();
}

qint64 EventStore::count() const {
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (!m_open || !query.exec(QStringLiteral("SELECT count(*) FROM events")) || !query.next())
        return 0;
    return query.value(0).toLongLong();
}
