#pragma once

#include <QHostAddress>
#include <QString>
#include <QTcpServer>

// The path of one of the built programs (norvik3, norvik3d, ...).
inline QString TestBinary(const QString& name) {
    return qEnvironmentVariable("NORVIK3_BIN_DIR") + QLatin1Char('/') + name;
}

// A TCP port on 127.0.0.1 that was free a moment ago.
inline quint16 FreeTcpPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}
