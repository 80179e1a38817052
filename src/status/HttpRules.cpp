#include "status/HttpRules.h"

#include <QCryptographicHash>
#include <QHttpServerResponse>
#include <QJsonDocument>
#include <QJsonObject>
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

QByteArray ErrorName(int status) {
    switch (status) {
    case 400:
        return "bad_request";
    case 401:
        return "unauthorized";
    case 403:
        return "forbidden";
    case 404:
        return "not_found";
    case 405:
        return "method_not_allowed";
    case 408:
        return "request_timeout";
    case 409:
        return "conflict";
    case 413:
        return "too_large";
    case 429:
        return "too_many_requests";
    case 503:
        return "unavailable";
    default:
        break;
    }
    return "error";
}

QByteArray ErrorJson(int status, const QString& reason) {
    const QJsonObject body{{QStringLiteral("error"), QString::fromLatin1(ErrorName(status))},
                           {QStringLiteral("reason"), reason}};
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

QHttpServerResponse ErrorResponse(int status, const QString& reason, const QByteArray& allow) {
    QHttpServerResponse response("application/json", ErrorJson(status, reason) + '\n',
                                 QHttpServerResponse::StatusCode(status));
    AddErrorHeaders(response, allow);
    return response;
}

void AddErrorHeaders(QHttpServerResponse& response, const QByteArray& allow) {
    switch (int(response.statusCode())) {
    case 401:
        response.setHeader("WWW-Authenticate", "Bearer");
        break;
    case 405:
        response.setHeader("Allow", allow);
        break;
    case 429:
        // Every rate the endpoint keeps is counted over the last second.
        response.setHeader("Retry-After", "1");
        break;
    default:
        break;
    }
}

QByteArray AllowedMethods(const QByteArray& method) {
    return method == "GET" ? QByteArray("GET, HEAD") : method;
}

const QList<QByteArray>& AnswerHeaderNames() {
    static const QList<QByteArray> names = {
        "Content-Type", "Content-Encoding", "Vary", "WWW-Authenticate", "Allow", "Retry-After"};
    return names;
}
