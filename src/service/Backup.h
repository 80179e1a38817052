#pragma once

#include "service/BackupManifest.h"

#include <QString>
#include <QStringList>

// Where the program keeps what a backup takes: the settings file (with the
// passwords and tokens beside it) and the program folder (the model, the
// schedules and the history).
struct BackupPlaces {
    QString settingsFile;
    QString programFolder;
    QString settingsFolder() const;
};
BackupPlaces CurrentPlaces();

struct BackupOutcome {
    bool ok = false;
    // What kept it from being done, one line each; nothing was changed then.
    QStringList problems;
    BackupManifest manifest;
};

// Copies the files of `from` into `folder` (made when missing, mode 0700;
// one that exists must be empty), each with its mode, and the history
// through SQLite's own copy of the file as one read sees it, so the copy is
// consistent while the program writes; the manifest comes last. On failure
// what was written is removed again.
BackupOutcome MakeBackup(const BackupPlaces& from, const QString& folder, const QString& program);

// Puts the backup of `folder` in place at `to`: only when every file is as
// the manifest lists it and a start would use them all, and only while no
// program holds the program folder (the restore holds its lock meanwhile).
// Every file is staged beside its target first; the targets are then
// replaced one by one, the old ones kept until all are in place and put
// back when one fails. Files of the kinds a backup takes that the backup
// lacks (a schedule made since) are removed, and so is the old history's
// journal.
BackupOutcome RestoreBackup(const QString& folder, const BackupPlaces& to);
