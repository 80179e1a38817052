#pragma once

#include "core/AppState.h"

#include <QByteArray>

// Byte-level rules of the reply protocol, free of any I/O.

inline constexpr quint8 ReplyAcknowledge = 0x06;
inline constexpr quint8 ReplyRefusal = 0x15;
inline constexpr quint8 ReplyError = 0x1C;
inline constexpr quint8 ReplyData = 0x1D;

inline constexpr int ActionSet = 1;
inline constexpr int ActionGet = 2;

// Little-endian fields of a queued command; -1 when the command is too short.
int FrameAction(const QByteArray& command);
int FrameType(const QByteArray& command);
int FrameValue(const QByteArray& command);

// Whether the bytes received so far form a complete reply, decided by the
// first byte: acknowledge and refusal need one byte, error and data replies
// three, any other lead byte completes at once. An empty buffer never does.
bool IsReplyComplete(const QByteArray& received);

// Only the first three bytes of a reply carry meaning; a queue entry keeps at
// most this many of a data reply.
inline constexpr int MaxStoredReplyBytes = 16;

// Appends bytes just read to a receive buffer as a copy, so the buffer never
// keeps the far larger allocation that a read hands back.
void AppendReceived(QByteArray& buffer, const QByteArray& chunk);

// Whether a byte can start a reply of the protocol (06, 15, 1C or 1D).
bool IsProtocolLead(quint8 lead);

// The queue state a complete reply gives the command it answers: a get
// command needs a data reply (6), every other known action an acknowledge
// (3); any other reply of the protocol is a refusal (4). Bytes that start no
// reply of the protocol are no answer: a time-out (5). For an action outside
// 1..6 the state stays as it was (returns current).
qint16 ClassifyReply(const QByteArray& command, const QByteArray& reply, qint16 current);

// The value of a data reply: byte 1 + 256 * byte 2. The two bytes are read
// as an unsigned number and clipped to 32767, so a high byte of 0x80 or more
// gives a large positive value (out of range for every coded item) instead
// of a negative one. A reply shorter than three bytes gives -1.
qint16 DataValue(const QByteArray& reply);
