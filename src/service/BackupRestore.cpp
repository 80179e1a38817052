#include "service/Backup.h"

#include "platform/SafeFile.h"
#include "platform/SingleInstance.h"
#include "service/BackupChecks.h"
#include "service/BackupFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// The old file waits under this name beside its target until every file of
// the restore is in place.
const QString OldMark = QStringLiteral(".norvik3-restore-old");

bool exists(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

QString systemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

// One target of the restore: replaced by a staged copy, or removed when
// `staged` is empty.
struct Step {
    QString target;
    QString staged;
    bool hadOld = false;
    bool done = false;
    QString old() const { return target + OldMark; }
};

// Checks the backup as a start would check its files, before anything of
// the program folder is touched.
QStringList refusalsOf(const QString& folder, const BackupManifest& manifest) {
    QStringList refusals;
    const QDir backup(folder);
    bool hasHistory = false;
    for (const BackupEntry& entry : manifest.entries) {
        QString error;
        const std::optional<FileDigest> digest = DigestOf(backup.filePath(entry.name), &error);
        if (!digest)
            refusals << QStringLiteral("the backup lacks %1: %2").arg(entry.name, error);
        else if (digest->sha256 != entry.sha256 || digest->size != entry.size)
            refusals << QStringLiteral("the backup's %1 is not as it was written (its size or "
                                       "SHA-256 differs from the manifest's)")
                            .arg(backup.filePath(entry.name));
        hasHistory = hasHistory || entry.name == QLatin1String("History.sqlite");
    }
    refusals << StartRefusals(backup.filePath(QStringLiteral("Norvik3.conf")), folder);
    if (hasHistory) {
        const HistoryCheck check =
            CheckHistoryFile(backup.filePath(QStringLiteral("History.sqlite")));
        if (!check.refusal.isEmpty())
            refusals << check.refusal;
        else if (check.events != manifest.events)
            refusals << QStringLiteral("the backup's history holds %1 events, its manifest %2")
                            .arg(check.events)
                            .arg(manifest.events);
    }
    return refusals;
}

// Every file of the kinds a backup takes that is there now: those the
// backup lacks are removed by the restore.
QStringList presentTargets(const BackupPlaces& to) {
    QStringList targets;
    const QDir settings(to.settingsFolder());
    for (const QString& name :
         {QStringLiteral("Norvik3.smtp-password"), QStringLiteral("Norvik3.pjlink-passwords"),
          QStringLiteral("Norvik3.api-tokens")})
        targets << settings.filePath(name);
    targets << to.settingsFile;
    const QDir program(to.programFolder);
    // The journal of the old history belongs to no restored one.
    for (const char* name : {"PJModel.txt", "History.sqlite", "History.sqlite-wal",
                             "History.sqlite-shm", "History.sqlite-journal"})
        targets << program.filePath(QLatin1String(name));
    const QDir schedules(program.filePath(QStringLiteral("Schedule")));
    for (const QString& name :
         schedules.entryList({QStringLiteral("*.sch")}, QDir::Files | QDir::System | QDir::Hidden))
        targets << schedules.filePath(name);
    QStringList present;
    for (const QString& target : targets)
        if (exists(target))
            present << target;
    return present;
}

QString targetOf(const BackupEntry& entry, const BackupPlaces& to) {
    if (entry.name == QLatin1String("Norvik3.conf"))
        return to.settingsFile;
    const QString folder = *PlaceOf(entry.name) == BackupPlace::SettingsFolder ? to.settingsFolder()
                                                                               : to.programFolder;
    return QDir(folder).filePath(entry.name);
}

// Puts every step in place, or none: on the first failure the steps done
// are undone from their old files.
QString commit(std::vector<Step>& steps) {
    QString problem;
    for (Step& step : steps) {
        const QByteArray target = QFile::encodeName(step.target);
        const QByteArray old = QFile::encodeName(step.old());
        ::unlink(old.constData());
        step.hadOld = exists(step.target);
        if (step.hadOld && ::link(target.constData(), old.constData()) != 0) {
            problem = QStringLiteral("cannot keep %1 while it is replaced: %2")
                          .arg(step.target, systemError());
            break;
        }
        const bool placed =
            step.staged.isEmpty()
                ? ::unlink(target.constData()) == 0
                : ::rename(QFile::encodeName(step.staged).constData(), target.constData()) == 0;
        if (!placed) {
            problem = QStringLiteral("cannot replace %1: %2").arg(step.target, systemError());
            if (step.hadOld)
                ::unlink(old.constData());
            break;
        }
        step.done = true;
    }
    for (auto step = steps.rbegin(); !problem.isEmpty() && step != steps.rend(); ++step) {
        if (!step->done)
            continue;
        const QByteArray target = QFile::encodeName(step->target);
        if (step->hadOld)
            ::rename(QFile::encodeName(step->old()).constData(), target.constData());
        else
            ::unlink(target.constData());
    }
    return problem;
}

} // namespace

