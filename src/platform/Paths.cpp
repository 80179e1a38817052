#include "platform/Paths.h"

#include <QDir>
#include <QStandardPaths>

namespace {

QString homeOverride() {
    return qEnvironmentVariable("NORVIK3_HOME");
}

} // namespace

QString ProgramFolderPath() {
    const QString home = homeOverride();
    if (!home.isEmpty())
        return QDir::cleanPath(home);
    // The per-user data folder of organisation KESTRAN, application Norvik3;
    // spelt out so that it does not depend on the application's names.
    return QDir::cleanPath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                           QStringLiteral("/KESTRAN/Norvik3"));
}

QString SettingsFilePath() {
    const QString home = homeOverride();
    if (!home.isEmpty())
        return QDir::cleanPath(home) + QStringLiteral("/Norvik3.conf");
    return QDir::cleanPath(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                           QStringLiteral("/KESTRAN/Norvik3.conf"));
}
