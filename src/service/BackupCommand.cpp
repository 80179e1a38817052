#include "service/BackupCommand.h"

#include "platform/CommandApplication.h"
#include "service/Backup.h"
#include "service/BackupChecks.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>

namespace {

void say(std::FILE* to, const QString& program, const QString& line) {
    std::fputs(qPrintable(program + QStringLiteral(": ") + line + QLatin1Char('\n')), to);
}

QString counted(qint64 n, const char* one) {
    return QStringLiteral("%1 %2%3").arg(n).arg(QLatin1String(one)).arg(n == 1 ? "" : "s");
}

int backup(const QString& folder, const QString& program) {
    const BackupOutcome outcome = MakeBackup(CurrentPlaces(), folder, program);
    for (const QString& problem : outcome.problems)
        say(stderr, program, problem);
    if (!outcome.ok)
        return 1;
    const BackupManifest& manifest = outcome.manifest;
    say(stdout, program,
        QStringLiteral("backup of %1 written to %2: %3, %4")
            .arg(manifest.programFolder, folder)
            .arg(counted(manifest.entries.size(), "file"), counted(manifest.events, "event")));
    // Taken as it is, but a restore would refuse it as a start would: the
    // administrator hears of it now rather than on the day it is needed.
    for (const QString& refusal :
         StartRefusals(QDir(folder).filePath(QStringLiteral("Norvik3.conf")), folder))
        say(stderr, program,
            QStringLiteral("warning: a restore of this backup would refuse it: ") + refusal);
    return 0;
}

int restore(const QString& folder, const QString& program) {
    const BackupPlaces to = CurrentPlaces();
    const BackupOutcome outcome = RestoreBackup(folder, to);
    for (const QString& problem : outcome.problems)
        say(stderr, program, problem);
    if (!outcome.ok) {
        say(stderr, program,
            QStringLiteral("%1 was not restored; %2 is as it was").arg(folder, to.programFolder));
        return 1;
    }
    const BackupManifest& manifest = outcome.manifest;
    say(stdout, program,
        QStringLiteral("%1 restored from the backup of %2 made %3 by %4: %5, %6")
            .arg(to.programFolder, manifest.programFolder,
                 manifest.made.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                 manifest.program, counted(manifest.entries.size(), "file"),
                 counted(manifest.events, "event")));
    return 0;
}

int check(const QString& program) {
    const BackupPlaces places = CurrentPlaces();
    // A start would begin afresh without them; a check of the wrong folder
    // must not pass for a good one.
    for (const QString& needed : {places.settingsFile, places.programFolder}) {
        if (!QFileInfo::exists(needed)) {
            say(stderr, program,
                QStringLiteral("%1 does not exist: nothing to check (set NORVIK3_HOME to the "
                               "program's folder, and run as the account the service runs as)")
                    .arg(needed));
            return 1;
        }
    }
    QStringList refusals = StartRefusals(places.settingsFile, places.programFolder);
    refusals << EndpointRefusals(places.settingsFile);
    for (const QString& refusal : refusals)
        say(stderr, program, refusal);
    if (!refusals.isEmpty())
        return 1;
    say(stdout, program,
        QStringLiteral("%1 and the model, schedule, password, token and certificate files "
                       "of %2 would all be used")
            .arg(places.settingsFile, places.programFolder));
    return 0;
}

} // namespace

std::optional<int> RunBackupCommand(const QStringList& arguments, const QString& program) {
    const auto asked = std::find_if(arguments.begin(), arguments.end(), [](const QString& a) {
        return a == QLatin1String("--backup") || a == QLatin1String("--restore") ||
               a == QLatin1String("--check");
    });
    if (asked == arguments.end())
        return std::nullopt;
    const QString option = *asked;
    const bool takesFolder = option != QLatin1String("--check");
    if (arguments.size() != (takesFolder ? 2 : 1) || arguments[0] != option ||
        (takesFolder && arguments[1].isEmpty())) {
        say(stderr, program,
            takesFolder ? QStringLiteral("%1 takes one folder and nothing else").arg(option)
                        : QStringLiteral("--check takes no other arguments"));
        return 2;
    }
    // Qt SQL loads its SQLite driver through the application, and the lock
    // names its holder by the application's name.
    const CommandApplication app(program);
    if (option == QLatin1String("--check"))
        return check(program);
    const QString folder = QDir::cleanPath(QDir::current().absoluteFilePath(arguments[1]));
    return option == QLatin1String("--backup") ? backup(folder, program) : restore(folder, program);
}
