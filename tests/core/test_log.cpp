#include "core/AppState.h"
#include "core/CommLogs.h"
#include "core/SettingsValues.h"
#include "log/LogFileMaker.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <QScopeGuard>

#include <functional>
#include <memory>

#include <sys/mount.h>
#include <sys/stat.h>

namespace {

QStringList logFiles(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral("*.log")}, QDir::Files, QDir::Name);
}

void makeFile(const QString& path, qint64 size, const QDateTime& modified) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(size, 'x'));
    f.flush();
    QVERIFY(f.setFileTime(modified, QFileDevice::FileModificationTime));
}

QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestLog : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir m_dir;
    Clock m_clock;

    QString folder(const QString& name) const { return m_dir.filePath(name) + QLatin1Char('/'); }

  private slots:
    void init() { m_clock.set(QDateTime(QDate(2024, 1, 31), QTime(13, 5, 9))); }

    void pathAlwaysEndsWithOneSlash() {
        LogFileMaker log(QStringLiteral("/x/y"));
        QCOMPARE(log.Path(), QStringLiteral("/x/y/"));
        log.setPath(QStringLiteral("/x/z/"));
        QCOMPARE(log.Path(), QStringLiteral("/x/z/"));
        QCOMPARE(log.MaxCount(), qint16(32));
        QCOMPARE(log.MaxSize(), 0);
        QVERIFY(LogFileMaker().Path().endsWith(QStringLiteral("/NorvikLog/")));
    }

    void dailyFilesAndLineFormat() {
        const QString dir = folder(QStringLiteral("daily"));
        LogFileMaker log(dir);
        log.setClock(&m_clock);
        QVERIFY(log.WriteLog(QStringLiteral("TCP-Recv(3):[1D][00][00]"), 1));
        m_clock.advance(1000);
        QVERIFY(log.WriteLog(QStringLiteral("plain"), 0));
        QCOMPARE(contents(dir + QStringLiteral("20240131.log")),
                 QByteArray("[2024/01/31 13:05:09],TCP-Recv(3):[1D][00][00]\r\nplain\r\n"));
        m_clock.set(QDateTime(QDate(2024, 2, 1), QTime(0, 0, 1)));
        QVERIFY(log.WriteLog(QStringLiteral("next day"), 1));
        QCOMPARE(logFiles(dir),
                 (QStringList{QStringLiteral("20240131.log"), QStringLiteral("20240201.log")}));
        QCOMPARE(contents(dir + QStringLiteral("20240201.log")),
                 QByteArray("[2024/02/01 00:00:01],next day\r\n"));
    }

    void missingParentFolderFailsTheWrite() {
        LogFileMaker log(m_dir.filePath(QStringLiteral("no/such/folder")));
        log.setClock(&m_clock);
        QVERIFY(!log.WriteLog(QStringLiteral("lost"), 1));
    }

    void sizeLimitRollsOverToNumberedFiles() {
        const QString dir = folder(QStringLiteral("sized"));
        QVERIFY(QDir().mkpath(dir));
        LogFileMaker log(dir);
        log.setClock(&m_clock);
        log.setMaxSize(1000);
        makeFile(dir + QStringLiteral("240131_1.log"), 1500, m_clock.now());
        QVERIFY(log.WriteLog(QStringLiteral("a"), 1));
        QCOMPARE(QFileInfo(dir + QStringLiteral("240131_1.log")).size(), 1500);
        QVERIFY(QFileInfo::exists(dir + QStringLiteral("240131_2.log")));
        // A file at exactly the limit still takes the next line.
        makeFile(dir + QStringLiteral("240131_2.log"), 1000, m_clock.now());
        QVERIFY(log.WriteLog(QStringLiteral("b"), 1));
        QVERIFY(contents(dir + QStringLiteral("240131_2.log")).endsWith("],b\r\n"));
        QVERIFY(!QFileInfo::exists(dir + QStringLiteral("240131_3.log")));

        for (int n = 1; n <= 9; ++n)
            makeFile(dir + QStringLiteral("240131_%1.log").arg(n), 2000, m_clock.now());
        QVERIFY(log.WriteLog(QStringLiteral("c"), 1));
        QVERIFY(log.WriteLog(QStringLiteral("d"), 1));
        QVERIFY(contents(dir + QStringLiteral("240131_9.log"))
                    .endsWith("],c\r\n[2024/01/31 13:05:09],d\r\n"));
        QCOMPARE(logFiles(dir).size(), 9);
    }

    void countCleanUpDeletesTheOldest_data() {
        QTest::addColumn<int>("existing");
        QTest::addColumn<bool>("todayExists");
        QTest::addColumn<int>("left");
        QTest::newRow("32 files, append to one") << 32 << true << 31;
        QTest::newRow("32 files, new file") << 32 << false << 32;
        QTest::newRow("31 files, append to one") << 31 << true << 31;
        QTest::newRow("31 files, new day") << 31 << false << 31;
    }

    void countCleanUpDeletesTheOldest() {
        QFETCH(int, existing);
        QFETCH(bool, todayExists);
        QFETCH(int, left);
        const QString dir = folder(QStringLiteral("count-%1-%2").arg(existing).arg(todayExists));
        QVERIFY(QDir().mkpath(dir));
        const QDateTime base(QDate(2023, 6, 1), QTime(12, 0));
        // The oldest files are someone else's: they neither count nor go.
        makeFile(dir + QStringLiteral("notes.log"), 10, base.addDays(-100));
        makeFile(dir + QStringLiteral("20230101.log.bak"), 10, base.addDays(-150));
        makeFile(dir + QStringLiteral("notes.txt"), 10, base.addDays(-200));
        QVERIFY(
            QFile::link(dir + QStringLiteral("notes.log"), dir + QStringLiteral("20220101.log")));
        for (int i = 0; i < existing - (todayExists ? 1 : 0); ++i)
            makeFile(dir + QStringLiteral("2023%1.log").arg(1000 + i), 10, base.addDays(i));
        if (todayExists)
            makeFile(dir + QStringLiteral("20240131.log"), 10, base.addDays(50));
        const int foreignLogs = 2; // notes.log and the link
        QCOMPARE(logFiles(dir).size(), existing + foreignLogs);

        LogFileMaker log(dir);
        log.setClock(&m_clock);
        QVERIFY(log.WriteLog(QStringLiteral("line"), 1));
        QCOMPARE(logFiles(dir).size(), left + foreignLogs);
        // Ours, oldest first, go down to 31 when a line makes them 32.
        const bool oldestGone = existing + (todayExists ? 0 : 1) >= 32;
        QCOMPARE(QFileInfo::exists(dir + QStringLiteral("20231000.log")), !oldestGone);
        for (const char* foreign : {"notes.log", "20230101.log.bak", "notes.txt", "20220101.log"})
            QVERIFY2(QFileInfo(dir + QLatin1String(foreign)).isFile(), foreign);
        QVERIFY(QFileInfo::exists(dir + QStringLiteral("20240131.log")));
    }

    // The folder's own files stay within the size bound: the oldest days go first, someone
    // else's files neither count nor go, and a file being written that alone is past the bound
    // starts afresh.
    void sizeBoundDeletesTheOldestDays_data() {
        QTest::addColumn<qint64>("bound");
        QTest::addColumn<int>("today");
        QTest::addColumn<QStringList>("left");
        const QStringList all{"20240128.log", "20240129.log", "20240130.log", "20240131.log"};
        QTest::newRow("over: the oldest go") << qint64(100'000) << 10 << all.mid(1);
        QTest::newRow("exactly at the bound") << qint64(3 * 40'000 + 10 + 28) << 10 << all;
        QTest::newRow("within") << qint64(200'000) << 10 << all;
        QTest::newRow("no bound") << qint64(0) << 10 << all;
        QTest::newRow("today alone past it") << qint64(100'000) << 150'000 << QStringList{};
    }

    void sizeBoundDeletesTheOldestDays() {
        QFETCH(qint64, bound);
        QFETCH(int, today);
        QFETCH(QStringList, left);
        const QString dir = folder(QStringLiteral("bound-") + QTest::currentDataTag());
        QVERIFY(QDir().mkpath(dir));
        const QDateTime base(QDate(2024, 1, 28), QTime(23, 0));
        for (const int day : {1, 0, 2, 3}) // made out of order, dated in order of their names
            makeFile(dir + QStringLiteral("202401%1.log").arg(28 + day), day == 3 ? today : 40'000,
                     base.addDays(day));
        makeFile(dir + QStringLiteral("notes.log"), 500'000, base.addDays(-9));

        LogFileMaker log(dir);
        log.setClock(&m_clock);
        log.setMaxFolderBytes(bound);
        QVERIFY(log.WriteLog(QStringLiteral("line"), 1)); // 28 bytes with its stamp
        QCOMPARE(logFiles(dir), QStringList(left << QStringLiteral("notes.log")));
        QVERIFY(log.WriteLog(QStringLiteral("next"), 1));
        QVERIFY(contents(dir + QStringLiteral("20240131.log")).endsWith("],next\r\n"));
    }

    // The folder is looked at when a line goes to another file and after every CheckEveryBytes
    // written, never for every line.
    void boundIsCheckedPerFileAndAfterEveryMiB() {
        const qint64 every = LogFileMaker::CheckEveryBytes;
        const QString dir = folder(QStringLiteral("bound-checks"));
        QVERIFY(QDir().mkpath(dir));
        const QString old = dir + QStringLiteral("20240101.log");
        const auto makeOld = [&] { makeFile(old, 2 * every, m_clock.now().addDays(-30)); };
        LogFileMaker log(dir);
        log.setClock(&m_clock);
        log.setMaxFolderBytes(2 * every);
        QVERIFY(log.WriteLog(QStringLiteral("first"), 1));
        makeOld();
        QVERIFY(log.WriteLog(QStringLiteral("second"), 1));
        QVERIFY(QFileInfo::exists(old));
        const QString block(64 * 1024, QLatin1Char('x'));
        for (qint64 n = 0; n * block.size() < every; ++n)
            QVERIFY(log.WriteLog(block, 0));
        QVERIFY(!QFileInfo::exists(old));
        QVERIFY(QFileInfo(dir + QStringLiteral("20240131.log")).size() > every);

        makeOld();
        m_clock.set(QDateTime(QDate(2024, 2, 1), QTime(0, 0, 1)));
        QVERIFY(log.WriteLog(QStringLiteral("a new day"), 1));
        QVERIFY(!QFileInfo::exists(old));
        QCOMPARE(logFiles(dir), QStringList({"20240131.log", "20240201.log"}));
    }

    // LogMaxMiB as written (none: missing) and the bound it gives.
    void boundFromTheSettings() {
        const std::pair<const char*, qint64> rows[] = {
            {nullptr, 256}, {"64", 64},  {" 12 ", 12},     {"1048576", 1048576},
            {"0", 256},     {"-5", 256}, {"1048577", 256}, {"lots", 256}};
        for (const auto& [value, mib] : rows) {
            const QString file = m_dir.filePath(QStringLiteral("bound-[%1].conf").arg(value));
            if (value)
                QSettings(file, QSettings::IniFormat)
                    .setValue(QStringLiteral("Setting/LogMaxMiB"), QString(value));
            QCOMPARE(storedLogMaxBytes(QSettings(file, QSettings::IniFormat)), mib * 1024 * 1024);
        }
    }

    void commAndMailLogWriters() {
        const auto stateOwner = std::make_unique<AppState>();
        AppState& state = *stateOwner;
        state.clock.set(m_clock.now());
        const QString comm = folder(QStringLiteral("comm"));
        const QString mail = folder(QStringLiteral("mail"));
        state.CommLog = std::make_unique<LogFileMaker>(comm);
        state.CommLog->setClock(&state.clock);
        state.MailLog = std::make_unique<LogFileMaker>(mail);
        state.MailLog->setClock(&state.clock);

        state.CommLogEnabled = 0;
        WriteCommLog(state, QStringLiteral("not written"));
        QVERIFY(logFiles(comm).isEmpty());
        state.CommLogEnabled = 1;
        WriteCommLog(state, QString());
        QVERIFY(logFiles(comm).isEmpty());
        WriteCommLog(state, QStringLiteral("TCP-Send(1):") +
                                FormatFrameHex(QByteArray("\x06\x1D\xFF", 3)));
        QCOMPARE(contents(comm + QStringLiteral("20240131.log")),
                 QByteArray("[2024/01/31 13:05:09],TCP-Send(1):[06][1D][FF]\r\n"));

        WriteMailLog(state, QString());
        QVERIFY(logFiles(mail).isEmpty());
        WriteMailLog(state, QStringLiteral("MailSend Error!!:An address isn't specified."));
        QCOMPARE(
            contents(mail + QStringLiteral("20240131.log")),
            QByteArray("[2024/01/31 13:05:09],MailSend Error!!:An address isn't specified.\r\n"));
    }

    // Whatever keeps a line from its file, the mail log reports it once and
    // again when it is written again; a planted link is never followed.
    void failedWritesAreReportedOnceUntilTheyRecover_data() {
        QTest::addColumn<QString>("obstacle");
        for (const char* row :
             {"link as the file", "link as the folder", "fifo", "file as the folder", "full disk"})
            QTest::newRow(row) << QString::fromLatin1(row);
    }

    void failedWritesAreReportedOnceUntilTheyRecover() {
        QFETCH(QString, obstacle);
        const QString base = folder(QStringLiteral("fail-") + QString(obstacle).replace(' ', '-'));
        const QString mail = base + QStringLiteral("MailLog/");
        const QString folderPath = base + QStringLiteral("MailLog");
        const QString today = mail + QStringLiteral("20240131.log");
        const QString victim = base + QStringLiteral("victim.txt");
        const QString elsewhere = base + QStringLiteral("elsewhere");
        QVERIFY(QDir().mkpath(elsewhere));
        makeFile(victim, 5, m_clock.now());
        std::function<void()> repair;
        if (obstacle == QLatin1String("link as the file")) {
            QVERIFY(QDir().mkpath(mail));
            QVERIFY(QFile::link(victim, today));
            repair = [&] { QFile::remove(today); };
        } else if (obstacle == QLatin1String("link as the folder")) {
            QVERIFY(QFile::link(elsewhere, folderPath));
            repair = [&] { QFile::remove(folderPath); };
        } else if (obstacle == QLatin1String("fifo")) {
            QVERIFY(QDir().mkpath(mail));
            QCOMPARE(::mkfifo(QFile::encodeName(today).constData(), 0600), 0);
            repair = [&] { QFile::remove(today); };
        } else if (obstacle == QLatin1String("file as the folder")) {
            makeFile(folderPath, 5, m_clock.now());
            repair = [&] { QFile::remove(folderPath); };
        } else {
            QVERIFY(QDir().mkpath(mail));
            if (::mount("tmpfs", QFile::encodeName(mail).constData(), "tmpfs", 0, "size=64k") != 0)
                QSKIP("a tmpfs cannot be mounted here");
            QFile filler(mail + QStringLiteral("filler"));
            QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
            while (filler.write(QByteArray(4096, 'f')) > 0) {
            }
            filler.close();
            repair = [&] { QFile::remove(mail + QStringLiteral("filler")); };
        }
        const auto unmount = qScopeGuard([&] {
            if (obstacle == QLatin1String("full disk"))
                ::umount2(QFile::encodeName(mail).constData(), MNT_DETACH);
        });

        const auto stateOwner = std::make_unique<AppState>();
        AppState& state = *stateOwner;
        state.clock.set(m_clock.now());
        state.MailLog = std::make_unique<LogFileMaker>(mail);
        state.MailLog->setClock(&state.clock);
        QList<bool> reports;
        connect(&state.Health, &HealthReport::changed, this,
                [&](HealthCondition condition, bool active) {
                    if (condition == HealthCondition::LogWriteFailing)
                        reports << active;
                });
        WriteMailLog(state, QStringLiteral("first"));
        WriteMailLog(state, QStringLiteral("second"));
        QCOMPARE(reports, QList<bool>{true});
        QVERIFY(state.Health.entry(HealthCondition::LogWriteFailing)
                    .text.startsWith(QStringLiteral("Mail log not written: ")));
        QCOMPARE(contents(victim), QByteArray("xxxxx"));
        QVERIFY(QDir(elsewhere).isEmpty());

        repair();
        WriteMailLog(state, QStringLiteral("third"));
        QCOMPARE(reports, (QList<bool>{true, false}));
        QVERIFY(!state.Health.isActive(HealthCondition::LogWriteFailing));
        QVERIFY(contents(today).endsWith("],third\r\n"));
        QVERIFY(!contents(today).contains("first"));
    }

    void frameHex() {
        const QByteArray bytes("\x00\x0A\xBE", 3);
        QCOMPARE(FormatFrameHex(bytes), QStringLiteral("[00][0A][BE]"));
        QCOMPARE(FormatFrameHex(bytes, 2), QStringLiteral("[00][0A]"));
        QCOMPARE(FormatFrameHex(bytes, 0), QString());
    }
};

QTEST_GUILESS_MAIN(TestLog)
#include "test_log.moc"
