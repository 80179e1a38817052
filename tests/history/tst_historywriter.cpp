// The writer thread: batches commit in order, a bounded queue, a full disk
// (a small tmpfs) and a recording child killed with SIGKILL again and again.

#include "history/HistoryWriter.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <sys/mount.h>

using namespace std::chrono_literals;

namespace {

HistoryEvent numbered(qint64 n, const QString& run, int textSize = 10) {
    HistoryEvent e;
    e.timeMs = QDateTime::currentMSecsSinceEpoch();
    e.kind = EventKind::Power;
    e.projectorId = run;
    e.value = n;
    e.text = QString(textSize, u'e');
    return e;
}

// The values of a run's events, oldest first.
QList<qint64> values(EventStore& store, const QString& run) {
    QList<qint64> all;
    std::optional<EventCursor> cursor;
    do {
        const EventPage page = store.page({{}, {run}, {}, {}, {}}, cursor, EventStore::MaxPage);
        for (const HistoryEvent& e : page.events)
            all.prepend(*e.value);
        cursor = page.next;
    } while (cursor);
    return all;
}

bool isOneToN(const QList<qint64>& v) {
    for (qsizetype n = 0; n < v.size(); ++n) {
        if (v[n] != n + 1)
            return false;
    }
    return true;
}

} // namespace

