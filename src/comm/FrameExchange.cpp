#include "comm/FrameExchange.h"

#include "core/AppState.h"
#include "protocol/ReplyFraming.h"

#include <QIODevice>

#include <utility>

namespace {

std::size_t slotOf(int projector) {
    return projector >= 1 && projector <= MaxProjectors ? std::size_t(projector) : 0;
}

} // namespace

void FrameExchange::write(QIODevice& device, const QByteArray& frame) {
    device.write(frame);
}

void FrameExchange::read(QIODevice& device, int projector) {
    QByteArray& buffer = m_received[slotOf(projector)];
    AppendReceived(buffer, device.readAll());
    if (!m_framing || !m_framing(buffer))
        return;
    const QByteArray reply = std::exchange(buffer, QByteArray());
    if (m_replied)
        m_replied(projector, reply);
}

void FrameExchange::clear(int projector) {
    m_received[slotOf(projector)].clear();
}

const QByteArray& FrameExchange::received(int projector) const {
    return m_received[slotOf(projector)];
}
