#pragma once

#include <QString>
#include <QStringList>

// The command lines of the window and of the service, read before any
// application object exists so that --help and --version need no display.
struct CommandLine {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    // The words that are no option, for the start-up rules: only the single
    // word "DON" switches the communication log on.
    QStringList words;
    bool commLog = false;    // service: --comm-log
    bool noSchedule = false; // service: --no-schedule
    int httpPort = -1;       // service: --http-port N (-1: as the settings say)
    QString httpAddress;     // service: --http-address A (empty: as the settings say)
    QString error;           // Action::Error: what was wrong
};

// norvik3: --help, --version, and the toolkit's own options (-platform X,
// -style X, ...), which are left for it.
CommandLine ParseWindowCommandLine(const QStringList& arguments);
// norvik3d: --help, --version, --comm-log, --no-schedule, --http-port N,
// --http-address A.
CommandLine ParseServiceCommandLine(const QStringList& arguments);

QString WindowUsage();
QString ServiceUsage();

// argv as texts, without the program name.
QStringList ArgumentsOf(int argc, char** argv);