BackupOutcome RestoreBackup(const QString& folder, const BackupPlaces& to) {
    BackupOutcome outcome;
    const auto fail = [&outcome](const QString& problem) {
        outcome.problems << problem;
        return outcome;
    };
    QString error;
    const QString manifestPath = QDir(folder).filePath(QLatin1String(ManifestName));
    const std::optional<QByteArray> text = ReadRegularFile(manifestPath, &error);
    if (!text)
        return fail(error.isEmpty() ? QStringLiteral("%1 holds no %2: it is no finished backup")
                                          .arg(folder, QLatin1String(ManifestName))
                                    : error);
    const std::optional<BackupManifest> manifest = ParseManifest(*text, &error);
    if (!manifest)
        return fail(QStringLiteral("the manifest %1 cannot be read: %2").arg(manifestPath, error));
    outcome.manifest = *manifest;
    outcome.problems = refusalsOf(folder, *manifest);
    if (!outcome.problems.isEmpty())
        return outcome;

    if (!QDir().mkpath(to.programFolder) || !QDir().mkpath(to.settingsFolder()))
        return fail(QStringLiteral("cannot make the program folder %1").arg(to.programFolder));
    // Held until the restore is done, so that no start reads a folder in
    // the middle of it.
    SingleInstance instance;
    if (!instance.acquire(to.programFolder)) {
        if (instance.outcome() == SingleInstance::Outcome::Held)
            return fail(QStringLiteral("the program folder %1 is in use by %2; stop it before a "
                                       "restore")
                            .arg(to.programFolder, instance.detail().isEmpty()
                                                       ? QStringLiteral("another program")
                                                       : instance.detail()));
        return fail(instance.detail());
    }

    std::vector<Step> steps;
    QSet<QString> restored;
    const auto unstage = [&steps] {
        for (const Step& step : steps)
            if (!step.staged.isEmpty())
                QFile::remove(step.staged);
    };
    QDir(to.programFolder).mkpath(QStringLiteral("Schedule"));
    for (const BackupEntry& entry : manifest->entries) {
        const QString from = QDir(folder).filePath(entry.name);
        const QString target = targetOf(entry, to);
        const QFileInfo info(target);
        const QString staged = info.dir().filePath(TemporaryNameFor(info.fileName()));
        // No more open than the manifest recorded: a backup copied with the
        // wrong modes does not widen them.
        const mode_t mode = ModeOf(from).value_or(0600) & entry.mode;
        const FileOutcome copied = CopyToNewFile(from, staged, mode);
        if (!copied) {
            unstage();
            return fail(copied.error);
        }
        steps.push_back(Step{target, staged});
        // What was checked above may have been replaced since: the copy
        // itself must be the manifest's.
        QString error;
        const std::optional<FileDigest> digest = DigestOf(staged, &error);
        if (!digest || digest->sha256 != entry.sha256 || digest->size != entry.size) {
            unstage();
            return fail(digest ? QStringLiteral("%1 changed during the restore; nothing was "
                                                "restored")
                                     .arg(from)
                               : error);
        }
        restored.insert(target);
    }
    for (const QString& target : presentTargets(to))
        if (!restored.contains(target))
            steps.push_back(Step{target, {}});

    if (const QString problem = commit(steps); !problem.isEmpty()) {
        unstage();
        return fail(problem + QStringLiteral("; nothing was restored"));
    }
    const QStringList folders = {to.settingsFolder(), to.programFolder,
                                 QDir(to.programFolder).filePath(QStringLiteral("Schedule"))};
    for (const QString& f : folders)
        SyncFolder(f);
    for (const Step& step : steps)
        if (step.hadOld)
            QFile::remove(step.old());
    for (const QString& f : folders)
        SyncFolder(f);
    outcome.ok = true;
    return outcome;
}
