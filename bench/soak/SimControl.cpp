#include "SimControl.h"

#include <QHostAddress>

SimControl::SimControl(quint16 port, QObject* parent) : QObject(parent) {
    connect(&m_socket, &QTcpSocket::readyRead, this, &SimControl::readAnswers);
    // Lines written while the connection is still being made are buffered by
    // the socket and go out once it is up.
    m_socket.connectToHost(QHostAddress::LocalHost, port);
}

void SimControl::send(const QString& line) {
    ++m_sent;
    if (m_socket.state() == QAbstractSocket::UnconnectedState ||
        m_socket.write((line + QLatin1Char('\n')).toLocal8Bit()) < 0)
        ++m_failed;
}

void SimControl::readAnswers() {
    while (m_socket.canReadLine()) {
        if (m_socket.readLine().startsWith("OK"))
            ++m_ok;
        else
            ++m_failed;
    }
}
