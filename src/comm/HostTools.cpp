#include "comm/HostTools.h"

#include <QRegularExpression>
#include <QStringList>

namespace {

bool isDottedNumbers(const QString& text)
{
    static const QRegularExpression digitsAndDots(QStringLiteral("^[0-9.]+$"));
    return digitsAndDots.match(text).hasMatch();
}

bool isIPv4(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QString& part : parts) {
        bool ok = false;
        const int n = part.toInt(&ok);
        if (part.isEmpty() || part.size() > 3 || !ok || n < 0 || n > 255)
            return false;
    }
    return true;
}

} // namespace

bool IsValidHostAddress(const QString& address)
{
    if (isDottedNumbers(address))
        return isIPv4(address);
    static const QRegularExpression hostName(QStringLiteral(
        "^(?=.{1,253}$)[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?"
        "(\\.[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?)*$"));
    return hostName.match(address).hasMatch();
}

bool PingAnswered(const QString& output)
{
    const QStringList lines = output.split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        if (line.contains(QStringLiteral("bytes from")))
            return true;
    }
    return false;
}

QString ParseNeighbourMac(const QString& output, const QString& address)
{
    static const QRegularExpression macShape(
        QStringLiteral("^[0-9A-Fa-f]{2}(:[0-9A-Fa-f]{2}){5}$"));
    QString mac;
    const QStringList lines = output.split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const QStringList tokens = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (tokens.isEmpty() || tokens.first() != address)
            continue;
        const qsizetype at = tokens.indexOf(QStringLiteral("lladdr"));
        if (at < 0 || at + 1 >= tokens.size())
            continue;
        if (tokens.contains(QStringLiteral("PERMANENT")) || tokens.contains(QStringLiteral("NOARP")))
            continue;
        if (macShape.match(tokens.at(at + 1)).hasMatch())
            mac = tokens.at(at + 1).toUpper();
    }
    return mac;
}

SerialLineSettings ParseComSettings(const QString& text)
{
    SerialLineSettings s;
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        return s;
    bool ok = false;
    s.baudRate = parts.at(0).trimmed().toInt(&ok);
    if (!ok || s.baudRate <= 0)
        return s;

    const QString parity = parts.at(1).trimmed().toLower();
    if (parity == QLatin1String("n"))
        s.parity = QSerialPort::NoParity;
    else if (parity == QLatin1String("e"))
        s.parity = QSerialPort::EvenParity;
    else if (parity == QLatin1String("o"))
        s.parity = QSerialPort::OddParity;
    else if (parity == QLatin1String("m"))
        s.parity = QSerialPort::MarkParity;
    else if (parity == QLatin1String("s"))
        s.parity = QSerialPort::SpaceParity;
    else
        return s;

    const int bits = parts.at(2).trimmed().toInt(&ok);
    if (!ok || bits < 5 || bits > 8)
        return s;
    s.dataBits = QSerialPort::DataBits(bits);

    const QString stop = parts.at(3).trimmed();
    if (stop == QLatin1String("1"))
        s.stopBits = QSerialPort::OneStop;
    else if (stop == QLatin1String("1.5"))
        s.stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == QLatin1String("2"))
        s.stopBits = QSerialPort::TwoStop;
    else
        return s;
    s.valid = true;
    return s;
}
