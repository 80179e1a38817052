#include "discovery/RangeProbe.h"

#include <algorithm>

RangeProbe::RangeProbe(const Limits& limits, QObject* parent) : QObject(parent), m_limits(limits) {
    m_pace.setInterval(TickInterval);
    connect(&m_pace, &QTimer::timeout, this, &RangeProbe::tick);
}

RangeProbe::~RangeProbe() {
    cancel();
}

void RangeProbe::add(const ProbeTarget& target) {
    m_queue.push_back(target);
    if (!m_pace.isActive()) {
        m_clock.start();
        m_lastTick = 0;
        // One tick's worth at once, so a single target goes out without delay.
        m_tokens = std::max(m_tokens, 1.0);
        m_pace.start();
    }
}

void RangeProbe::cancel() {
    m_pace.stop();
    m_queue.clear();
    m_tokens = 0;
    const auto connections = findChildren<ProbeConnection*>(Qt::FindDirectChildrenOnly);
    for (ProbeConnection* connection : connections) {
        connection->disconnect(this);
        connection->stop();
        connection->deleteLater();
    }
    m_active = 0;
}

void RangeProbe::tick() {
    const qint64 now = m_clock.elapsed();
    // A bucket of at most a tenth of a second's starts: a late tick never
    // lets a burst through.
    const double burst = std::max(1.0, m_limits.perSecond / 10.0);
    m_tokens = std::min(burst, m_tokens + double(now - m_lastTick) * m_limits.perSecond / 1000.0);
    m_lastTick = now;
    while (!m_queue.empty() && m_active < m_limits.inFlight && m_tokens >= 1.0) {
        m_tokens -= 1.0;
        const ProbeTarget target = m_queue.front();
        m_queue.pop_front();
        auto* connection = new ProbeConnection(target, m_limits.timeout, this);
        ++m_active;
        ++m_started;
        m_mostInFlight = std::max(m_mostInFlight, m_active);
        connect(connection, &ProbeConnection::done, this,
                [this, connection](const std::optional<DiscoveryFind>& find) {
                    --m_active;
                    const ProbeTarget target = connection->target();
                    connection->deleteLater();
                    emit probed(target, find);
                    if (isIdle()) {
                        m_pace.stop();
                        emit idle();
                    }
                });
    }
}
