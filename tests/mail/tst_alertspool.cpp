// The alert queue's spool in a real MailQueue/ folder: its bound and the
// drop line, a restart that keeps the order, damaged files, a deletion that
// renumbers projectors, and the writer thread that follows the queue.

#include "support/MailTestState.h"

#include "core/Fleet.h"
#include "mail/AlertQueue.h"
#include "mail/AlertSpool.h"
#include "mail/SpoolWriter.h"

#include <QtTest>

#include <sys/mount.h>
#include <sys/stat.h>

namespace {

// Fixed-length texts, so that a byte limit counts alerts as well.
QString alertText(int projector, int n) {
    return QStringLiteral("t;%1;m%2").arg(projector).arg(n, 3, 10, QLatin1Char('0'));
}

QString fileName(quint64 id) {
    return QStringLiteral("%1.alert").arg(id, 20, 10, QLatin1Char('0'));
}

QStringList drain(AppState& state) {
    QStringList texts;
    while (!IsAlertQueueEmpty(state)) {
        texts << PeekAlertMessage(state);
        AdvanceAlertQueue(state);
    }
    // Their files gone too.
    if (state.Spool)
        state.Spool->flush();
    return texts;
}

} // namespace

class TestAlertSpool : public QObject {
    Q_OBJECT

    // A program folder with two projectors and its spool folder.
    std::unique_ptr<MailTestState> m_home;

    AppState& state() { return m_home->state; }
    QString spoolFolder() const { return m_home->home() + QStringLiteral("/MailQueue"); }
    // The alert files on disk as they are now...
    QStringList filesNow() const {
        return QDir(spoolFolder()).entryList({QStringLiteral("*.alert")}, QDir::Files, QDir::Name);
    }
    // ... and once the writer has caught up with the queue.
    QStringList spoolFiles() {
        if (state().Spool)
            state().Spool->flush();
        return filesNow();
    }
    // The spool of state() while a test has it open.
    SpoolHandle m_spool;

    // A state and its open spool, which goes first.
    struct Restarted {
        std::unique_ptr<AppState> state;
        SpoolHandle spool;
        AppState& operator*() const { return *state; }
        AppState* operator->() const { return state.get(); }
    };

    // The same folder and tree after a restart: a new state, the files read.
    Restarted restarted(const AlertSpool::Limits& limits) {
        if (state().Spool)
            state().Spool->flush();
        auto fresh = std::make_unique<AppState>();
        fresh->ProgramFolder = state().ProgramFolder;
        fresh->Projectors = state().Projectors;
        fresh->ProjectorCount = state().ProjectorCount;
        fresh->Nodes = state().Nodes;
        fresh->NodeProjector = state().NodeProjector;
        fresh->MailLog =
            std::make_unique<LogFileMaker>(m_home->home() + QStringLiteral("/MailLog"));
        SpoolHandle spool = OpenAlertSpool(*fresh, spoolFolder(), limits);
        return {std::move(fresh), std::move(spool)};
    }

  private slots:
    void init() { m_home = std::make_unique<MailTestState>(); }
    void cleanup() {
        // The writer finishes before its folder goes.
        m_spool.reset();
        m_home.reset();
    }

    void fullSpoolDropsTheOldestWaiting_data() {
        QTest::addColumn<int>("files");
        QTest::addColumn<qint64>("bytes");
        const qint64 size = AlertSpool::sizeOf({0, QString(), alertText(1, 0)});
        QTest::newRow("file limit") << 20 << qint64(1 << 20);
        QTest::newRow("byte limit") << 1000 << 20 * size;
    }

    void fullSpoolDropsTheOldestWaiting() {
        QFETCH(int, files);
        QFETCH(qint64, bytes);
        const AlertSpool::Limits limits{files, bytes};
        m_spool = OpenAlertSpool(state(), spoolFolder(), limits);
        for (int n = 0; n < 300; ++n)
            QVERIFY(EnqueueAlertMessage(state(), alertText(1, n)));

        // The ring's 256, the newest 20 waiting, the 24 between dropped.
        QStringList kept;
        for (int n = 0; n < 256; ++n)
            kept << alertText(1, n);
        for (int n = 280; n < 300; ++n)
            kept << alertText(1, n);
        QCOMPARE(AlertQueueLength(state()), 276);
        QCOMPARE(spoolFiles().size(), 276);
        QCOMPARE(state().Counters.AlertsDroppedQueueFull, quint64(24));
        QStringList dropLines;
        for (int n = 256; n < 280; ++n)
            dropLines << QStringLiteral("Time:t,Projector Name:Hall A,Model:VX-100,Connection:COM1,"
                                        "Message:m%1,Mail Dropped (queue full)")
                             .arg(n);
        QCOMPARE(m_home->mailLog(), dropLines);
        QVERIFY(state().Health.isActive(HealthCondition::SpoolDropping));

        // A restart finds them all, in order, and nothing more is dropped.
        const Restarted next = restarted(limits);
        QCOMPARE(AlertQueueLength(*next), 276);
        QCOMPARE(drain(*next), kept);
        QVERIFY(spoolFiles().isEmpty());
        QCOMPARE(next->Counters.AlertsDroppedQueueFull, quint64(0));

        // Room again once alerts are mailed (the ring's second round starts
        // with a slot less, so the first one mailed only makes up for it).
        AdvanceAlertQueue(state());
        QVERIFY(state().Health.isActive(HealthCondition::SpoolDropping));
        AdvanceAlertQueue(state());
        QVERIFY(!state().Health.isActive(HealthCondition::SpoolDropping));
    }

