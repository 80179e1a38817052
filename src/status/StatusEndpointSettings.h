#pragma once

#include <QString>

// Where the status endpoint listens and what it asks of a client; from
// Setting/StatusHttpPort (empty or 0: off), Setting/StatusHttpAddress
// (127.0.0.1 by default) and Setting/StatusHttpToken (empty: no token).
struct StatusEndpointSettings {
    QString address = QStringLiteral("127.0.0.1");
    int port = 0;
    QString token;
};

StatusEndpointSettings ReadStatusEndpointSettings(const QString& settingsFile);
