#include "app/Application.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>

#include <cstdio>
#include <memory>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("KESTRAN"));
    QApplication::setApplicationName(QStringLiteral("Norvik3"));
    // The state's tables take a few megabytes: they live on the heap.
    const auto program = std::make_unique<Application>();
    if (!program->start(app.arguments().mid(1))) {
        const ProgramSession& session = program->session();
        // A second start with the same folder ends silently.
        if (session.outcome() == ProgramSession::Outcome::AlreadyRunning)
            return 0;
        std::fprintf(stderr, "norvik3: %s\n", qPrintable(session.problem()));
        if (QGuiApplication::platformName() != QLatin1String("offscreen"))
            QMessageBox::critical(
                nullptr, QStringLiteral("Norvik3"),
                QStringLiteral("Norvik3 cannot start: %1.").arg(session.problem()));
        return 1;
    }
    return app.exec();
}
