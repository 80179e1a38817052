// The history file: its schema and upgrade, damaged files, paging and the
// limits, on a real SQLite file in a temporary program folder.

#include "history/EventStore.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <sys/stat.h>

namespace {

constexpr qint64 Day = 24LL * 60 * 60 * 1000;
constexpr qint64 T0 = 1'780'000'000'000;

HistoryEvent makeEvent(qint64 timeMs, EventKind kind, const QString& projector,
                       const QString& text = {}) {
    HistoryEvent e;
    e.timeMs = timeMs;
    e.kind = kind;
    e.projectorId = projector;
    e.projectorName = QStringLiteral("Name of ") + projector;
    e.groupName = QStringLiteral("Main Hall");
    e.text = text;
    return e;
}

} // namespace

class TestEventStore : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_home;
    QString file() const { return m_home->filePath(QStringLiteral("History.sqlite")); }
    QStringList brokenFiles() const {
        return QDir(m_home->path())
            .entryList({QStringLiteral("History.sqlite.broken-*")}, QDir::Files);
    }

  private slots:
    void init() { m_home = std::make_unique<QTemporaryDir>(); }

    void everyFieldComesBack() {
        EventStore store(file(), EventStore::Mode::Write);
        QCOMPARE(store.open(), EventStore::OpenResult::Opened);
        QCOMPARE(store.schemaVersion(), EventStore::SchemaVersion);
        std::vector<HistoryEvent> events;
        for (int k = 0; k < EventKindCount; ++k) {
            HistoryEvent e =
                makeEvent(T0 + k, EventKind(k), QStringLiteral("p%1").arg(k), "t'%_\\");
            e.value = k % 2 ? std::optional<qint64>(k * 1000) : std::nullopt;
            e.value2 = k;
            e.outcome = QStringLiteral("Completed");
            e.source = EventSource(k % 5);
            e.client = QStringLiteral("ops-token");
            events.push_back(e);
        }
        QVERIFY2(store.append(events) == EventStore::WriteResult::Written,
                 qPrintable(store.message()));
        EventStore reader(file(), EventStore::Mode::Read);
        QCOMPARE(reader.open(), EventStore::OpenResult::Opened);
        // Only the owner reads what was controlled and by whom.
        for (const char* suffix : {"", "-wal", "-shm"}) {
            struct stat info {};
            QCOMPARE(::stat(QFile::encodeName(file() + suffix).constData(), &info), 0);
            QCOMPARE(info.st_mode & 0777, 0600u);
        }
        const EventPage page = reader.page({}, std::nullopt, 100);
        QCOMPARE(page.events.size(), events.size());
        QVERIFY(!page.next);
        for (std::size_t n = 0; n < events.size(); ++n) {
            HistoryEvent back = page.events[events.size() - 1 - n];
            QVERIFY(back.id > 0);
            back.id = 0;
            QCOMPARE(back, events[n]);
        }
        QCOMPARE(EventKindFromName(EventKindName(EventKind::Hours)), EventKind::Hours);
    }

    void pagesAndFilters_data() {
        QTest::addColumn<EventFilter>("filter");
        QTest::addColumn<int>("expected");
        QTest::newRow("all") << EventFilter{} << 300;
        QTest::newRow("one kind") << EventFilter{{EventKind::Error}, {}, {}, {}, {}} << 100;
        QTest::newRow("two kinds")
            << EventFilter{{EventKind::Error, EventKind::Power}, {}, {}, {}, {}} << 200;
        QTest::newRow("projector") << EventFilter{{}, {"p1"}, {}, {}, {}} << 100;
        QTest::newRow("group of two") << EventFilter{{}, {"p1", "p2"}, {}, {}, {}} << 200;
        QTest::newRow("time range") << EventFilter{{}, {}, T0 + 100, T0 + 150, {}} << 50;
        QTest::newRow("text") << EventFilter{{}, {}, {}, {}, "lamp error"} << 100;
        QTest::newRow("like marks are text") << EventFilter{{}, {}, {}, {}, "%"} << 0;
        QTest::newRow("name") << EventFilter{{}, {}, {}, {}, "name of p0"} << 100;
        QTest::newRow("all at once")
            << EventFilter{{EventKind::Error}, {"p1", "p2"}, T0, T0 + 200, "lamp"} << 67;
    }
    void pagesAndFilters() {
        QFETCH(EventFilter, filter);
        QFETCH(int, expected);
        EventStore store(file(), EventStore::Mode::Write);
        QCOMPARE(store.open(), EventStore::OpenResult::Opened);
        std::vector<HistoryEvent> events;
        // Three projectors, every event in the same millisecond as another.
        const EventKind kinds[] = {EventKind::Power, EventKind::Error, EventKind::Input};
        for (int n = 0; n < 300; ++n)
            events.push_back(makeEvent(T0 + n / 2 * 2, kinds[n % 3],
                                       QStringLiteral("p%1").arg(n % 3),
                                       n % 3 == 1 ? "Lamp Error" : "On"));
        QCOMPARE(store.append(events), EventStore::WriteResult::Written);
        std::vector<HistoryEvent> seen;
        std::optional<EventCursor> cursor;
        int pages = 0;
        do {
            const EventPage page = store.page(filter, cursor, 7);
            QVERIFY(page.events.size() <= 7);
            seen.insert(seen.end(), page.events.begin(), page.events.end());
            cursor = page.next;
            if (cursor)
                QCOMPARE(EventCursor::fromText(cursor->toText()), cursor);
            QVERIFY(++pages < 100);
        } while (cursor);
        QCOMPARE(int(seen.size()), expected);
        for (std::size_t n = 1; n < seen.size(); ++n) {
            QVERIFY(seen[n - 1].timeMs > seen[n].timeMs ||
                    (seen[n - 1].timeMs == seen[n].timeMs && seen[n - 1].id > seen[n].id));
        }
    }

    void damagedFilesAreMovedAside_data() {
        QTest::addColumn<QByteArray>("damage");
        QTest::newRow("not a database") << QByteArray("this is no database\n").repeated(100);
        QTest::newRow("pages overwritten") << QByteArray("pages");
        QTest::newRow("someone else's database") << QByteArray("foreign");
    }
    void damagedFilesAreMovedAside() {
        QFETCH(QByteArray, damage);
        if (damage == "pages" || damage == "foreign") {
            {
                EventStore store(file(), EventStore::Mode::Write);
                QCOMPARE(store.open(), EventStore::OpenResult::Opened);
                std::vector<HistoryEvent> events;
                for (int n = 0; n < 2000; ++n)
                    events.push_back(makeEvent(T0 + n, EventKind::Power, "p", QString(100, u'x')));
                QCOMPARE(store.append(events), EventStore::WriteResult::Written);
            }
            if (damage == "foreign") {
                QVERIFY(QFile::remove(file()));
                auto db = QSqlDatabase::addDatabase("QSQLITE", "foreign");
                db.setDatabaseName(file());
                QVERIFY(db.open());
                QVERIFY(QSqlQuery(db).exec("CREATE TABLE photos(x)"));
                db.close();
                db = {};
                QSqlDatabase::removeDatabase("foreign");
            } else {
                QFile f(file());
                QVERIFY(f.open(QIODevice::ReadWrite));
                QVERIFY(f.size() > 40000);
                f.seek(4096);
                f.write(QByteArray(f.size() - 8192, '\x5a'));
            }
        } else {
            QFile f(file());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(damage);
        }
        EventStore store(file(), EventStore::Mode::Write);
        QCOMPARE(store.open(), EventStore::OpenResult::Replaced);
        QVERIFY(store.message().contains(QStringLiteral("moved aside as History.sqlite.broken-")));
        QCOMPARE(brokenFiles().size(), 1);
        QCOMPARE(store.count(), 0);
        QCOMPARE(store.append({makeEvent(T0, EventKind::ProgramStart, {})}),
                 EventStore::WriteResult::Written);
        store.close();
        QCOMPARE(store.open(), EventStore::OpenResult::Opened);
        QCOMPARE(store.count(), 1);
        QCOMPARE(brokenFiles().size(), 1);
    }

    // A file of the first schema is brought up to date in place, its events kept.
    void olderSchemaIsUpgraded() {
        {
            auto db = QSqlDatabase::addDatabase("QSQLITE", "old");
            db.setDatabaseName(file());
            QVERIFY(db.open());
            QSqlQuery q(db);
            for (const QString& statement : HistorySchemaSteps().front().statements)
                QVERIFY2(q.exec(statement), qPrintable(q.lastError().text()));
            QVERIFY(q.exec("INSERT INTO meta VALUES('version', '1')"));
            QVERIFY(q.exec("INSERT INTO events(time_ms, projector_id, kind, text) "
                           "VALUES(5, 'p9', 'error', 'Lamp Error')"));
            q = QSqlQuery();
            db.close();
            db = {};
            QSqlDatabase::removeDatabase("old");
        }
        EventStore store(file(), EventStore::Mode::Write);
        QCOMPARE(store.open(), EventStore::OpenResult::Opened);
        QCOMPARE(store.schemaVersion(), 2);
        HistoryEvent e = makeEvent(6, EventKind::Command, "p9", "Power Off");
        e.client = "ops";
        QCOMPARE(store.append({e}), EventStore::WriteResult::Written);
        const EventPage page = store.page({}, std::nullopt, 10);
        QCOMPARE(page.events.size(), 2u);
        QCOMPARE(page.events[0].client, QStringLiteral("ops"));
        QCOMPARE(page.events[1].text, QStringLiteral("Lamp Error"));
        QVERIFY(brokenFiles().isEmpty());
    }

    void aNewerSchemaIsLeftAlone() {
        {
            EventStore store(file(), EventStore::Mode::Write);
            QCOMPARE(store.open(), EventStore::OpenResult::Opened);
            auto db = QSqlDatabase::addDatabase("QSQLITE", "newer");
            db.setDatabaseName(file());
            QVERIFY(db.open());
            QVERIFY(QSqlQuery(db).exec("UPDATE meta SET value = '99' WHERE key = 'version'"));
            db.close();
            db = {};
            QSqlDatabase::removeDatabase("newer");
        }
        EventStore store(file(), EventStore::Mode::Write);
        QCOMPARE(store.open(), EventStore::OpenResult::Failed);
        QVERIFY(store.message().contains(QStringLiteral("newer version")));
        QVERIFY(brokenFiles().isEmpty());
        QVERIFY(QFile::exists(file()));
    }

    void retentionByDaysAndBySize() {
        EventStore store(file(), EventStore::Mode::Write);
        QCOMPARE(store.open(), EventStore::OpenResult::Opened);
        std::vector<HistoryEvent> events;
        for (int d = 0; d < 500; ++d)
            events.push_back(makeEvent(T0 + d * Day, EventKind::Hours, "p1"));
        QCOMPARE(store.append(events), EventStore::WriteResult::Written);
        const qint64 now = T0 + 499 * Day;
        QCOMPARE(store.prune(now, {400, 256}, 30, 2), 60);
        QCOMPARE(store.prune(now, {400, 256}), 99 - 60);
        QCOMPARE(store.count(), 401);
        QCOMPARE(store.page({}, std::nullopt, 1000).events.back().timeMs, now - 400 * Day);
        QCOMPARE(store.prune(now, {400, 256}), 0);

        events.clear();
        for (int n = 0; n < 30000; ++n)
            events.push_back(makeEvent(now + n, EventKind::Command, "p2", QString(100, u'c')));
        QCOMPARE(store.append(events), EventStore::WriteResult::Written);
        QVERIFY(store.usedBytes() > 3 * 1024 * 1024);
        while (store.prune(now, {400, 1}, 1000, 20) > 0) {
        }
        QVERIFY(store.usedBytes() <= 1024 * 1024);
        QVERIFY(store.count() > 0);
        // The oldest went first.
        const EventPage newest = store.page({}, std::nullopt, 1);
        QCOMPARE(newest.events.front().timeMs, now + 29999);
        // The freed pages went back to the file system.
        QVERIFY2(QFileInfo(file()).size() <= 1024 * 1024,
                 qPrintable(QString::number(QFileInfo(file()).size())));

        // Over the size, refused requests go before the fleet's events.
        events.clear();
        for (int n = 0; n < 20000; ++n) {
            HistoryEvent e = makeEvent(now + 30000 + n, EventKind::Command, {}, QString(100, u'r'));
            e.source = EventSource::Endpoint;
            e.outcome = QStringLiteral("401 unauthorized");
            events.push_back(e);
        }
        const qint64 fleetEvents = store.count();
        QCOMPARE(store.append(events), EventStore::WriteResult::Written);
        while (store.prune(now, {400, 1}, 1000, 20) > 0) {
        }
        qint64 refusalsLeft = 0;
        EventFilter refusals;
        refusals.text = QString(100, u'r');
        for (std::optional<EventCursor> at;;) {
            const EventPage page = store.page(refusals, at, EventStore::MaxPage);
            refusalsLeft += qint64(page.events.size());
            if (!(at = page.next))
                break;
        }
        QVERIFY(refusalsLeft < 20000);
        QCOMPARE(store.count() - refusalsLeft, fleetEvents);
    }

    void hoursOfOneProjector() {
        EventStore store(file(), EventStore::Mode::Write);
        QCOMPARE(store.open(), EventStore::OpenResult::Opened);
        std::vector<HistoryEvent> events;
        for (int d = 0; d < 10; ++d) {
            HistoryEvent e = makeEvent(T0 + d * Day, EventKind::Hours, d % 2 ? "a" : "b");
            e.value = 100 + d;
            e.value2 = 50 + d;
            e.text = LampHoursText({100 + d, 90});
            events.push_back(e);
            events.push_back(makeEvent(T0 + d * Day, EventKind::Power, "a"));
        }
        QCOMPARE(store.append(events), EventStore::WriteResult::Written);
        const std::vector<HoursRecord> rows = store.hoursSince("a", T0 + 2 * Day);
        QCOMPARE(rows.size(), 4u);
        QCOMPARE(rows.front().timeMs, T0 + 3 * Day);
        QCOMPARE(rows.front().lamp, 103);
        QCOMPARE(rows.front().filter, 53);
        QCOMPARE(rows.front().lamps, QList<qint32>({103, 90}));
    }

    void limitsFromSettings_data() {
        QTest::addColumn<QString>("days");
        QTest::addColumn<QString>("mib");
        QTest::addColumn<int>("expectedDays");
        QTest::addColumn<int>("expectedMiB");
        QTest::newRow("absent") << ""
                                << "" << 400 << 256;
        QTest::newRow("set") << " 30 "
                             << "64" << 30 << 64;
        QTest::newRow("nonsense") << "many"
                                  << "-5" << 400 << 256;
        QTest::newRow("zero") << "0"
                              << "0" << 400 << 256;
    }
    void limitsFromSettings() {
        QFETCH(QString, days);
        QFETCH(QString, mib);
        const HistoryLimits limits = HistoryLimitsFrom(days, mib);
        QTEST(limits.days, "expectedDays");
        QTEST(limits.maxMiB, "expectedMiB");
    }

    void cursorTexts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("good") << "1780000000000.42" << true;
        QTest::newRow("no id") << "1780000000000" << false;
        QTest::newRow("words") << "a.b" << false;
        QTest::newRow("zero id") << "5.0" << false;
        QTest::newRow("three parts") << "1.2.3" << false;
    }
    void cursorTexts() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        const std::optional<EventCursor> cursor = EventCursor::fromText(text);
        QCOMPARE(cursor.has_value(), valid);
        if (cursor)
            QCOMPARE(cursor->toText(), text);
    }
};

QTEST_GUILESS_MAIN(TestEventStore)
#include "tst_eventstore.moc"
