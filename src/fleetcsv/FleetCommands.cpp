#include "fleetcsv/FleetCommands.h"

#include "core/AppState.h"
#include "core/FleetCopy.h"
#include "core/Startup.h"
#include "fleetcsv/FleetCsv.h"
#include "fleetcsv/FleetImport.h"
#include "fleetcsv/FleetImportApply.h"
#include "pjlink/PJLinkPasswords.h"
#include "platform/CommandApplication.h"
#include "platform/Paths.h"
#include "platform/SafeFile.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

struct FleetArguments {
    enum class Action { None, Export, Import, Wrong };
    Action action = Action::None;
    QString file;
    bool dryRun = false;
    QString error;
};

FleetArguments parse(const QStringList& arguments) {
    FleetArguments parsed;
    const bool exporting = arguments.contains(QLatin1String("--export"));
    const bool importing = arguments.contains(QLatin1String("--import"));
    if (!exporting && !importing)
        return parsed;
    const auto wrong = [&parsed](const QString& error) {
        parsed.action = FleetArguments::Action::Wrong;
        parsed.error = error;
        return parsed;
    };
    if (exporting && importing)
        return wrong(QStringLiteral("--export and --import cannot be given together"));
    QStringList rest = arguments;
    parsed.dryRun = rest.removeAll(QStringLiteral("--dry-run")) > 0;
    const QString option = exporting ? QStringLiteral("--export") : QStringLiteral("--import");
    if (exporting && parsed.dryRun)
        return wrong(QStringLiteral("--dry-run goes with --import only"));
    const qsizetype at = rest.indexOf(option);
    if (at + 1 >= rest.size() || rest.at(at + 1).isEmpty())
        return wrong(QStringLiteral("%1 needs a file name").arg(option));
    parsed.file = rest.at(at + 1);
    rest.remove(at, 2);
    if (!rest.isEmpty())
        return wrong(QStringLiteral("%1 takes no other arguments than %2")
                         .arg(option, exporting ? QStringLiteral("a file name")
                                                : QStringLiteral("a file name and --dry-run")));
    parsed.action = exporting ? FleetArguments::Action::Export : FleetArguments::Action::Import;
    return parsed;
}

class Output {
  public:
    explicit Output(QString program) : m_program(std::move(program)) {}
    void say(const QString& line) const {
        std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    }
    void complain(const QString& line) const {
        std::fputs(qPrintable(m_program + QStringLiteral(": ") + line + QLatin1Char('\n')), stderr);
    }

  private:
    QString m_program;
};

bool loadReadOnly(AppState& state, const QTemporaryDir& copies, const Output& out) {
    QString error;
    if (LoadFleetCopy(state, copies, &error))
        return true;
    out.complain(error);
    return false;
}

int exportFleet(const QString& file, const Output& out) {
    const auto state = std::make_unique<AppState>();
    const QTemporaryDir copies;
    if (!loadReadOnly(*state, copies, out))
        return 1;
    const QByteArray text = ExportFleetCsv(*state);
    if (const FileOutcome written = WriteFileAtomically(file, text, 0644); !written) {
        out.complain(written.error);
        return 1;
    }
    out.say(QStringLiteral("%1 projectors written to %2").arg(state->ProjectorCount).arg(file));
    return 0;
}

void listPlan(const ImportPlan& plan, const Output& out) {
    for (const ImportRow& row : plan.rows)
        out.say(ImportRowText(row));
}

int refuse(const ImportPlan& plan, const QString& file, const Output& out) {
    for (const ImportError& e : plan.errors)
        out.complain(file + QStringLiteral(": ") + ImportErrorText(e));
    out.complain(
        QStringLiteral("%1: %2 errors; nothing imported").arg(file).arg(plan.errors.size()));
    return 1;
}

// What the import would do, from copies: it runs beside a running program
// and writes nothing.
std::optional<ImportPlan> planFromCopies(const QByteArray& bytes, const Output& out) {
    const auto state = std::make_unique<AppState>();
    const QTemporaryDir copies;
    if (!loadReadOnly(*state, copies, out))
        return std::nullopt;
    return PlanImport(*state, bytes);
}

