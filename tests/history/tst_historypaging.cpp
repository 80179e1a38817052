// A page deep in a long history costs what the first page costs: the query
// seeks to its cursor through the index rather than walking the newer
// events. Counted in the database pages SQLite looks up for it, read from
// the SQLite library that Qt's driver already loaded.

#include "history/PageInPieces.h"
#include "support/HistoryFixture.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QTemporaryDir>
#include <QtTest>

#include <dlfcn.h>

namespace {

// SQLite's own numbers for sqlite3_db_status.
constexpr int CacheHit = 7;
constexpr int CacheMiss = 8;
using DbStatus = int (*)(void*, int, int*, int*, int);

} // namespace

class TestHistoryPaging : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    std::unique_ptr<SampleHistory> m_history;
    std::unique_ptr<EventStore> m_reader;
    void* m_handle = nullptr;
    DbStatus m_status = nullptr;

    // The pages looked up while one page of events is read.
    int pagesFor(const EventFilter& filter, const std::optional<EventCursor>& after, int limit,
                 std::size_t& events) {
        int current = 0;
        int highest = 0;
        m_status(m_handle, CacheHit, &current, &highest, 1);
        m_status(m_handle, CacheMiss, &current, &highest, 1);
        events = m_reader->page(filter, after, limit).events.size();
        int hits = 0;
        int misses = 0;
        m_status(m_handle, CacheHit, &hits, &highest, 0);
        m_status(m_handle, CacheMiss, &misses, &highest, 0);
        return hits + misses;
    }

  private slots:
    void initTestCase() {
        m_history = std::make_unique<SampleHistory>(
            m_home.filePath(QStringLiteral("History.sqlite")), 60000,
            QStringList{QStringLiteral("9d3f4c2e-1a6b-4f0e-8c7d-000000000001"),
                        QStringLiteral("9d3f4c2e-1a6b-4f0e-8c7d-000000000002")});
        QVERIFY2(m_history->problem.isEmpty(), qPrintable(m_history->problem));
        const QStringList before = QSqlDatabase::connectionNames();
        m_reader = std::make_unique<EventStore>(m_home.filePath(QStringLiteral("History.sqlite")),
                                                EventStore::Mode::Read);
        QCOMPARE(m_reader->open(), EventStore::OpenResult::Opened);
        QStringList added = QSqlDatabase::connectionNames();
        for (const QString& name : before)
            added.removeAll(name);
        QCOMPARE(added.size(), 1);
        const QVariant handle = QSqlDatabase::database(added.first(), false).driver()->handle();
        QCOMPARE(handle.typeName(), "sqlite3*");
        m_handle = *static_cast<void* const*>(handle.constData());
        void* library = dlopen("libsqlite3.so.0", RTLD_NOW | RTLD_NOLOAD);
        if (!library)
            QSKIP("Qt's SQLite driver does not use the system's libsqlite3");
        m_status = reinterpret_cast<DbStatus>(dlsym(library, "sqlite3_db_status"));
        QVERIFY(m_status);
    }

    void deepPagesSeek_data() {
        QTest::addColumn<EventFilter>("filter");
        QTest::addRow("every event") << EventFilter{};
        EventFilter kind;
        kind.kinds = {EventKind::Error};
        QTest::addRow("one kind") << kind;
        EventFilter projector;
        projector.projectorIds = {QStringLiteral("9d3f4c2e-1a6b-4f0e-8c7d-000000000001")};
        QTest::addRow("one projector") << projector;
    }

    void deepPagesSeek() {
        QFETCH(EventFilter, filter);
        std::size_t events = 0;
        const int first = pagesFor(filter, std::nullopt, 10, events);
        QCOMPARE(events, std::size_t(10));
        // Ten events from the oldest end: the cursor stands behind all others.
        const HistoryEvent& old = m_history->events[40];
        const int deep = pagesFor(filter, EventCursor{old.timeMs, old.id}, 10, events);
        QVERIFY(events > 0);
        QVERIFY2(
            deep <= 3 * first + 10,
            qPrintable(QStringLiteral("first page %1 pages, deep page %2").arg(first).arg(deep)));
    }

    // With its budget spent, each page holds what one piece found and a
    // cursor on: the chain still has every event once, in order.
    void pagesPastTheirBudgetChainToTheEnd_data() { deepPagesSeek_data(); }
    void pagesPastTheirBudgetChainToTheEnd() {
        QFETCH(EventFilter, filter);
        std::vector<qint64> whole;
        std::vector<qint64> cut;
        int shortPages = 0;
        std::optional<EventCursor> at;
        do {
            const EventPage page = m_reader->page(filter, at, EventStore::MaxPage);
            for (const HistoryEvent& e : page.events)
                whole.push_back(e.id);
            at = page.next;
        } while (at);
        do {
            const EventPage page =
                ReadPageWithin(*m_reader, filter, at, EventStore::MaxPage, QDeadlineTimer(0));
            QVERIFY(page.problem.isEmpty());
            for (const HistoryEvent& e : page.events)
                cut.push_back(e.id);
            shortPages += page.next && int(page.events.size()) < EventStore::MaxPage ? 1 : 0;
            at = page.next;
        } while (at);
        QCOMPARE(cut, whole);
        QVERIFY(shortPages > 0);
    }
};

QTEST_GUILESS_MAIN(TestHistoryPaging)
#include "tst_historypaging.moc"
