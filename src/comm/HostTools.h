#pragma once

#include <QSerialPort>
#include <QString>

// Pure helpers for the text that crosses to the operating system: addresses
// handed to ping and ip, their output, and serial line settings.

// True for a dotted IPv4 address or a host name made of letters, digits,
// hyphens and dots (no label starting with "-", so it can never read as an
// option). Anything else is never handed to a command.
bool IsValidHostAddress(const QString& address);

// A ping answered when its output holds a line with "bytes from".
bool PingAnswered(const QString& output);

// The MAC address of `address` in the output of `ip -4 neigh show <address>`:
// the lladdr of an entry whose state is neither PERMANENT nor NOARP, upper
// case ("00:1A:2B:3C:4D:5E"); a later matching line overwrites an earlier
// one. Empty when none.
QString ParseNeighbourMac(const QString& output, const QString& address);

// "19200,n,8,1": baud, parity n/e/o/m/s, data bits 5..8, stop bits 1, 1.5
// or 2. `valid` is false for any other text.
struct SerialLineSettings {
    bool valid = false;
    qint32 baudRate = 0;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};
SerialLineSettings ParseComSettings(const QString& text);
