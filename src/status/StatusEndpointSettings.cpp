#include "status/StatusEndpointSettings.h"

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
    return settings;
}
