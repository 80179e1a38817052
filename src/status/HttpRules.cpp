#include "status/HttpRules.h"

#include <QCryptographicHash>
#include <QList>

qsizetype RequestHeadEnd(const QByteArray& bytes) {
    const qsizetype crlf = bytes.indexOf("\r\n\r\n");
    const qsizetype lf = bytes.indexOf("\n\n");
    if (crlf >= 0 && (lf < 0 || crlf < lf))
        return crlf + 4;
    return lf >= 0 ? lf + 2 : -1;
}

namespace {

// The values of every header line named `name` (in any case).
QList<QByteArray> HeaderValues(const QByteArray& head, const QByteArray& name) {
    QList<QByteArray> values;
    const QList<QByteArray> lines = head.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.first(colon).trimmed().toLower() == name)
            values << line.mid(colon + 1).trimmed();
    }
    return values;
}

} // namespace

qint64 RequestBodyLength(const QByteArray& head) {
    const QList<QByteArray> values = HeaderValues(head, "content-length");
    bool ok = false;
    const qint64 length = values.isEmpty() ? 0 : values.first().toLongLong(&ok);
    return ok && length > 0 ? length : 0;
}

bool WantsCloseAfterAnswer(const QByteArray& head) {
    const QByteArray requestLine = head.first(qMax<qsizetype>(0, head.indexOf('\n')));
    if (requestLine.trimmed().endsWith("HTTP/1.0"))
        return true;
    for (const QByteArray& value : HeaderValues(head, "connection"))
        for (const QByteArray& option : value.split(','))
            if (option.trimmed().toLower() == "close")
                return true;
    return false;
}

bool BearerTokenMatches(const QByteArray& authorization, const QByteArray& token) {
    const QByteArray value = authorization.trimmed();
    constexpr qsizetype SchemeLength = 6; // "Bearer"
    if (value.size() <= SchemeLength || value.first(SchemeLength).toLower() != "bearer" ||
        (value[SchemeLength] != ' ' && value[SchemeLength] != '\t'))
        return false;
    // Digests of equal length, compared byte by byte to the end.
    const QByteArray given =
        QCryptographicHash::hash(value.mid(SchemeLength).trimmed(), QCryptographicHash::Sha256);
    const QByteArray wanted = QCryptographicHash::hash(token, QCryptographicHash::Sha256);
    unsigned char difference = 0;
    for (qsizetype i = 0; i < wanted.size(); ++i)
        difference |= static_cast<unsigned char>(given[i] ^ wanted[i]);
    return difference == 0;
}
