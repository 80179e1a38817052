#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class QHttpServerResponse;

// Small rules of HTTP the endpoint applies itself, free of I/O.

// The end of a request's head in `bytes` (the index just past its blank
// line), or -1 while the head is incomplete.
qsizetype RequestHeadEnd(const QByteArray& bytes);

// The length of the body that follows a request head: its Content-Length,
// 0 without one or when it does not parse.
qint64 RequestBodyLength(const QByteArray& head);

// True when the client asked that the connection close after the answer:
// an HTTP/1.0 request, or "Connection: close".
bool WantsCloseAfterAnswer(const QByteArray& head);

// True when an Authorization value carries `token` in the Bearer scheme
// (the scheme's name in any case). The comparison takes the same time
// wherever the first difference lies, so timing tells nothing of the token.
bool BearerTokenMatches(const QByteArray& authorization, const QByteArray& token);

// The short name of an error status, the "error" of its answer
// ("not_found" for 404); "error" for a status without one.
QByteArray ErrorName(int status);

// The reason of a 401.
inline constexpr char UnauthorizedText[] = "no token, or a token the endpoint does not know";

// The body of an error answer: {"error": <its status's name>, "reason": reason}.
QByteArray ErrorJson(int status, const QString& reason);
// An error answer: that body, with the headers that go with its status:
// WWW-Authenticate on 401, Allow (`allow`, the methods the route takes) on
// 405, Retry-After on 429.
QHttpServerResponse ErrorResponse(int status, const QString& reason, const QByteArray& allow = {});
// The same headers, added to an answer built elsewhere.
void AddErrorHeaders(QHttpServerResponse& response, const QByteArray& allow);

// The Allow of a route taking `method`: a GET route takes HEAD too.
QByteArray AllowedMethods(const QByteArray& method);

// Every header an answer of the endpoint may carry besides Content-Length:
// an answer to HEAD repeats these from the answer to GET.
const QList<QByteArray>& AnswerHeaderNames();