    void damagedFilesAreSetAside() {
        QVERIFY(QDir().mkpath(spoolFolder()));
        m_spool = OpenAlertSpool(state(), spoolFolder());
        QVERIFY(EnqueueAlertMessage(state(), alertText(1, 1)));
        QVERIFY(EnqueueAlertMessage(state(), alertText(2, 2)));
        const QStringList good = spoolFiles();
        QCOMPARE(good.size(), 2);
        const auto plant = [&](const QString& name, const QByteArray& content) {
            QFile file(spoolFolder() + QLatin1Char('/') + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        };
        plant(QStringLiteral("00000000000000000001.alert.norvik3-save-12-0123456789abcdef"),
              "cut off");
        plant(QStringLiteral("00000000000000000010.alert"), "garbage");
        plant(QStringLiteral("00000000000000000011.alert"), "norvik3-alert 1\np0\nno fields");
        plant(QStringLiteral("notes.txt"), "mine");
        const QString fifo = spoolFolder() + QStringLiteral("/00000000000000000012.alert");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);

        const Restarted next = restarted({});
        QCOMPARE(drain(*next), QStringList({alertText(1, 1), alertText(2, 2)}));
        QCOMPARE(QDir(spoolFolder()).entryList(QDir::Files | QDir::System),
                 QStringList({"00000000000000000010.alert.unreadable",
                              "00000000000000000011.alert.unreadable",
                              "00000000000000000012.alert.unreadable", "notes.txt"}));
        QCOMPARE(m_home->mailLog().filter(QStringLiteral("Mail Queue File Set Aside")).size(), 3);
        // New alerts never reuse the number of a file that was there.
        QVERIFY(EnqueueAlertMessage(*next, alertText(1, 3)));
        next->Spool->flush();
        QCOMPARE(filesNow(), QStringList{fileName(13)});
    }

