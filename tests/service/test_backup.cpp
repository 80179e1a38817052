// norvik3d --backup, --restore and --check on real program folders.

#include "history/HistoryWriter.h"
#include "support/TestPrograms.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <functional>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int Wait = 60000;
constexpr QFile::Permissions OwnerOnly = QFile::ReadOwner | QFile::WriteOwner;
constexpr QFile::Permissions ForAll = OwnerOnly | QFile::ReadGroup | QFile::ReadOther;

struct Run {
    int code = -1;
    QByteArray out;
    QByteArray err;
};

// norvik3d run on a program folder; its error output gathers in log.
struct Norvik3d : QProcess {
    QByteArray log;
    Norvik3d(const QString& home, const QStringList& arguments) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("NORVIK3_HOME", home);
        setProcessEnvironment(env);
        start(TestBinary(QStringLiteral("norvik3d")), arguments);
    }
    bool said(const QByteArray& text) { return (log += readAllStandardError()).contains(text); }
    Run finish() {
        waitForFinished(Wait);
        if (state() != NotRunning || error() == FailedToStart)
            return {};
        said({});
        return {exitStatus() == NormalExit ? exitCode() : -1, readAllStandardOutput(), log};
    }
};

Run norvik3d(const QString& home, const QStringList& arguments) {
    return Norvik3d(home, arguments).finish();
}

// Whether a run ended with the code and its error output names each text.
bool exits(const Run& run, int code, const QByteArrayList& says = {}) {
    bool ok = run.code == code;
    for (const QByteArray& text : says)
        ok = ok && run.err.contains(text);
    if (!ok)
        qWarning("exit code %d, not %d; error output: %s", run.code, code, run.err.constData());
    return ok;
}

const QStringList ServiceArguments = {"--no-schedule", "--http-port", "0"};

void write(const QString& path, const QByteArray& content, QFile::Permissions permissions) {
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    file.write(content);
    file.close();
    QVERIFY(file.setPermissions(permissions));
}

// Every kind of file a backup takes, each as a start uses it.
struct HomeFile {
    const char* name;
    QByteArray content;
    QFile::Permissions permissions;
};
const HomeFile HomeFiles[] = {
    {"Norvik3.conf",
     "[PJInfo]\nPJNum=1\n1\\ProjectorName=Aula\n1\\ConnectionKind=1\n"
     "1\\IPAddress=127.0.0.1\n1\\PortNo=9\n[Setting]\nStatusCheckInterval=60\n",
     OwnerOnly},
    {"Norvik3.api-tokens",
     "grafana:read=897957fe05a30201ac46e94c623ab6e0044cf9f69f9df5e5f3d7bf7fb1042207\n", OwnerOnly},
    {"Norvik3.smtp-password", "mail-secret\n", OwnerOnly},
    {"Norvik3.pjlink-passwords", "127.0.0.1:4352=pj-secret\n", OwnerOnly},
    {"PJModel.txt", "[MODEL]\nCount=0\n", ForAll},
    {"Schedule/default.sch", "[Aula]\n07:30=Power ON\n", ForAll},
};

mode_t modeOf(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList entriesOf(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

// The events of a history file, or -1 when it cannot be read or their ids
// have a gap (a copy cut in the middle of a commit would have one).
qint64 gaplessEvents(const QString& path) {
    qint64 events = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), path);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
        QSqlQuery query(db);
        if (db.open() && query.exec("SELECT count(*), max(id) - min(id) + 1 FROM events") &&
            query.next() && query.value(0).toLongLong() == query.value(1).toLongLong())
            events = query.value(0).toLongLong();
    }
    QSqlDatabase::removeDatabase(path);
    return events;
}

// The manifest's lines written anew for the files as they are now, so that
// a restore gets past its integrity check to the start's checks.
void reseal(const QString& backup) {
    const QString manifest = backup + "/norvik3-backup.txt";
    QByteArray text;
    for (const QByteArray& line : contentOf(manifest).split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        const QByteArray name = parts.size() > 3 ? line.mid(line.indexOf(parts[3])) : QByteArray();
        QFile file(backup + '/' + QString::fromUtf8(name));
        if (line.startsWith("file=") && QFileInfo(file).isFile() &&
            file.open(QIODevice::ReadOnly)) {
            const QByteArray content = file.readAll();
            text += parts[0] + ' ' + QByteArray::number(content.size()) + ' ' +
                    QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex() + ' ' +
                    name + '\n';
        } else if (!line.isEmpty()) {
            text += line + '\n';
        }
    }
    write(manifest, text, OwnerOnly);
}

