#include "comm/ReplyTimeouts.h"

ReplyTimeouts::ReplyTimeouts(std::function<void(int)> expired, QObject* parent)
    : QObject(parent), m_expired(std::move(expired))
{
}

ReplyTimeouts::~ReplyTimeouts() = default;

void ReplyTimeouts::start(int projector, std::chrono::milliseconds interval)
{
    if (projector < 1 || projector >= int(m_timers.size()))
        return;
    auto& timer = m_timers[std::size_t(projector)];
    if (!timer) {
        timer = std::make_unique<QTimer>();
        timer->setSingleShot(true);
        connect(timer.get(), &QTimer::timeout, this, [this, projector] { m_expired(projector); });
    }
    timer->start(interval);
}

void ReplyTimeouts::stop(int projector)
{
    if (projector >= 1 && projector < int(m_timers.size()) && m_timers[std::size_t(projector)])
        m_timers[std::size_t(projector)]->stop();
}

bool ReplyTimeouts::isActive(int projector) const
{
    return projector >= 1 && projector < int(m_timers.size()) &&
           m_timers[std::size_t(projector)] && m_timers[std::size_t(projector)]->isActive();
}

void ReplyTimeouts::stopAll()
{
    for (auto& timer : m_timers) {
        if (timer)
            timer->stop();
    }
}
