#include "LoopStallMeter.h"

#include <algorithm>
#include <utility>

LoopStallMeter::LoopStallMeter(std::chrono::milliseconds interval, QObject* parent)
    : QObject(parent), m_interval(interval) {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &LoopStallMeter::fire);
}

void LoopStallMeter::start() {
    m_clock.start();
    m_overall = {};
    m_window = {};
    m_armedAtNs = m_clock.nsecsElapsed();
    m_timer.start(m_interval);
}

LoopStallMeter::Stall LoopStallMeter::takeWindow() {
    return std::exchange(m_window, Stall{});
}

void LoopStallMeter::fire() {
    const qint64 now = m_clock.nsecsElapsed();
    const double lateMs =
        std::max(0.0, double(now - m_armedAtNs) / 1e6 - double(m_interval.count()));
    for (Stall* stall : {&m_overall, &m_window}) {
        if (lateMs > stall->longestMs) {
            stall->longestMs = lateMs;
            stall->atSeconds = double(m_armedAtNs) / 1e9 + double(m_interval.count()) / 1e3;
        }
        stall->over50ms += lateMs > 50.0 ? 1 : 0;
        stall->over200ms += lateMs > 200.0 ? 1 : 0;
    }
    m_armedAtNs = m_clock.nsecsElapsed();
    m_timer.start(m_interval);
    emit ticked();
}