HistoryEvent powerEvent(int n) {
    HistoryEvent event;
    event.timeMs = QDateTime::currentMSecsSinceEpoch();
    event.projectorId = QStringLiteral("aula");
    event.projectorName = QStringLiteral("Aula");
    event.kind = EventKind::Power;
    event.value = n % 2;
    event.text = n % 2 ? QStringLiteral("ON") : QStringLiteral("STANDBY");
    return event;
}

HistoryWriter::Options historyIn(const QString& home, std::chrono::milliseconds interval) {
    HistoryWriter::Options options;
    options.filePath = home + "/History.sqlite";
    options.interval = interval;
    return options;
}

// One way of breaking a file, given its path.
using Break = std::function<void(const QString& path)>;

Break chmodTo(QFile::Permissions permissions) {
    return [=](const QString& path) { QVERIFY(QFile::setPermissions(path, permissions)); };
}

Break append(const QByteArray& text) {
    return [=](const QString& path) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::Append) && file.write(text) == text.size());
    };
}

Break replacedBy(bool (*make)(const QString& path)) {
    return [=](const QString& path) { QVERIFY(QFile::remove(path) && make(path)); };
}

void intoALink(const QString& path) {
    QVERIFY(QFile::rename(path, path + ".real") && QFile::link(path + ".real", path));
}

// Where a row breaks its file: in the folder and its backup, or in the
// backup only, with or without a manifest made to fit.
constexpr int HomeAndBackup = 0, Backup = 1, BackupAsWritten = 2;

} // namespace

Q_DECLARE_METATYPE(Break)

class TestBackup : public QObject {
    Q_OBJECT

    QTemporaryDir tmp;

    QString fresh(const QString& name) {
        const QString path = tmp.filePath(name);
        QDir(path).removeRecursively();
        return path;
    }

    static void row(const char* name, const char* file, const char* says, const Break& breakIn,
                    int where = HomeAndBackup) {
        QTest::newRow(name) << QString(file) << QString(says) << breakIn << where;
    }

    QString filledHome(const QString& name) {
        const QString home = fresh(name);
        for (const HomeFile& file : HomeFiles)
            write(home + '/' + file.name, file.content, file.permissions);
        return home;
    }

  private slots:
    void backupDuringAFloodRestoresWhatAStartAccepts() {
        const QString home = filledHome("flood-home"), backup = fresh("flood-backup");
        qint64 before = 0;
        Run made;
        {
            HistoryWriter writer(historyIn(home, std::chrono::milliseconds(2)));
            int n = 0;
            for (; n < 20000; ++n)
                writer.record(powerEvent(n));
            QTRY_VERIFY_WITH_TIMEOUT((before = qint64(writer.committedCount())) == 20000, Wait);
            // The writer commits small batches all the time the backup runs.
            Norvik3d process(home, {"--backup", backup});
            QVERIFY(process.waitForStarted());
            for (; process.state() != QProcess::NotRunning; QTest::qWait(1))
                for (int i = 0; i < 20; ++i)
                    writer.record(powerEvent(n++));
            made = process.finish();
            QTRY_VERIFY_WITH_TIMEOUT(writer.pendingCount() == 0, Wait);
            QVERIFY2(qint64(writer.committedCount()) > before, "nothing was written meanwhile");
        }
        QVERIFY(exits(made, 0) && made.err.isEmpty() && made.out.contains("files, "));

        // Consistent: every event committed before it began, and no commit half copied.
        const qint64 copied = gaplessEvents(backup + "/History.sqlite");
        QVERIFY2(copied >= before, qPrintable(QString::number(copied)));
        QVERIFY(copied <= gaplessEvents(home + "/History.sqlite"));
        const QByteArray manifest = contentOf(backup + "/norvik3-backup.txt");
        QVERIFY(manifest.contains("\nevents=" + QByteArray::number(copied) + '\n'));
        QVERIFY(manifest.contains("program=norvik3d 3.0.0.4\n"));
        QCOMPARE(modeOf(backup), mode_t(0700));
        QCOMPARE(modeOf(backup + "/History.sqlite"), mode_t(0600));
        QCOMPARE(modeOf(backup + "/Norvik3.api-tokens"), mode_t(0600));
        QCOMPARE(modeOf(backup + "/Schedule/default.sch"), mode_t(0644));
        // A second backup never mixes into the first.
        QVERIFY(exits(norvik3d(home, {"--backup", backup}), 1, {"not empty"}));

        // Onto a folder that has moved on: a schedule made since, the
        // journal of another history.
        const QString target = fresh("flood-target");
        write(target + "/Schedule/since.sch", "[Aula]\n08:00=Power OFF\n", ForAll);
        write(target + "/Norvik3.conf", "[Setting]\nStatusCheckInterval=5\n", OwnerOnly);
        write(target + "/History.sqlite-wal", "not the journal of the restored history", OwnerOnly);
        const Run restored = norvik3d(target, {"--restore", backup});
        QVERIFY(exits(restored, 0) &&
                restored.out.contains(QByteArray::number(copied) + " events"));
        for (const HomeFile& file : HomeFiles) {
            QCOMPARE(contentOf(target + '/' + file.name), file.content);
            QCOMPARE(modeOf(target + '/' + file.name), modeOf(home + '/' + file.name));
        }
        QVERIFY(!QFile::exists(target + "/Schedule/since.sch"));
        QVERIFY(!QFile::exists(target + "/History.sqlite-wal"));
        QCOMPARE(gaplessEvents(target + "/History.sqlite"), copied);
        QCOMPARE(QDir(target).entryList({"*norvik3-*"}, QDir::AllEntries | QDir::Hidden),
                 QStringList());

        QVERIFY(exits(norvik3d(target, {"--check"}), 0));
        // A start takes the restored folder as it is, and records into it.
        Norvik3d service(target, ServiceArguments);
        QTRY_VERIFY_WITH_TIMEOUT(service.said("started on"), Wait);
        service.terminate();
        const Run stopped = service.finish();
        QVERIFY(exits(stopped, 0) && !stopped.err.contains("warning") &&
                !stopped.err.contains("damaged"));
        QCOMPARE(gaplessEvents(target + "/History.sqlite"), copied + 2); // its start and stop
    }

