#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The endpoint's tokens from the command line, without starting the engine:
//   --add-token NAME SCOPE [GROUPS]  makes a new token, prints it once on
//                                    standard output and keeps its hash
//   --remove-token NAME              removes the token of that name
// Both only rewrite the tokens file, so they work beside a running service,
// which reads the file again on SIGHUP. Returns the exit code when the
// arguments ask for one of these (0 done, 1 refused or failed, 2 a wrong
// command line), nothing otherwise.
std::optional<int> RunTokenCommand(const QStringList& arguments, const QString& program);
