#include "app/Application.h"

#include <QApplication>

#include <memory>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("KESTRAN"));
    QApplication::setApplicationName(QStringLiteral("Norvik3"));
    // The state's tables take a few megabytes: they live on the heap.
    const auto program = std::make_unique<Application>();
    if (!program->start(app.arguments().mid(1)))
        return 0;
    return app.exec();
}