    void restoreWaitsForTheFolderToBeFree() {
        const QString home = filledHome("held-home"), backup = fresh("held-backup");
        QVERIFY(exits(norvik3d(home, {"--backup", backup}), 0));
        const QByteArray settings = "[Setting]\nStatusCheckInterval=7\n";
        write(home + "/Norvik3.conf", settings, OwnerOnly);

        Norvik3d service(home, ServiceArguments);
        QTRY_VERIFY_WITH_TIMEOUT(service.said("started on"), Wait);
        QVERIFY(exits(norvik3d(home, {"--restore", backup}), 1, {"in use by norvik3d"}));
        QCOMPARE(contentOf(home + "/Norvik3.conf"), settings);
        // A backup beside the running service is fine.
        QVERIFY(exits(norvik3d(home, {"--backup", fresh("held-second")}), 0));
        service.terminate();
        QVERIFY(exits(service.finish(), 0));

        QVERIFY(exits(norvik3d(home, {"--restore", backup}), 0));
        QVERIFY(contentOf(home + "/Norvik3.conf") != settings);
    }

    void aRestoreThatCannotFinishPutsTheOldFilesBack() {
        const QString home = filledHome("undo-home"), backup = fresh("undo-backup");
        QVERIFY(exits(norvik3d(home, {"--backup", backup}), 0));
        // The settings and secrets are replaced before the model file,
        // which cannot be: a folder stands in its place.
        const QString target = fresh("undo-target");
        QVERIFY(QDir().mkpath(target + "/PJModel.txt"));
        const QByteArray settings = "[Setting]\nStatusCheckInterval=3\n";
        write(target + "/Norvik3.conf", settings, OwnerOnly);
        write(target + "/Norvik3.api-tokens", "", OwnerOnly);
        QVERIFY(exits(norvik3d(target, {"--restore", backup}), 1, {"PJModel.txt"}));
        QCOMPARE(contentOf(target + "/Norvik3.conf"), settings);
        QCOMPARE(contentOf(target + "/Norvik3.api-tokens"), QByteArray());
        QCOMPARE(entriesOf(target), QStringList({"Norvik3.api-tokens", "Norvik3.conf",
                                                 "norvik3.lock", "PJModel.txt", "Schedule"}));
        QVERIFY(QDir(target + "/Schedule").isEmpty());
    }

