#pragma once

#include <QString>
#include <QStringList>

#include <optional>

struct AppState;
class SecretStore;

// The fleet in and out of a CSV file from the command line of either
// program, without a window and without starting the engine:
//   --export FILE             writes the stored fleet; works beside a running
//                             program, since it only reads the settings
//   --import FILE [--dry-run] merges the file into the stored fleet (or only
//                             lists what that would do); refused while
//                             another program holds the program folder
// Returns the exit code when the arguments ask for one of these (0 done,
// 1 refused or failed, 2 a wrong command line), nothing otherwise. Output
// goes to standard output, problems to standard error, each line starting
// with `program`. The imported PJLink passwords go to `secrets` when given
// (the window's), otherwise to the passwords file.
std::optional<int> RunFleetCommand(const QStringList& arguments, const QString& program,
                                   SecretStore* secrets = nullptr);

QString FleetCommandUsage();