    void fullDiskKeepsTheAlertInMemory() {
        QVERIFY(QDir().mkpath(spoolFolder()));
        const QByteArray mountPoint = QFile::encodeName(spoolFolder());
        // Each file takes a page of it, however small.
        if (::mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=256k") != 0)
            QSKIP("a tmpfs cannot be mounted here");
        const auto unmount = qScopeGuard([&] { ::umount2(mountPoint.constData(), MNT_DETACH); });
        QFile filler(spoolFolder() + QStringLiteral("/filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        while (filler.write(QByteArray(4096, 'f')) > 0) {
        }
        filler.close();

        m_spool = OpenAlertSpool(state(), spoolFolder());
        QStringList texts;
        for (int n = 1; n <= 12; ++n)
            QVERIFY(EnqueueAlertMessage(state(), texts.emplace_back(alertText(1, n))));
        QCOMPARE(PeekAlertMessage(state()), alertText(1, 1));
        // The writer's failures come back through the event loop, one line
        // for each alert however often its file is tried.
        QVERIFY(m_home->mailLog().isEmpty());
        QTRY_COMPARE(m_home->mailLog().size(), 12);
        QVERIFY(state().Health.activeNames().contains(QStringLiteral("spool_failing")));
        QVERIFY(spoolFiles().isEmpty());
        QCOMPARE(m_home->mailLog().filter(QStringLiteral("Mail Queue Not Saved (")).size(), 12);
        QCOMPARE(state().Spool->writer()->unsaved(), 12);
        // Nothing half written is left to be read at the next start.
        QCOMPARE(QDir(spoolFolder()).entryList(QDir::Files), QStringList{"filler"});
        // Mailed while the disk is full: those two are never written.
        AdvanceAlertQueue(state());
        AdvanceAlertQueue(state());
        texts.remove(0, 2);
        QCOMPARE(state().Spool->writer()->unsaved(), 10);

        // Room again: the files are written without another alert, and a
        // restart (as after a kill) finds every alert still queued.
        QVERIFY(filler.remove());
        QTRY_COMPARE_WITH_TIMEOUT(filesNow().size(), 10, 30000);
        QTRY_VERIFY(!state().Health.isActive(HealthCondition::SpoolFailing));
        QCOMPARE(m_home->mailLog().last(), QStringLiteral("Mail Queue Saved Again"));
        QCOMPARE(drain(*restarted({})), texts);
        QCOMPARE(state().Counters.AlertsDroppedQueueFull, quint64(0));
    }

    void theDiskFollowsTheQueue() {
        m_spool = OpenAlertSpool(state(), spoolFolder(), {20, 1 << 20});
        SpoolWriter& writer = *state().Spool->writer();
        writer.setHeld(true);
        for (int n = 0; n < 300; ++n)
            QVERIFY(EnqueueAlertMessage(state(), alertText(1, n)));
        // Queued in memory, bounds kept, while the disk has nothing yet; the
        // 24 alerts dropped for the bound are never written.
        QCOMPARE(AlertQueueLength(state()), 276);
        QCOMPARE(PeekAlertMessage(state()), alertText(1, 0));
        QCOMPARE(state().Counters.AlertsDroppedQueueFull, quint64(24));
        QVERIFY(filesNow().isEmpty());
        QCOMPARE(writer.waiting(), 276);
        // Mailed before it was written: its write is cancelled.
        AdvanceAlertQueue(state());
        QCOMPARE(writer.waiting(), 275);

        // The end of the spool writes everything queued, held or not.
        m_spool.reset();
        QStringList names;
        QStringList texts;
        for (int n = 1; n < 300; n += n == 255 ? 25 : 1) {
            names << fileName(quint64(n) + 1);
            texts << alertText(1, n);
        }
        QCOMPARE(filesNow(), names);
        QCOMPARE(drain(*restarted({})), texts);
    }

    void writerQueueIsBounded() {
        SpoolWriter writer(spoolFolder(), 2);
        writer.setHeld(true);
        const auto path = [this](quint64 id) { return spoolFolder() + '/' + fileName(id); };
        QVERIFY(writer.write(1, path(1), "one"));
        QVERIFY(writer.write(2, path(2), "two"));
        QVERIFY(!writer.write(3, path(3), "three"));
        writer.remove(1, path(1)); // not begun: room again
        QVERIFY(writer.write(3, path(3), "three"));
        writer.flush();
        QCOMPARE(filesNow(), QStringList({fileName(2), fileName(3)}));
        QCOMPARE(ReadRegularFile(path(3)), std::optional<QByteArray>("three"));
        // Held again: a written file's removal waits for the writer too.
        writer.remove(2, path(2));
        QCOMPARE(filesNow().size(), 2);
        writer.flush();
        QCOMPARE(filesNow(), QStringList{fileName(3)});
    }

    void deletionKeepsTheFilesConsistent() {
        AppState& s = state();
        s.ProjectorCount = 0;
        QString error;
        for (const char* name : {"One", "Two", "Three"})
            QVERIFY(AddProjector(
                        s, 1,
                        LanProjector(QString::fromLatin1(name), QStringLiteral("127.0.0.1"), {}),
                        &error) > 0);
        m_spool = OpenAlertSpool(s, spoolFolder());
        // The ring fills with projector 1's alerts; 2's and 3's wait.
        for (int n = 0; n < 256; ++n)
            QVERIFY(EnqueueAlertMessage(s, alertText(1, n)));
        for (int projector : {2, 3, 2, 3})
            QVERIFY(EnqueueAlertMessage(s, alertText(projector, 900 + projector)));
        QVERIFY(EnqueueAlertMessage(s, alertText(2, 0)));
        QCOMPARE(spoolFiles().size(), 261);

        DeleteProjectorNode(s, NodeOfProjector(s, 2));
        QCOMPARE(AlertQueueLength(s), 258);
        QCOMPARE(spoolFiles().size(), 258);
        // In memory and after a restart alike, Three's alerts are now 2's.
        const QStringList expected = [] {
            QStringList texts;
            for (int n = 0; n < 256; ++n)
                texts << alertText(1, n);
            return texts << alertText(2, 903) << alertText(2, 903);
        }();
        const Restarted next = restarted({});
        QCOMPARE(drain(*next), expected);
        QCOMPARE(drain(s), expected);
    }
};

QTEST_GUILESS_MAIN(TestAlertSpool)
#include "tst_alertspool.moc"
