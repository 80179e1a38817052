#include "core/CommandLine.h"

#include <QSet>

#include <optional>

namespace {

// The toolkit's options that the window passes on: those that take a value
// and those that do not. Either may be written with one or two dashes, and
// a value also after "=".
const QSet<QString> ToolkitOptionsWithValue = {
    QStringLiteral("platform"),
    QStringLiteral("platformpluginpath"),
    QStringLiteral("platformtheme"),
    QStringLiteral("plugin"),
    QStringLiteral("qwindowgeometry"),
    QStringLiteral("qwindowicon"),
    QStringLiteral("qwindowtitle"),
    QStringLiteral("display"),
    QStringLiteral("geometry"),
    QStringLiteral("title"),
    QStringLiteral("icon"),
    QStringLiteral("name"),
    QStringLiteral("style"),
    QStringLiteral("stylesheet"),
    QStringLiteral("session"),
    QStringLiteral("qmljsdebugger"),
};
const QSet<QString> ToolkitFlags = {
    QStringLiteral("reverse"), QStringLiteral("widgetcount"), QStringLiteral("nograb"),
    QStringLiteral("dograb"),  QStringLiteral("sync"),
};

QString optionName(const QString& argument) {
    QString name = argument.mid(argument.startsWith(QLatin1String("--")) ? 2 : 1);
    const qsizetype equals = name.indexOf(QLatin1Char('='));
    return equals < 0 ? name : name.left(equals);
}

// --help and --version end the reading: they are answered and nothing runs.
std::optional<CommandLine::Action> answeredAtOnce(const QString& argument) {
    if (argument == QLatin1String("--help") || argument == QLatin1String("-h"))
        return CommandLine::Action::Help;
    if (argument == QLatin1String("--version"))
        return CommandLine::Action::Version;
    return std::nullopt;
}

CommandLine error(const QString& text) {
    CommandLine line;
    line.action = CommandLine::Action::Error;
    line.error = text;
    return line;
}

} // namespace

QStringList ArgumentsOf(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

CommandLine ParseWindowCommandLine(const QStringList& arguments) {
    CommandLine line;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (const auto action = answeredAtOnce(argument)) {
            line.action = *action;
            return line;
        }
        if (!argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-")) {
            line.words << argument;
            continue;
        }
        const QString name = optionName(argument);
        if (ToolkitFlags.contains(name))
            continue;
        if (ToolkitOptionsWithValue.contains(name)) {
            if (!argument.contains(QLatin1Char('=')))
                ++i; // its value
            continue;
        }
        return error(QStringLiteral("unknown option %1").arg(argument));
    }
    return line;
}

CommandLine ParseServiceCommandLine(const QStringList& arguments) {
    CommandLine line;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const auto value = [&](const QString& option) -> std::optional<QString> {
            if (argument.startsWith(option + QLatin1Char('=')))
                return argument.mid(option.size() + 1);
            if (argument == option && i + 1 < arguments.size())
                return arguments[++i];
            return std::nullopt;
        };
        if (const auto action = answeredAtOnce(argument)) {
            line.action = *action;
            return line;
        }
        if (argument == QLatin1String("--comm-log")) {
            line.commLog = true;
        } else if (argument == QLatin1String("--no-schedule")) {
            line.noSchedule = true;
        } else if (argument.startsWith(QLatin1String("--http-port"))) {
            const std::optional<QString> text = value(QStringLiteral("--http-port"));
            bool ok = false;
            const int port = text ? text->toInt(&ok) : -1;
            if (!ok || port < 0 || port > 65535)
                return error(QStringLiteral("--http-port needs a port number from 0 to 65535"));
            line.httpPort = port;
        } else if (argument.startsWith(QLatin1String("--http-address"))) {
            const std::optional<QString> text = value(QStringLiteral("--http-address"));
            if (!text || text->isEmpty())
                return error(QStringLiteral("--http-address needs an address"));
            line.httpAddress = *text;
        } else if (argument.startsWith(QLatin1Char('-')) && argument != QLatin1String("-")) {
            return error(QStringLiteral("unknown option %1").arg(argument));
        } else {
            line.words << argument;
        }
    }
    return line;
}

QString WindowUsage() {
    return QStringLiteral(
        "Usage: norvik3 [DON] [toolkit options]\n"
        "Runs a fleet of data projectors: groups, polling, control, schedules, alert mails.\n"
        "\n"
        "  DON          also write the communication log (Log/ in the program folder)\n"
        "  --export FILE              write the fleet to the CSV file FILE and exit\n"
        "  --import FILE [--dry-run]  merge the CSV file FILE into the fleet and exit\n"
        "                             (--dry-run: only list what would change)\n"
        "  --discover RANGE [--model NAME]\n"
        "                             find projectors in RANGE (such as 192.0.2.0/24)\n"
        "                             and by the PJLink search, print CSV rows, exit\n"
        "  --help       show this text and exit\n"
        "  --version    show the version and exit\n"
        "\n"
        "The program folder is $NORVIK3_HOME when set, otherwise\n"
        "~/.local/share/KESTRAN/Norvik3; the settings are in $NORVIK3_HOME/Norvik3.conf,\n"
        "otherwise ~/.config/KESTRAN/Norvik3.conf.\n");
}

QString ServiceUsage() {
    return QStringLiteral(
        "Usage: norvik3d [DON] [options]\n"
        "Runs a fleet of data projectors without a window: polling, reachability,\n"
        "schedules, alert mails, logs and an optional status endpoint.\n"
        "\n"
        "  DON, --comm-log       also write the communication log\n"
        "  --no-schedule         do not start the schedule at launch\n"
        "  --http-port N         serve the status endpoint on port N (0: off)\n"
        "  --http-address A      listen on address A (default 127.0.0.1)\n"
        "  --export FILE         write the fleet to the CSV file FILE and exit\n"
        "  --import FILE [--dry-run]\n"
        "                        merge the CSV file FILE into the fleet and exit\n"
        "                        (--dry-run: only list what would change)\n"
        "  --discover RANGE [--model NAME]\n"
        "                        find projectors in RANGE (such as 192.0.2.0/24) and by\n"
        "                        the PJLink search, print CSV rows and exit\n"
        "  --add-token NAME SCOPE [GROUPS]\n"
        "                        make a token for the status endpoint (SCOPE read or\n"
        "                        control, GROUPS comma-separated), print it and exit\n"
        "  --remove-token NAME   remove the endpoint's token NAME and exit\n"
        "  --history-export FILE [--since DATE]\n"
        "                        write the event history (newest first, from DATE on)\n"
        "                        to the CSV file FILE and exit\n"
        "  --backup DIR          copy the settings, model, schedules, passwords, tokens\n"
        "                        and history into the new folder DIR, also while running\n"
        "  --restore DIR         put the backup in DIR in place (the program must not run)\n"
        "  --check               say what a start would refuse of the files it reads\n"
        "  --help                show this text and exit\n"
        "  --version             show the version and exit\n"
        "\n"
        "SIGTERM or SIGINT stop it in order; SIGHUP reads the settings again. It uses\n"
        "the same program folder and settings as the window and never runs beside it\n"
        "on one folder.\n");
}
