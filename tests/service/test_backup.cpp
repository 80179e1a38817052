// norvik3d --backup, --restore and --check on real program folders: a
// backup taken while the history writer commits restores to a folder that
// a start accepts, with every event the backup holds; a restore waits for
// the folder to be free; each way a file can be broken is named by --check
// and refused by a restore.

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
#include <QUuid>

#include <functional>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int Wait = 60000;

struct Run {
    int code = -1;
    QByteArray out;
    QByteArray err;
};

QProcessEnvironment environmentFor(const QString& home) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("NORVIK3_HOME", home);
    return env;
}

Run norvik3d(const QString& home, const QStringList& arguments) {
    QProcess process;
    process.setProcessEnvironment(environmentFor(home));
    process.start(TestBinary(QStringLiteral("norvik3d")), arguments);
    Run run;
    if (!process.waitForFinished(Wait))
        return run;
    run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

void write(const QString& path, const QByteArray& content, QFile::Permissions permissions) {
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    file.write(content);
    file.close();
    QVERIFY(file.setPermissions(permissions));
}

constexpr QFile::Permissions OwnerOnly = QFile::ReadOwner | QFile::WriteOwner;
constexpr QFile::Permissions ForAll = OwnerOnly | QFile::ReadGroup | QFile::ReadOther;

// A folder with every kind of file a backup takes, each as a start uses it.
void fillHome(const QString& home) {
    const QDir dir(home);
    write(dir.filePath("Norvik3.conf"),
          "[PJInfo]\nPJNum=1\n1\\ProjectorName=Aula\n1\\ConnectionKind=1\n"
          "1\\IPAddress=127.0.0.1\n1\\PortNo=9\n[Setting]\nStatusCheckInterval=60\n",
          OwnerOnly);
    write(dir.filePath("Norvik3.api-tokens"),
          "grafana:read=897957fe05a30201ac46e94c623ab6e0044cf9f69f9df5e5f3d7bf7fb1042207\n",
          OwnerOnly);
    write(dir.filePath("Norvik3.smtp-password"), "mail-secret\n", OwnerOnly);
    write(dir.filePath("Norvik3.pjlink-passwords"), "127.0.0.1:4352=pj-secret\n", OwnerOnly);
    write(dir.filePath("PJModel.txt"), "[MODEL]\nCount=0\n", ForAll);
    QVERIFY(dir.mkpath("Schedule"));
    write(dir.filePath("Schedule/default.sch"), "[Aula]\n07:30=Power ON\n", ForAll);
}

mode_t modeOf(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The events of a history file: how many, and whether their ids run
// without a gap (a copy cut in the middle of a commit would have one).
struct EventIds {
    qint64 count = -1;
    bool gapless = false;
};
EventIds eventIdsOf(const QString& path) {
    EventIds ids;
    const QString connection = QUuid::createUuid().toString();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
        QSqlQuery query(db);
        if (db.open() && query.exec("SELECT count(*), min(id), max(id) FROM events") &&
            query.next()) {
            ids.count = query.value(0).toLongLong();
            ids.gapless =
                ids.count == 0 ||
                query.value(2).toLongLong() - query.value(1).toLongLong() + 1 == ids.count;
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return ids;
}

qint64 manifestEvents(const QString& backup) {
    for (const QByteArray& line : contentOf(backup + "/norvik3-backup.txt").split('\n'))
        if (line.startsWith("events="))
            return line.mid(7).toLongLong();
    return -1;
}

// The manifest's lines written anew for the files as they are now, so that
// a restore gets past its integrity check to the start's checks.
void reseal(const QString& backup) {
    QByteArray text;
    for (const QByteArray& line : contentOf(backup + "/norvik3-backup.txt").split('\n')) {
        if (!line.startsWith("file=")) {
            if (!line.isEmpty())
                text += line + '\n';
            continue;
        }
        const QList<QByteArray> parts = line.split(' ');
        const QString name = QString::fromUtf8(line.mid(line.indexOf(parts[3])));
        QFile file(backup + '/' + name);
        if (!QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly)) {
            text += line + '\n';
            continue;
        }
        const QByteArray content = file.readAll();
        text += parts[0] + ' ' + QByteArray::number(content.size()) + ' ' +
                QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex() + ' ' +
                name.toUtf8() + '\n';
    }
    write(backup + "/norvik3-backup.txt", text, OwnerOnly);
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

// One way of breaking a folder: what it does to a file, and what --check
// and a restore must then name.
using Break = std::function<void(const QString& folder)>;

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

  private slots:
    void backupDuringAFloodRestoresWhatAStartAccepts() {
        const QString home = fresh("flood-home");
        QVERIFY(QDir().mkpath(home));
        fillHome(home);
        const QString backup = fresh("flood-backup");
        qint64 before = 0;
        Run made;
        {
            HistoryWriter::Options options;
            options.filePath = home + "/History.sqlite";
            options.interval = std::chrono::milliseconds(2);
            HistoryWriter writer(options);
            int n = 0;
            for (; n < 20000; ++n)
                writer.record(powerEvent(n));
            QTRY_VERIFY_WITH_TIMEOUT(writer.committedCount() == 20000, Wait);
            before = qint64(writer.committedCount());
            // The writer commits small batches all the time the backup runs.
            QProcess process;
            process.setProcessEnvironment(environmentFor(home));
            process.start(TestBinary("norvik3d"), {"--backup", backup});
            QVERIFY(process.waitForStarted());
            while (process.state() != QProcess::NotRunning) {
                for (int i = 0; i < 20; ++i)
                    writer.record(powerEvent(n++));
                QTest::qWait(1);
            }
            made = {process.exitCode(), process.readAllStandardOutput(),
                    process.readAllStandardError()};
            QTRY_VERIFY_WITH_TIMEOUT(writer.pendingCount() == 0, Wait);
            QVERIFY2(qint64(writer.committedCount()) > before, "nothing was written meanwhile");
        }
        QVERIFY2(made.code == 0, made.err.constData());
        QVERIFY2(made.err.isEmpty(), made.err.constData());
        QVERIFY(made.out.contains("files, "));

        // Consistent: every event committed before it began, and no commit
        // in part.
        const EventIds copied = eventIdsOf(backup + "/History.sqlite");
        QVERIFY(copied.gapless);
        QVERIFY2(copied.count >= before, qPrintable(QString::number(copied.count)));
        QVERIFY(copied.count <= eventIdsOf(home + "/History.sqlite").count);
        QCOMPARE(manifestEvents(backup), copied.count);
        QVERIFY(contentOf(backup + "/norvik3-backup.txt").contains("program=norvik3d 3.0.0.4\n"));
        QCOMPARE(modeOf(backup), mode_t(0700));
        QCOMPARE(modeOf(backup + "/History.sqlite"), mode_t(0600));
        QCOMPARE(modeOf(backup + "/Norvik3.api-tokens"), mode_t(0600));
        QCOMPARE(modeOf(backup + "/Schedule/default.sch"), mode_t(0644));
        // A second backup never mixes into the first.
        const Run again = norvik3d(home, {"--backup", backup});
        QCOMPARE(again.code, 1);
        QVERIFY(again.err.contains("not empty"));

        // Onto a folder that has moved on: a schedule made since, the
        // journal of another history.
        const QString target = fresh("flood-target");
        QVERIFY(QDir().mkpath(target + "/Schedule"));
        write(target + "/Schedule/since.sch", "[Aula]\n08:00=Power OFF\n", ForAll);
        write(target + "/Norvik3.conf", "[Setting]\nStatusCheckInterval=5\n", OwnerOnly);
        write(target + "/History.sqlite-wal", "not the journal of the restored history", OwnerOnly);
        const Run restored = norvik3d(target, {"--restore", backup});
        QVERIFY2(restored.code == 0, restored.err.constData());
        QVERIFY(restored.out.contains(QByteArray::number(copied.count) + " events"));
        for (const char* name :
             {"Norvik3.conf", "Norvik3.api-tokens", "Norvik3.smtp-password",
              "Norvik3.pjlink-passwords", "PJModel.txt", "Schedule/default.sch"}) {
            QCOMPARE(contentOf(target + '/' + name), contentOf(home + '/' + name));
            QCOMPARE(modeOf(target + '/' + name), modeOf(home + '/' + name));
        }
        QVERIFY(!QFile::exists(target + "/Schedule/since.sch"));
        QVERIFY(!QFile::exists(target + "/History.sqlite-wal"));
        QCOMPARE(eventIdsOf(target + "/History.sqlite").count, copied.count);
        const QStringList leftovers =
            QDir(target).entryList({"*norvik3-*"}, QDir::AllEntries | QDir::Hidden);
        QVERIFY2(leftovers.isEmpty(), qPrintable(leftovers.join(' ')));

        const Run check = norvik3d(target, {"--check"});
        QVERIFY2(check.code == 0, check.err.constData());
        // A start takes the restored folder as it is, and records into it.
        QProcess service;
        service.setProcessEnvironment(environmentFor(target));
        service.start(TestBinary("norvik3d"), {"--no-schedule", "--http-port", "0"});
        QByteArray log;
        QTRY_VERIFY_WITH_TIMEOUT((log += service.readAllStandardError()).contains("started on"),
                                 Wait);
        service.terminate();
        QVERIFY(service.waitForFinished(Wait));
        log += service.readAllStandardError();
        QCOMPARE(service.exitCode(), 0);
        QVERIFY2(!log.contains("warning") && !log.contains("damaged"), log.constData());
        const EventIds after = eventIdsOf(target + "/History.sqlite");
        QCOMPARE(after.count, copied.count + 2); // its start and its stop
        QVERIFY(after.gapless);
    }

    void restoreWaitsForTheFolderToBeFree() {
        const QString home = fresh("held-home");
        QVERIFY(QDir().mkpath(home));
        fillHome(home);
        const QString backup = fresh("held-backup");
        QCOMPARE(norvik3d(home, {"--backup", backup}).code, 0);
        write(home + "/Norvik3.conf", "[Setting]\nStatusCheckInterval=7\n", OwnerOnly);
        const QByteArray settings = contentOf(home + "/Norvik3.conf");

        QProcess service;
        service.setProcessEnvironment(environmentFor(home));
        service.start(TestBinary("norvik3d"), {"--no-schedule", "--http-port", "0"});
        QByteArray log;
        QTRY_VERIFY_WITH_TIMEOUT((log += service.readAllStandardError()).contains("started on"),
                                 Wait);
        const Run refused = norvik3d(home, {"--restore", backup});
        QCOMPARE(refused.code, 1);
        QVERIFY2(refused.err.contains("in use by norvik3d"), refused.err.constData());
        QCOMPARE(contentOf(home + "/Norvik3.conf"), settings);
        // A backup beside the running service is fine.
        QCOMPARE(norvik3d(home, {"--backup", fresh("held-second")}).code, 0);
        service.terminate();
        QVERIFY(service.waitForFinished(Wait));

        const Run restored = norvik3d(home, {"--restore", backup});
        QVERIFY2(restored.code == 0, restored.err.constData());
        QVERIFY(contentOf(home + "/Norvik3.conf") != settings);
    }

    void aRestoreThatCannotFinishPutsTheOldFilesBack() {
        const QString home = fresh("undo-home");
        QVERIFY(QDir().mkpath(home));
        fillHome(home);
        const QString backup = fresh("undo-backup");
        QCOMPARE(norvik3d(home, {"--backup", backup}).code, 0);
        // The settings and secrets are replaced before the model file,
        // which cannot be: a folder stands in its place.
        const QString target = fresh("undo-target");
        QVERIFY(QDir().mkpath(target + "/PJModel.txt"));
        write(target + "/Norvik3.conf", "[Setting]\nStatusCheckInterval=3\n", OwnerOnly);
        write(target + "/Norvik3.api-tokens", "", OwnerOnly);
        const Run restore = norvik3d(target, {"--restore", backup});
        QCOMPARE(restore.code, 1);
        QVERIFY2(restore.err.contains("PJModel.txt"), restore.err.constData());
        QCOMPARE(contentOf(target + "/Norvik3.conf"),
                 QByteArray("[Setting]\nStatusCheckInterval=3\n"));
        QCOMPARE(contentOf(target + "/Norvik3.api-tokens"), QByteArray());
        QVERIFY(!QFile::exists(target + "/Norvik3.smtp-password"));
        const QStringList left =
            QDir(target).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        QCOMPARE(left, QStringList({"Norvik3.api-tokens", "Norvik3.conf", "norvik3.lock",
                                    "PJModel.txt", "Schedule"}));
        QVERIFY(QDir(target + "/Schedule").isEmpty());
    }

    void brokenFilesAreNamed_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("says");
        QTest::addColumn<Break>("breakIn");
        const auto chmodTo = [](const char* name, QFile::Permissions permissions) {
            return Break([=](const QString& folder) {
                QVERIFY(QFile::setPermissions(folder + '/' + name, permissions));
            });
        };
        const auto append = [](const char* name, const QByteArray& text) {
            return Break([=](const QString& folder) {
                QFile file(folder + '/' + name);
                QVERIFY(file.open(QIODevice::Append));
                file.write(text);
            });
        };
        QTest::newRow("settings line without =")
            << "Norvik3.conf"
            << "line 9" << append("Norvik3.conf", "StatusHttpPort 9464\n");
        QTest::newRow("settings a link")
            << "Norvik3.conf"
            << "is a link" << Break([](const QString& folder) {
                   QVERIFY(QFile::rename(folder + "/Norvik3.conf", folder + "/real.conf"));
                   QVERIFY(QFile::link(folder + "/real.conf", folder + "/Norvik3.conf"));
               });
        QTest::newRow("tokens readable by others")
            << "Norvik3.api-tokens"
            << "readable or writable by others" << chmodTo("Norvik3.api-tokens", ForAll);
        QTest::newRow("tokens with a bad line")
            << "Norvik3.api-tokens"
            << "line 2, is skipped" << append("Norvik3.api-tokens", "booking:everything=abc\n");
        QTest::newRow("PJLink passwords open to the group")
            << "Norvik3.pjlink-passwords"
            << "readable by others"
            << chmodTo("Norvik3.pjlink-passwords", OwnerOnly | QFile::ReadGroup);
        QTest::newRow("SMTP password readable by others")
            << "Norvik3.smtp-password"
            << "readable by others" << chmodTo("Norvik3.smtp-password", ForAll);
        QTest::newRow("model file a folder")
            << "PJModel.txt"
            << "it is a folder" << Break([](const QString& folder) {
                   QVERIFY(QFile::remove(folder + "/PJModel.txt"));
                   QVERIFY(QDir(folder).mkdir("PJModel.txt"));
               });
        QTest::newRow("schedule file a FIFO")
            << "Schedule/default.sch"
            << "not a regular file" << Break([](const QString& folder) {
                   QVERIFY(QFile::remove(folder + "/Schedule/default.sch"));
                   QCOMPARE(::mkfifo(QFile::encodeName(folder + "/Schedule/default.sch"), 0644), 0);
               });
    }

    void brokenFilesAreNamed() {
        QFETCH(QString, file);
        QFETCH(QString, says);
        QFETCH(Break, breakIn);
        const QString home = fresh("check-home");
        QVERIFY(QDir().mkpath(home));
        fillHome(home);
        const Run good = norvik3d(home, {"--check"});
        QVERIFY2(good.code == 0, good.err.constData());
        const QString backup = fresh("check-backup");
        QVERIFY(norvik3d(home, {"--backup", backup}).code == 0);

        breakIn(home);
        const Run check = norvik3d(home, {"--check"});
        QCOMPARE(check.code, 1);
        QVERIFY2(check.err.contains((home + '/' + file).toUtf8()), check.err.constData());
        QVERIFY2(check.err.contains(says.toUtf8()), check.err.constData());

        // The same file broken in a backup, its manifest made to fit: the
        // restore refuses it as a start would, and changes nothing.
        breakIn(backup);
        reseal(backup);
        const QString target = fresh("check-target");
        QVERIFY(QDir().mkpath(target));
        write(target + "/Norvik3.conf", "[Setting]\nStatusCheckInterval=9\n", OwnerOnly);
        const Run restore = norvik3d(target, {"--restore", backup});
        QCOMPARE(restore.code, 1);
        QVERIFY2(restore.err.contains((backup + '/' + file).toUtf8()), restore.err.constData());
        QVERIFY2(restore.err.contains(says.toUtf8()), restore.err.constData());
        QCOMPARE(QDir(target).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{"Norvik3.conf"});
        QCOMPARE(contentOf(target + "/Norvik3.conf"),
                 QByteArray("[Setting]\nStatusCheckInterval=9\n"));
    }

    void checkNamesACertificateItCannotServe() {
        const QString home = fresh("tls-home");
        QVERIFY(QDir().mkpath(home));
        fillHome(home);
        QFile settings(home + "/Norvik3.conf");
        QVERIFY(settings.open(QIODevice::Append));
        settings.write("StatusHttpPort=9464\nStatusHttpCertificate=endpoint.pem\n"
                       "StatusHttpKey=endpoint.key\n");
        settings.close();
        const Run check = norvik3d(home, {"--check"});
        QCOMPARE(check.code, 1);
        QVERIFY2(check.err.contains("no HTTPS: the certificate " + QFile::encodeName(home) +
                                    "/endpoint.pem cannot be read"),
                 check.err.constData());
    }

    void brokenBackupsAreRefused_data() {
        QTest::addColumn<QString>("says");
        QTest::addColumn<Break>("breakIn");
        QTest::addColumn<bool>("resealed");
        QTest::newRow("a file cut short")
            << "not as it was written" << Break([](const QString& folder) {
                   QVERIFY(QFile::resize(folder + "/Norvik3.conf", 10));
               })
            << false;
        QTest::newRow("a history copied while it was written")
            << "not a history file" << Break([](const QString& folder) {
                   // What a plain copy of a file in WAL mode gives: a database without tables.
                   QFile::remove(folder + "/History.sqlite");
                   QFile empty(folder + "/History.sqlite");
                   QVERIFY(empty.open(QIODevice::WriteOnly));
               })
            << true;
        QTest::newRow("a history that is no database")
            << "History.sqlite cannot be used" << Break([](const QString& folder) {
                   write(folder + "/History.sqlite", QByteArray(8192, 'x'), OwnerOnly);
               })
            << true;
        QTest::newRow("no manifest")
            << "it is no finished backup" << Break([](const QString& folder) {
                   QVERIFY(QFile::remove(folder + "/norvik3-backup.txt"));
               })
            << false;
    }

    void brokenBackupsAreRefused() {
        QFETCH(QString, says);
        QFETCH(Break, breakIn);
        QFETCH(bool, resealed);
        const QString home = fresh("broken-home");
        QVERIFY(QDir().mkpath(home));
        fillHome(home);
        {
            HistoryWriter::Options options;
            options.filePath = home + "/History.sqlite";
            HistoryWriter writer(options);
            writer.record(powerEvent(1));
        }
        const QString backup = fresh("broken-backup");
        QVERIFY(norvik3d(home, {"--backup", backup}).code == 0);
        breakIn(backup);
        if (resealed)
            reseal(backup);
        const QByteArray settings = contentOf(home + "/Norvik3.conf");
        const Run restore = norvik3d(home, {"--restore", backup});
        QCOMPARE(restore.code, 1);
        QVERIFY2(restore.err.contains(says.toUtf8()), restore.err.constData());
        QCOMPARE(contentOf(home + "/Norvik3.conf"), settings);
        QCOMPARE(eventIdsOf(home + "/History.sqlite").count, 1);
    }
};

QTEST_GUILESS_MAIN(TestBackup)
#include "test_backup.moc"
