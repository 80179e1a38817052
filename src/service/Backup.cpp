#include "service/Backup.h"

#include "core/Version.h"
#include "platform/Paths.h"
#include "platform/SafeFile.h"
#include "service/BackupChecks.h"
#include "service/BackupFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QStringList SettingsFolderFiles = {
    QStringLiteral("Norvik3.smtp-password"),
    QStringLiteral("Norvik3.pjlink-passwords"),
    QStringLiteral("Norvik3.api-tokens"),
};

bool exists(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

// What a backup takes: its name in the backup and where it is now.
struct Source {
    QString name;
    QString path;
};

QList<Source> sourcesOf(const BackupPlaces& from) {
    QList<Source> sources;
    const auto add = [&sources](const QString& name, const QString& path) {
        if (exists(path))
            sources << Source{name, path};
    };
    add(QStringLiteral("Norvik3.conf"), from.settingsFile);
    for (const QString& name : SettingsFolderFiles)
        add(name, QDir(from.settingsFolder()).filePath(name));
    const QDir program(from.programFolder);
    add(QStringLiteral("PJModel.txt"), program.filePath(QStringLiteral("PJModel.txt")));
    const QDir schedules(program.filePath(QStringLiteral("Schedule")));
    for (const QString& name :
         schedules.entryList({QStringLiteral("*.sch")}, QDir::Files | QDir::System, QDir::Name))
        add(QStringLiteral("Schedule/") + name, schedules.filePath(name));
    return sources;
}

// SQLite's VACUUM INTO writes the database as one read transaction sees it,
// so the copy is whole while the program's writer goes on committing; it
// comes out in rollback-journal mode, a single file with nothing beside it.
QString copyHistory(const QString& from, const QString& to) {
    // Made first, empty, so that the history is never readable by others.
    const int fd = ::open(QFile::encodeName(to).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return QStringLiteral("cannot write %1: %2")
            .arg(to, QString::fromLocal8Bit(strerror(errno)));
    ::fchmod(fd, 0600);
    ::close(fd);
    QString problem;
    const QString connection = QUuid::createUuid().toString();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(from);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=10000"));
        QSqlQuery query(db);
        QString quoted = to;
        quoted.replace(u'\'', QStringLiteral("''"));
        if (!db.open())
            problem = db.lastError().text();
        else if (!query.exec(QStringLiteral("VACUUM INTO '%1'").arg(quoted)))
            problem = query.lastError().databaseText().isEmpty() ? query.lastError().text()
                                                                 : query.lastError().databaseText();
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    if (!problem.isEmpty())
        return QStringLiteral("cannot copy the history %1: %2").arg(from, problem);
    const int written = ::open(QFile::encodeName(to).constData(), O_RDONLY | O_CLOEXEC);
    const bool synced = written >= 0 && ::fsync(written) == 0;
    if (written >= 0)
        ::close(written);
    if (!synced)
        return QStringLiteral("cannot write %1: %2")
            .arg(to, QString::fromLocal8Bit(strerror(errno)));
    return {};
}

// Removes what a failed backup wrote, and the folder when it made it.
class Undo {
  public:
    Undo(QString folder, bool madeFolder) : m_folder(std::move(folder)), m_made(madeFolder) {}
    ~Undo() {
        if (m_done)
            return;
        if (m_made) {
            QDir(m_folder).removeRecursively();
            return;
        }
        for (const QString& path : m_written)
            QFile::remove(path);
        QDir(m_folder).rmdir(QStringLiteral("Schedule"));
    }
    Undo(const Undo&) = delete;
    Undo& operator=(const Undo&) = delete;
    void wrote(const QString& path) { m_written << path; }
    void keep() { m_done = true; }

  private:
    QString m_folder;
    bool m_made;
    QStringList m_written;
    bool m_done = false;
};

} // namespace

QString BackupPlaces::settingsFolder() const {
    return QFileInfo(settingsFile).absolutePath();
}

BackupPlaces CurrentPlaces() {
    return {SettingsFilePath(), ProgramFolderPath()};
}

BackupOutcome MakeBackup(const BackupPlaces& from, const QString& folder, const QString& program) {
    BackupOutcome outcome;
    const auto fail = [&outcome](const QString& problem) {
        outcome.problems << problem;
        return outcome;
    };
    if (!QFileInfo(from.programFolder).isDir())
        return fail(QStringLiteral("the program folder %1 does not exist: there is nothing to "
                                   "back up")
                        .arg(from.programFolder));
    const QFileInfo target(folder);
    const bool made = !target.exists();
    if (!made && !target.isDir())
        return fail(QStringLiteral("%1 is not a folder").arg(folder));
    if (!made && !QDir(folder).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden |
                                       QDir::System))
        return fail(QStringLiteral("%1 is not empty: a backup goes into a new or empty folder")
                        .arg(folder));
    if (made && !QDir().mkpath(folder))
        return fail(QStringLiteral("cannot make the folder %1").arg(folder));
    Undo undo(folder, made);
    // The backup holds the passwords and the tokens' hashes.
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    BackupManifest& manifest = outcome.manifest;
    manifest.program = program + u' ' + ProgramVersion();
    manifest.made = QDateTime::currentDateTimeUtc();
    manifest.programFolder = from.programFolder;
    manifest.settingsFile = from.settingsFile;
    const QDir into(folder);
    const auto record = [&](const QString& name) -> bool {
        QString error;
        const std::optional<FileDigest> digest = DigestOf(into.filePath(name), &error);
        const std::optional<mode_t> mode = ModeOf(into.filePath(name));
        if (!digest || !mode) {
            outcome.problems << QStringLiteral("cannot read back %1").arg(error);
            return false;
        }
        manifest.entries << BackupEntry{name, *mode, digest->size, digest->sha256};
        return true;
    };
    for (const Source& source : sourcesOf(from)) {
        const std::optional<mode_t> mode = ModeOf(source.path);
        if (!mode)
            return fail(
                QStringLiteral("cannot back up %1: it is not a regular file").arg(source.path));
        if (source.name.startsWith(QLatin1String("Schedule/")))
            into.mkpath(QStringLiteral("Schedule"));
        const QString copy = into.filePath(source.name);
        if (const FileOutcome copied = CopyToNewFile(source.path, copy, *mode); !copied)
            return fail(copied.error);
        undo.wrote(copy);
        if (!record(source.name))
            return outcome;
    }
    const QString history = QDir(from.programFolder).filePath(QStringLiteral("History.sqlite"));
    if (exists(history)) {
        const QString copy = into.filePath(QStringLiteral("History.sqlite"));
        undo.wrote(copy);
        if (const QString problem = copyHistory(history, copy); !problem.isEmpty())
            return fail(problem);
        const HistoryCheck check = CheckHistoryFile(copy);
        if (!check.refusal.isEmpty())
            return fail(check.refusal);
        manifest.events = check.events;
        if (!record(QStringLiteral("History.sqlite")))
            return outcome;
    }
    const QString manifestPath = into.filePath(QLatin1String(ManifestName));
    if (const FileOutcome written =
            WriteFileAtomically(manifestPath, ManifestText(manifest), 0600, FolderSync::Later);
        !written)
        return fail(written.error);
    undo.wrote(manifestPath);
    SyncFolder(into.filePath(QStringLiteral("Schedule")));
    SyncFolder(folder);
    undo.keep();
    outcome.ok = true;
    return outcome;
}
