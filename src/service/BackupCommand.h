#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The backup, the restore and the check from the service's command line:
//   --backup DIR   copies the settings, model, schedule, password and token
//                  files and the history into DIR, also while the program runs
//   --restore DIR  puts a backup in place, while no program holds the folder
//   --check        says what of the files a start reads it would refuse
// Returns the exit code when the arguments ask for one of these (0 done,
// 1 refused or failed, 2 a wrong command line), nothing otherwise.
std::optional<int> RunBackupCommand(const QStringList& arguments, const QString& program);