    void brokenFilesAreRefused_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("says");
        QTest::addColumn<Break>("breakIn");
        QTest::addColumn<int>("where");
        row("settings line without =", "Norvik3.conf", "line 9", append("StatusHttpPort 9464\n"));
        row("settings a link", "Norvik3.conf", "is a link", intoALink);
        row("tokens readable by others", "Norvik3.api-tokens", "readable or writable by others",
            chmodTo(ForAll));
        row("tokens with a bad line", "Norvik3.api-tokens", "line 2, is skipped",
            append("booking:everything=abc\n"));
        row("PJLink passwords open to the group", "Norvik3.pjlink-passwords", "readable by others",
            chmodTo(OwnerOnly | QFile::ReadGroup));
        row("SMTP password readable by others", "Norvik3.smtp-password", "readable by others",
            chmodTo(ForAll));
        row("model file a folder", "PJModel.txt", "it is a folder",
            replacedBy([](const QString& path) { return QDir().mkdir(path); }));
        row("schedule file a FIFO", "Schedule/default.sch", "not a regular file",
            replacedBy([](const QString& path) {
                return ::mkfifo(QFile::encodeName(path).constData(), 0644) == 0;
            }));
        row(
            "a file cut short", "Norvik3.conf", "not as it was written",
            [](const QString& path) { QVERIFY(QFile::resize(path, 10)); }, BackupAsWritten);
        // What a plain copy of a file in WAL mode gives: a database without tables.
        row("a history copied while it was written", "History.sqlite", "not a history file",
            replacedBy([](const QString& path) { return QFile(path).open(QIODevice::WriteOnly); }),
            Backup);
        row(
            "a history that is no database", "History.sqlite", "History.sqlite cannot be used",
            [](const QString& path) { write(path, QByteArray(8192, 'x'), OwnerOnly); }, Backup);
        row(
            "no manifest", "norvik3-backup.txt", "it is no finished backup",
            [](const QString& path) { QVERIFY(QFile::remove(path)); }, BackupAsWritten);
    }

    // --check names the file and what is wrong with it; a restore of a
    // backup with it refuses it as a start would, and changes nothing.
    void brokenFilesAreRefused() {
        QFETCH(QString, file);
        QFETCH(QString, says);
        QFETCH(Break, breakIn);
        QFETCH(int, where);
        const QString home = filledHome("broken-home"), backup = fresh("broken-backup");
        HistoryWriter(historyIn(home, std::chrono::seconds(1))).record(powerEvent(1));
        QVERIFY(exits(norvik3d(home, {"--check"}), 0));
        QVERIFY(exits(norvik3d(home, {"--backup", backup}), 0));
        QByteArrayList named = {says.toUtf8()};
        if (where == HomeAndBackup) {
            breakIn(home + '/' + file);
            QVERIFY(
                exits(norvik3d(home, {"--check"}), 1, {(home + '/' + file).toUtf8(), named[0]}));
            named << (backup + '/' + file).toUtf8();
        }
        breakIn(backup + '/' + file);
        if (where != BackupAsWritten)
            reseal(backup);
        const QString target = fresh("broken-target");
        const QByteArray settings = "[Setting]\nStatusCheckInterval=9\n";
        write(target + "/Norvik3.conf", settings, OwnerOnly);
        QVERIFY(QFile::copy(home + "/History.sqlite", target + "/History.sqlite"));
        QVERIFY(exits(norvik3d(target, {"--restore", backup}), 1, named));
        QCOMPARE(contentOf(target + "/Norvik3.conf"), settings);
        QCOMPARE(entriesOf(target), QStringList({"History.sqlite", "Norvik3.conf"}));
        QCOMPARE(gaplessEvents(target + "/History.sqlite"), 1);
    }

    void checkRefusesAFolderWithNothingToCheck() {
        const QString home = fresh("empty-home");
        QVERIFY(exits(norvik3d(home, {"--check"}), 1,
                      {QFile::encodeName(home) + "/Norvik3.conf does not exist"}));
    }

    // A backup copied with wider modes restores with the modes it was made with.
    void restoreNeverWidensAMode() {
        const QString home = filledHome("mode-home"), backup = fresh("mode-backup");
        const QString target = fresh("mode-target");
        QVERIFY(exits(norvik3d(home, {"--backup", backup}), 0));
        QVERIFY(QFile::setPermissions(backup + "/Norvik3.conf", ForAll));
        QVERIFY(exits(norvik3d(target, {"--restore", backup}), 0));
        QCOMPARE(QFileInfo(target + "/Norvik3.conf").permissions() & ForAll, OwnerOnly);
    }

    void checkNamesACertificateItCannotServe() {
        const QString home = filledHome("tls-home");
        append("StatusHttpPort=9464\nStatusHttpCertificate=endpoint.pem\n"
               "StatusHttpKey=endpoint.key\n")(home + "/Norvik3.conf");
        QVERIFY(exits(norvik3d(home, {"--check"}), 1,
                      {"no HTTPS: the certificate " + QFile::encodeName(home) +
                       "/endpoint.pem cannot be read"}));
    }
};

QTEST_GUILESS_MAIN(TestBackup)
#include "test_backup.moc"
