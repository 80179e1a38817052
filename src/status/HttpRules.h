#pragma once

#include <QByteArray>

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
