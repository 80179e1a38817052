#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The history out to a CSV file from the service's command line:
//   --history-export FILE [--since DATE]
// writes the events of the program folder's History.sqlite, newest first
// (the order the History view and the endpoint show), from DATE on when
// given, page by page. It only reads, through a reading connection, so it
// works beside the running program as well as without it. Returns the exit
// code when the arguments ask for it (0 done, 1 no readable history or the
// file cannot be written, 2 a wrong command line), nothing otherwise.
// Problems go to standard error in one line starting with `program`.
std::optional<int> RunHistoryExportCommand(const QStringList& arguments, const QString& program);

QString HistoryExportUsage();
