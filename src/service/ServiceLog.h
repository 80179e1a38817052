#pragma once

#include <QString>

// The service's own lines on standard error: "norvik3d: <text>". Under the
// journal (JOURNAL_STREAM set) each carries its syslog priority as a "<N>"
// prefix, so that fatal problems show as errors there.
enum class LogPriority { Error = 3, Warning = 4, Notice = 5, Info = 6 };

void Say(LogPriority priority, const QString& line);

// Qt's own messages go the same way with their priority; the diagnostics of
// the program's categories (norvik.*) are off unless QT_LOGGING_RULES asks
// for them, since the service says what matters in its own lines; the
// control requests (norvik.status.control) are always told.
void InstallServiceMessageHandler();