// The rows' PJLink passwords, kept where the program keeps them (the
// window's secret store, else the passwords file); waits for each to be kept. False when one
// could not be.
bool storePasswords(AppState& state, const ImportPlan& plan, const Output& out) {
    PJLinkPasswords passwords(state);
    QEventLoop loop;
    int pending = 0;
    bool kept = true;
    QObject::connect(&passwords, &PJLinkPasswords::stored, &loop,
                     [&](const QString& key, PJLinkPasswords::Place place) {
                         if (place == PJLinkPasswords::Place::None) {
                             out.complain(
                                 QStringLiteral("the password of %1 was not kept").arg(key));
                             kept = false;
                         }
                         if (--pending == 0)
                             loop.quit();
                     });
    for (const ImportRow& row : plan.rows) {
        if (row.password.isEmpty())
            continue;
        ++pending;
        if (!passwords.store(row.config.IPAddress, row.config.PortNo, row.password)) {
            --pending;
            out.complain(QStringLiteral("line %1: the password cannot be kept").arg(row.line));
            kept = false;
        }
    }
    // A secret store that never answers must not hold the command forever.
    QTimer::singleShot(std::chrono::minutes(1), &loop, &QEventLoop::quit);
    if (pending > 0)
        loop.exec();
    return kept && pending == 0;
}

int importFleet(const FleetArguments& arguments, SecretStore* secrets, const Output& out) {
    QString error;
    const std::optional<QByteArray> bytes = ReadRegularFile(arguments.file, &error);
    if (!bytes) {
        out.complain(error.isEmpty() ? QStringLiteral("%1: no such file").arg(arguments.file)
                                     : error);
        return 1;
    }
    // A file with errors is refused before the folder is touched.
    const std::optional<ImportPlan> preview = planFromCopies(*bytes, out);
    if (!preview)
        return 1;
    if (!preview->ok())
        return refuse(*preview, arguments.file, out);
    if (arguments.dryRun) {
        listPlan(*preview, out);
        out.say(QStringLiteral("dry run: %1; nothing written").arg(ImportSummary(*preview)));
        return 0;
    }
    const auto state = std::make_unique<AppState>();
    state->Secrets = secrets;
    ProgramSession session(*state);
    if (!session.start({})) {
        if (session.outcome() == ProgramSession::Outcome::AlreadyRunning)
            out.complain(QStringLiteral("the program folder %1 is in use by %2; nothing imported")
                             .arg(state->ProgramFolder, session.problem().isEmpty()
                                                            ? QStringLiteral("another program")
                                                            : session.problem()));
        else
            out.complain(QStringLiteral("cannot import: %1").arg(session.problem()));
        return 1;
    }
    session.store().LoadTree(*state);
    const ImportPlan plan = PlanImport(*state, *bytes);
    if (!plan.ok())
        return refuse(plan, arguments.file, out);
    listPlan(plan, out);
    const ImportOutcome outcome = ApplyImport(*state, session.store(), plan);
    if (!outcome.applied || !outcome.saved) {
        out.complain(QStringLiteral("nothing imported: %1").arg(outcome.error));
        return 1;
    }
    out.say(QStringLiteral("imported: %1").arg(ImportSummary(plan)));
    return storePasswords(*state, plan, out) ? 0 : 1;
}

} // namespace

std::optional<int> RunFleetCommand(const QStringList& arguments, const QString& program,
                                   SecretStore* secrets) {
    const FleetArguments parsed = parse(arguments);
    const Output out(program);
    switch (parsed.action) {
    case FleetArguments::Action::None:
        return std::nullopt;
    case FleetArguments::Action::Wrong:
        out.complain(parsed.error);
        std::fputs(qPrintable(FleetCommandUsage()), stderr);
        return 2;
    case FleetArguments::Action::Export:
        return exportFleet(parsed.file, out);
    case FleetArguments::Action::Import: {
        // The folder's lock names its holder by this name; the secret store
        // answers through an event loop.
        QCoreApplication::setApplicationName(program);
        const CommandApplication app(program);
        return importFleet(parsed, secrets, out);
    }
    }
    return std::nullopt;
}

QString FleetCommandUsage() {
    return QStringLiteral(
        "  --export FILE              write the fleet to the CSV file FILE and exit\n"
        "  --import FILE [--dry-run]  merge the CSV file FILE into the fleet and exit\n"
        "                             (--dry-run: only list what would change)\n");
}
