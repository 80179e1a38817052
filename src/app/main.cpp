#include "app/Application.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("KESTRAN"));
    QApplication::setApplicationName(QStringLiteral("Norvik3"));
    Application program;
    if (!program.start(app.arguments().mid(1)))
        return 0;
    return app.exec();
}
