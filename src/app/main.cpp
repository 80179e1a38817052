#include "app/Application.h"
#include "core/CommandLine.h"
#include "core/Version.h"
#include "discovery/DiscoverCommand.h"
#include "fleetcsv/FleetCommands.h"
#include "ui/KeychainSecretStore.h"

#include <QApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QMessageBox>

#include <cstdio>
#include <memory>

int main(int argc, char* argv[])
{
    // Answered before any application object exists: no display needed.
    KeychainSecretStore secrets;
    if (const std::optional<int> code =
            RunFleetCommand(ArgumentsOf(argc, argv), QStringLiteral("norvik3"), &secrets))
        return *code;
    if (const auto code = RunDiscoverCommand(argc, argv, "norvik3"))
        return *code;
    const CommandLine line = ParseWindowCommandLine(ArgumentsOf(argc, argv));
    switch (line.action) {
    case CommandLine::Action::Help:
        std::fputs(qPrintable(WindowUsage()), stdout);
        return 0;
    case CommandLine::Action::Version:
        std::printf("norvik3 %s\n", qPrintable(ProgramVersion()));
        return 0;
    case CommandLine::Action::Error:
        std::fprintf(stderr, "norvik3: %s\n%s", qPrintable(line.error), qPrintable(WindowUsage()));
        return 2;
    case CommandLine::Action::Run:
        break;
    }

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("KESTRAN"));
    QApplication::setApplicationName(QStringLiteral("Norvik3"));
    // Ties the window to its desktop entry, and gives it the icon drawn at
    // every size the desktop asks for.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.kestran.Norvik3"));
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/norvik3/icons/org.kestran.Norvik3-%1.png").arg(size));
    QApplication::setWindowIcon(icon);
    const bool desktop = QGuiApplication::platformName() != QLatin1String("offscreen");
    const auto program = std::make_unique<Application>();
    if (!program->start(line.words)) {
        const ProgramSession& session = program->session();
        if (session.outcome() == ProgramSession::Outcome::AlreadyRunning) {
            // A second window ends silently; the service holding the folder
            // is named, with how to stop it.
            if (session.problem() != QLatin1String("norvik3d"))
                return 0;
            const QString text = QStringLiteral(
                "The program folder is in use by the Norvik3 service (norvik3d). Stop it first, "
                "for example with \"systemctl --user stop norvik3d\", then start the window again.");
            std::fprintf(stderr, "norvik3: %s\n", qPrintable(text));
            if (desktop)
                QMessageBox::information(nullptr, QStringLiteral("Norvik3"), text);
            return 0;
        }
        std::fprintf(stderr, "norvik3: %s\n", qPrintable(session.problem()));
        if (desktop)
            QMessageBox::critical(nullptr, QStringLiteral("Norvik3"),
                                  QStringLiteral("Norvik3 cannot start: %1.").arg(session.problem()));
        return 1;
    }
    return app.exec();
}
