#include "Projector.h"

namespace sim {

Projector::Projector(int id, std::chrono::milliseconds coolDown, QObject* parent)
    : QObject(parent), m_id(id) {
    m_coolDownTimer.setSingleShot(true);
    m_coolDownTimer.setInterval(coolDown);
    connect(&m_coolDownTimer, &QTimer::timeout, this, [this] { m_model.finishCoolDown(); });
}

std::optional<Reply> Projector::handleFrame(const QByteArray& frame) {
    // Only the recent frames are kept, so a long run does not grow.
    if (m_frames.size() >= MaxRecordedFrames)
        m_frames.removeFirst();
    m_frames.append(frame);
    // A silent unit neither answers nor carries out the command, and a
    // pending raw reply waits for the next frame that is answered.
    if (m_faults.silent)
        return std::nullopt;

    Reply reply;
    reply.delay = m_faults.delay;
    reply.split = m_faults.split;
    reply.closeAfterFirstByte = m_faults.closeMid;
    if (m_faults.raw) {
        reply.bytes = *m_faults.raw;
        m_faults.raw.reset();
        return reply;
    }
    reply.bytes = m_faults.refuse ? QByteArray(1, Refusal) : m_model.answer(frame);
    reply.bytes.append(m_faults.trailing);
    syncCoolDown();
    return reply;
}

void Projector::clearRecords() {
    m_frames.clear();
    m_connections = 0;
}

void Projector::syncCoolDown() {
    if (m_model.power != ProjectorModel::CoolDown)
        m_coolDownTimer.stop();
    else if (!m_coolDownTimer.isActive())
        m_coolDownTimer.start();
}

} // namespace sim
