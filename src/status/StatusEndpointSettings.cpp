#include "status/StatusEndpointSettings.h"

#include "status/ApiTokens.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

StatusEndpointSettings ReadStatusEndpointSettings(const QString& settingsFile) {
    const QSettings s(settingsFile, QSettings::IniFormat);
    StatusEndpointSettings settings;
    bool ok = false;
    const int port =
        s.value(QStringLiteral("Setting/StatusHttpPort")).toString().trimmed().toInt(&ok);
    settings.port = ok && port > 0 && port <= 65535 ? port : 0;
    const QString address =
        s.value(QStringLiteral("Setting/StatusHttpAddress")).toString().trimmed();
    if (!address.isEmpty())
        settings.address = address;
    settings.token = s.value(QStringLiteral("Setting/StatusHttpToken")).toString().trimmed();
    // A relative path is taken from the settings file's folder.
    const QDir folder = QFileInfo(settingsFile).absoluteDir();
    const auto path = [&s, &folder](const QString& key) {
        const QString value = s.value(key).toString().trimmed();
        return value.isEmpty() ? value : folder.absoluteFilePath(value);
    };
    settings.certificate = path(QStringLiteral("Setting/StatusHttpCertificate"));
    settings.key = path(QStringLiteral("Setting/StatusHttpKey"));
    settings.tokensFile = ApiTokensFilePath(settingsFile);
    return settings;
}
