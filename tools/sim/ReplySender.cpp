#include "ReplySender.h"

#include <QTimer>

namespace sim {

void sendReply(QObject* context, const Reply& reply, const WriteBytes& write,
               const CloseLink& close) {
    if (reply.bytes.isEmpty())
        return;
    if (reply.closeAfterFirstByte) {
        auto firstAndClose = [write, close, first = reply.bytes.left(1)] {
            write(first);
            close();
        };
        if (reply.delay.count() > 0)
            QTimer::singleShot(reply.delay, context, firstAndClose);
        else
            firstAndClose();
        return;
    }
    if (reply.split.count() <= 0) {
        if (reply.delay.count() > 0)
            QTimer::singleShot(reply.delay, context,
                               [write, bytes = reply.bytes] { write(bytes); });
        else
            write(reply.bytes);
        return;
    }
    for (int i = 0; i < reply.bytes.size(); ++i) {
        QTimer::singleShot(reply.delay + i * reply.split, context,
                           [write, byte = reply.bytes.mid(i, 1)] { write(byte); });
    }
}

} // namespace sim
