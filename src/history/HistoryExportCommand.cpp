#include "history/HistoryExportCommand.h"

#include "history/EventCsv.h"
#include "history/EventStore.h"
#include "history/HistoryTime.h"
#include "platform/CommandApplication.h"
#include "platform/Paths.h"

#include <QLoggingCategory>
#include <QSaveFile>

#include <cstdio>

namespace {

struct ExportArguments {
    QString file;
    std::optional<qint64> sinceMs;
    QString error; // a wrong command line, when not empty
};

ExportArguments parse(QStringList rest) {
    ExportArguments parsed;
    const auto valueOf = [&rest](const QString& option, QString& value) {
        const qsizetype at = rest.indexOf(option);
        if (at < 0)
            return true;
        if (at + 1 >= rest.size() || rest.at(at + 1).isEmpty() || rest.at(at + 1).startsWith(u'-'))
            return false;
        value = rest.at(at + 1);
        rest.remove(at, 2);
        return true;
    };
    QString since;
    if (!valueOf(QStringLiteral("--history-export"), parsed.file) || parsed.file.isEmpty()) {
        parsed.error = QStringLiteral("--history-export needs a file name");
        return parsed;
    }
    if (!valueOf(QStringLiteral("--since"), since)) {
        parsed.error = QStringLiteral("--since needs a date such as 2026-12-01");
        return parsed;
    }
    if (!rest.isEmpty()) {
        parsed.error = QStringLiteral("--history-export takes no other arguments than a file "
                                      "name and --since DATE");
        return parsed;
    }
    if (!since.isEmpty()) {
        parsed.sinceMs = HistoryTimeFrom(since, QTimeZone::systemTimeZone());
        if (!parsed.sinceMs)
            parsed.error = QStringLiteral("--since \"%1\" is no date such as 2026-12-01 or date "
                                          "and time such as 2026-12-01T08:00")
                               .arg(since);
    }
    return parsed;
}

void complain(const QString& program, const QString& line) {
    std::fputs(qPrintable(program + QStringLiteral(": ") + line + QLatin1Char('\n')), stderr);
}

int exportHistory(const ExportArguments& arguments, const QString& program) {
    // Its problems are told in the one line below, not twice.
    QLoggingCategory::setFilterRules(QStringLiteral("norvik.history.warning=false"));
    EventStore store(ProgramFolderPath() + QStringLiteral("/History.sqlite"),
                     EventStore::Mode::Read);
    if (store.open() != EventStore::OpenResult::Opened) {
        complain(program, QStringLiteral("no history to export: %1").arg(store.message()));
        return 1;
    }
    QSaveFile out(arguments.file);
    const auto failed = [&] {
        complain(program,
                 QStringLiteral("cannot write %1: %2").arg(arguments.file, out.errorString()));
        return 1;
    };
    if (!out.open(QIODevice::WriteOnly) || out.write(EventCsvHeader()) < 0)
        return failed();
    EventFilter filter;
    filter.fromMs = arguments.sinceMs;
    const QTimeZone zone = QTimeZone::systemTimeZone();
    qint64 written = 0;
    std::optional<EventCursor> after;
    do {
        const EventPage page = store.page(filter, after, EventStore::MaxPage);
        if (!page.problem.isEmpty()) {
            complain(program, QStringLiteral("the history cannot be read: %1; %2 is left as it was")
                                  .arg(page.problem, arguments.file));
            return 1;
        }
        for (const HistoryEvent& event : page.events) {
            if (out.write(EventCsvLine(event, zone)) < 0)
                return failed();
        }
        written += qint64(page.events.size());
        after = page.next;
    } while (after);
    if (!out.commit())
        return failed();
    std::fputs(
        qPrintable(QStringLiteral("%1 events written to %2\n").arg(written).arg(arguments.file)),
        stdout);
    return 0;
}

} // namespace

std::optional<int> RunHistoryExportCommand(const QStringList& arguments, const QString& program) {
    if (!arguments.contains(QLatin1String("--history-export")))
        return std::nullopt;
    const ExportArguments parsed = parse(arguments);
    if (!parsed.error.isEmpty()) {
        complain(program, parsed.error);
        std::fputs(qPrintable(HistoryExportUsage()), stderr);
        return 2;
    }
    // Qt SQL loads its SQLite driver through the application.
    const CommandApplication app(program);
    return exportHistory(parsed, program);
}

QString HistoryExportUsage() {
    return QStringLiteral(
        "  --history-export FILE [--since DATE]\n"
        "                        write the event history (newest first, from DATE on)\n"
        "                        to the CSV file FILE and exit\n");
}