class TestHistoryWriter : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_home;
    QString file() const { return m_home->filePath(QStringLiteral("History.sqlite")); }

  private slots:
    void init() { m_home = std::make_unique<QTemporaryDir>(); }

    void commitsInOrderAndOnStop() {
        {
            HistoryWriter writer({file(), {}, 1000, 50ms});
            QSignalSpy committed(&writer, &HistoryWriter::committed);
            for (int n = 1; n <= 300; ++n)
                writer.record(numbered(n, "a"));
            QTRY_COMPARE(writer.committedCount(), 300u);
            QVERIFY(!committed.isEmpty());
            QCOMPARE(committed.last().first().toULongLong(), 300u);
            for (int n = 301; n <= 310; ++n)
                writer.record(numbered(n, "a"));
        }
        EventStore store(file(), EventStore::Mode::Read);
        QCOMPARE(store.open(), EventStore::OpenResult::Opened);
        const QList<qint64> v = values(store, "a");
        QCOMPARE(v.size(), 310);
        QVERIFY(isOneToN(v));
    }

    // A second run on the same day, as after a restart, keeps the first
    // reading of the day's hours; another projector's and another day's
    // are kept.
    void dailyHoursStayOnceADayAcrossRuns() {
        const auto hours = [](const QString& projector, qint64 timeMs, qint32 lamp) {
            HistoryEvent e;
            e.timeMs = timeMs;
            e.kind = EventKind::Hours;
            e.projectorId = projector;
            e.value = lamp;
            return e;
        };
        const qint64 noon = QDateTime(QDate(2026, 12, 8), QTime(12, 0)).toMSecsSinceEpoch();
        const qint64 day = 24LL * 3600 * 1000;
        for (const qint64 time : {noon, noon + 60'000}) {
            HistoryWriter writer({file(), {}, 1000, 20ms});
            writer.record(hours("a", time, int(time % 1000)));
            writer.record(hours("b", time, 7));
            writer.record(hours("a", time + day, 8));
        }
        EventStore store(file(), EventStore::Mode::Read);
        QCOMPARE(store.open(), EventStore::OpenResult::Opened);
        const std::vector<HoursRecord> a = store.hoursSince("a", 0);
        QCOMPARE(a.size(), 2u);
        QCOMPARE(a.front().timeMs, noon);
        QCOMPARE(a.back().timeMs, noon + day);
        QCOMPARE(store.hoursSince("b", 0).size(), 1u);
    }

    void theQueueIsBounded() {
        // A folder for a file cannot be written: nothing commits, and the
        // queue keeps the newest.
        const QString blocked = m_home->filePath("blocked");
        QVERIFY(QDir().mkpath(blocked + "/History.sqlite"));
        HistoryWriter writer({blocked + "/History.sqlite", {}, 50, 20ms});
        QSignalSpy problem(&writer, &HistoryWriter::problem);
        for (int n = 1; n <= 80; ++n)
            writer.record(numbered(n, "b"));
        QTRY_COMPARE(problem.size(), 1);
        QCOMPARE(writer.droppedCount(), 30u);
        QCOMPARE(writer.pendingCount(), 50u);
        QTest::qWait(100);
        QCOMPARE(problem.size(), 1);
        QCOMPARE(writer.committedCount(), 0u);
    }

    void aFullDiskStopsRecordingOnceAndResumes() {
        const QString mountPoint = m_home->filePath("small");
        QVERIFY(QDir().mkpath(mountPoint));
        const QByteArray point = QFile::encodeName(mountPoint);
        if (::mount("tmpfs", point.constData(), "tmpfs", 0, "size=4m") != 0)
            QSKIP("a tmpfs cannot be mounted here");
        const auto unmount = qScopeGuard([&] { ::umount2(point.constData(), MNT_DETACH); });
        const QString path = mountPoint + "/History.sqlite";
        {
            HistoryWriter writer({path, {}, 100000, 50ms});
            QSignalSpy problem(&writer, &HistoryWriter::problem);
            QSignalSpy recovered(&writer, &HistoryWriter::recovered);
            writer.record(numbered(1, "c"));
            QTRY_COMPARE(writer.committedCount(), 1u);

            QFile filler(mountPoint + "/filler");
            QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
            while (filler.write(QByteArray(4096, 'f')) > 0) {
            }
            filler.close();
            for (int n = 2; n <= 200; ++n)
                writer.record(numbered(n, "c", 5000));
            QTRY_COMPARE(problem.size(), 1);
            QVERIFY(problem.first().first().toString().contains("disk is full"));
            // Recording goes on being accepted while the disk is full.
            for (int n = 201; n <= 300; ++n)
                writer.record(numbered(n, "c", 5000));
            QTest::qWait(200);
            QCOMPARE(problem.size(), 1);
            QCOMPARE(writer.committedCount(), 1u);
            QCOMPARE(writer.pendingCount(), 299u);

            QVERIFY(filler.remove());
            QTRY_COMPARE(recovered.size(), 1);
            QTRY_COMPARE(writer.committedCount(), 300u);
            QCOMPARE(problem.size(), 1);
        }
        EventStore store(path, EventStore::Mode::Write);
        QCOMPARE(store.open(), EventStore::OpenResult::Opened);
        QVERIFY(isOneToN(values(store, "c")));
        QCOMPARE(store.count(), 300);
    }

    // Every kill leaves a file that opens, is whole, and holds every event
    // the child saw committed, in order and without gaps.
    void killedWhileRecording() {
        const QString recorder =
            QString::fromLocal8Bit(qgetenv("NORVIK3_BIN_DIR")) + "/history_recorder";
        QVERIFY(QFile::exists(recorder));
        for (int kill = 0; kill < 100; ++kill) {
            const QString run = QStringLiteral("run%1").arg(kill);
            QProcess child;
            child.start(recorder, {file(), run});
            QVERIFY(child.waitForStarted());
            QByteArray out;
            if (kill % 4 != 0) {
                QTRY_VERIFY_WITH_TIMEOUT(
                    (out += child.readAllStandardOutput()).contains("committed"), 20000);
            }
            QTest::qWait(QRandomGenerator::global()->bounded(150));
            child.kill();
            QVERIFY(child.waitForFinished());
            out += child.readAllStandardOutput();
            qint64 reported = 0;
            for (const QByteArray& line : out.split('\n')) {
                if (line.startsWith("committed "))
                    reported = line.mid(10).toLongLong();
            }
            EventStore store(file(), EventStore::Mode::Write);
            QCOMPARE(store.open(), EventStore::OpenResult::Opened);
            const QList<qint64> v = values(store, run);
            QVERIFY2(
                v.size() >= reported,
                qPrintable(QStringLiteral("%1: %2 of %3").arg(run).arg(v.size()).arg(reported)));
            QVERIFY2(isOneToN(v), qPrintable(run));
        }
        QVERIFY(QDir(m_home->path()).entryList({"History.sqlite.broken-*"}).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestHistoryWriter)
#include "tst_historywriter.moc"
