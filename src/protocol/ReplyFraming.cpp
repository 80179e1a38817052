#include "protocol/ReplyFraming.h"

#include <algorithm>

namespace {

int word(const QByteArray& bytes, int offset) {
    if (bytes.size() < offset + 2)
        return -1;
    return quint8(bytes.at(offset)) | (quint8(bytes.at(offset + 1)) << 8);
}

} // namespace

int FrameAction(const QByteArray& command) {
    return word(command, 7);
}

int FrameType(const QByteArray& command) {
    return word(command, 9);
}

int FrameValue(const QByteArray& command) {
    return word(command, 11);
}

bool IsReplyComplete(const QByteArray& received) {
    if (received.isEmpty())
        return false;
    switch (quint8(received.at(0))) {
    case ReplyAcknowledge:
    case ReplyRefusal:
        return true;
    case ReplyError:
    case ReplyData:
        return received.size() >= 3;
    default:
        return true;
    }
}

bool IsProtocolLead(quint8 lead) {
    return lead == ReplyAcknowledge || lead == ReplyRefusal || lead == ReplyError ||
           lead == ReplyData;
}

qint16 ClassifyReply(const QByteArray& command, const QByteArray& reply, qint16 current) {
    const quint8 lead = reply.isEmpty() ? 0 : quint8(reply.at(0));
    const int action = FrameAction(command);
    // Bytes of another protocol (a text greeting, line noise) are no answer
    // at all: the projector did not reply to the command.
    if (action >= 1 && action <= 6 && !IsProtocolLead(lead))
        return QueueTimedOut;
    switch (action) {
    case ActionGet:
        return lead == ReplyData && reply.size() >= 3 ? QueueDataReply : QueueRefused;
    case 1:
    case 3:
    case 4:
    case 5:
    case 6:
        return lead == ReplyAcknowledge ? QueueAcknowledged : QueueRefused;
    default:
        return current;
    }
}

qint16 DataValue(const QByteArray& reply) {
    if (reply.size() < 3)
        return -1;
    const int value = quint8(reply.at(1)) + 256 * quint8(reply.at(2));
    return qint16(std::min(value, 32767));
}

void AppendReceived(QByteArray& buffer, const QByteArray& chunk) {
    if (chunk.isEmpty())
        return;
    if (buffer.isEmpty()) {
        buffer = QByteArray(chunk.constData(), chunk.size());
        return;
    }
    buffer.append(chunk.constData(), chunk.size());
}
