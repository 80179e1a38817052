// Importing a whole fleet from CSV: 256 projectors in 16 groups into an
// empty program folder, from reading the file to the settings file saved,
// split into the check and plan and the apply with its one atomic save.
// Also the export of the same fleet and, with --program, the whole
// norvik3d --import run. Prints the median and the range of several runs.

#include "core/AppState.h"
#include "core/Fleet.h"
#include "core/SettingsStore.h"
#include "core/Startup.h"
#include "fleetcsv/FleetCsv.h"
#include "fleetcsv/FleetImport.h"
#include "fleetcsv/FleetImportApply.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

QByteArray fleetFile() {
    QByteArray file = "Group,Name,Protocol,Connection,Address,Port,COMPort,COMSettings,Model,"
                      "MACAddress,Password\r\n";
    for (int n = 0; n < MaxProjectors; ++n) {
        const bool pjlink = n % 4 == 3;
        file += QStringLiteral("Floor %1,R%2 Left,%3,lan,192.0.2.%4,%5,,,%6,,\r\n")
                    .arg(n / 16 + 1)
                    .arg(200 + n)
                    .arg(pjlink ? QStringLiteral("pjlink") : QStringLiteral("native"))
                    .arg(n % 250 + 1)
                    .arg(pjlink ? 4352 : 23 + n / 250)
                    .arg(pjlink ? QString() : QStringLiteral("VX-4200"))
                    .toUtf8();
    }
    return file;
}

struct Figures {
    std::vector<double> plan, apply, total, exportMs, program;
};

void report(const char* what, std::vector<double> ms) {
    if (ms.empty())
        return;
    std::sort(ms.begin(), ms.end());
    std::printf("%-34s median %8.2f ms   min %8.2f   max %8.2f\n", what, ms[ms.size() / 2],
                ms.front(), ms.back());
}

double elapsedMs(const QElapsedTimer& timer) {
    return double(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({{"r", "runs"}, "Number of runs (default 9).", "n", "9"});
    parser.addOption({"program", "Also time the whole run of this norvik3d --import.", "path"});
    parser.process(app);
    const int runs = std::max(1, parser.value("runs").toInt());
    const QByteArray csv = fleetFile();

    Figures figures;
    for (int run = 0; run < runs; ++run) {
        QTemporaryDir home;
        QFile models(home.filePath("PJModel.txt"));
        if (!models.open(QIODevice::WriteOnly) || models.write(SampleModelFile()) < 0)
            return 1;
        models.close();
        const QString fleet = home.filePath("fleet.csv");
        QFile file(fleet);
        if (!file.open(QIODevice::WriteOnly) || file.write(csv) != csv.size())
            return 1;
        file.close();

        auto state = std::make_unique<AppState>();
        state->ProgramFolder = home.path();
        const SettingsStore store(home.filePath("Norvik3.conf"));
        store.LoadConfiguration(*state);
        store.LoadTree(*state);

        QElapsedTimer timer;
        timer.start();
        QFile in(fleet);
        if (!in.open(QIODevice::ReadOnly))
            return 1;
        const ImportPlan plan = PlanImport(*state, in.readAll());
        figures.plan.push_back(elapsedMs(timer));
        if (!plan.ok() || plan.added != MaxProjectors) {
            std::fprintf(stderr, "the plan is not what was meant: %d added, %d errors\n",
                         plan.added, int(plan.errors.size()));
            return 1;
        }
        QElapsedTimer applying;
        applying.start();
        const ImportOutcome outcome = ApplyImport(*state, store, plan);
        figures.apply.push_back(elapsedMs(applying));
        figures.total.push_back(elapsedMs(timer));
        if (!outcome.saved)
            return 1;

        QElapsedTimer exporting;
        exporting.start();
        const QByteArray out = ExportFleetCsv(*state);
        figures.exportMs.push_back(elapsedMs(exporting));
        if (out.size() < csv.size() / 2)
            return 1;

        if (parser.isSet("program")) {
            QTemporaryDir other;
            QProcess process;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("NORVIK3_HOME", other.path());
            process.setProcessEnvironment(env);
            QElapsedTimer whole;
            whole.start();
            process.start(parser.value("program"), {"--import", fleet});
            if (!process.waitForFinished(60000) || process.exitCode() != 0)
                return 1;
            figures.program.push_back(elapsedMs(whole));
        }
    }
    std::printf("256 rows, %lld bytes, %d runs\n", qint64(csv.size()), runs);
    report("read, check and plan", figures.plan);
    report("apply and the one save", figures.apply);
    report("file to the save", figures.total);
    report("export of the 256", figures.exportMs);
    report("norvik3d --import, whole run", figures.program);
    return 0;
}
