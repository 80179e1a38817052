#include "PJLinkProjector.h"

#include <algorithm>

namespace sim {

PJLinkProjector::PJLinkProjector(int id, std::chrono::milliseconds warmUp,
                                 std::chrono::milliseconds coolDown, QObject* parent)
    : QObject(parent), m_id(id) {
    m_model.name = "PJLink " + QByteArray::number(id);
    m_model.serial = "SIM" + QByteArray::number(id).rightJustified(6, '0');
    m_warmUpTimer.setSingleShot(true);
    m_warmUpTimer.setInterval(warmUp);
    m_coolDownTimer.setSingleShot(true);
    m_coolDownTimer.setInterval(coolDown);
    connect(&m_warmUpTimer, &QTimer::timeout, this, [this] { m_model.finishWarmUp(); });
    connect(&m_coolDownTimer, &QTimer::timeout, this, [this] { m_model.finishCoolDown(); });
}

std::optional<QByteArray> PJLinkProjector::answer(const QByteArray& line) {
    const std::optional<QByteArray> reply = m_model.answer(line);
    syncPower();
    return reply;
}

void PJLinkProjector::syncPower() {
    const auto follow = [](QTimer& timer, bool running) {
        if (!running)
            timer.stop();
        else if (!timer.isActive())
            timer.start();
    };
    follow(m_warmUpTimer, m_model.power == PJLinkModel::WarmUp);
    follow(m_coolDownTimer, m_model.power == PJLinkModel::CoolDown);
}

void PJLinkProjector::connectionOpened() {
    ++m_stats.connections;
    ++m_stats.open;
    m_stats.concurrentMax = std::max(m_stats.concurrentMax, m_stats.open);
}

void PJLinkProjector::resetStats() {
    m_stats = PJLinkStats{0, m_stats.open, m_stats.open, 0};
}

} // namespace sim
