#pragma once

#include <QString>

// Where the status endpoint listens and what it asks of a client; from
// Setting/StatusHttpPort (empty or 0: off), Setting/StatusHttpAddress
// (127.0.0.1 by default), Setting/StatusHttpToken (empty: no token) and
// Setting/StatusHttpCertificate with Setting/StatusHttpKey (PEM files: TLS
// only); the tokens file lies beside the settings file.
struct StatusEndpointSettings {
    QString address = QStringLiteral("127.0.0.1");
    int port = 0;
    QString token;
    QString certificate{};
    QString key{};
    QString tokensFile{}; // empty: none
    bool usesTls() const { return !certificate.isEmpty() || !key.isEmpty(); }
};

StatusEndpointSettings ReadStatusEndpointSettings(const QString& settingsFile);
