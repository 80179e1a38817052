#include "Fleet.h"

namespace sim {

Fleet::Fleet(int count, const FleetSettings& settings, QObject* parent) : QObject(parent) {
    m_projectors.reserve(size_t(count));
    for (int id = 1; id <= count; ++id) {
        auto projector = std::make_unique<Projector>(id, settings.coolDown);
        projector->model().lamp = settings.lamp;
        projector->model().filter = settings.filter;
        m_projectors.push_back(std::move(projector));
    }
    m_pjlink.reserve(size_t(settings.pjlink));
    for (int id = count + 1; id <= count + settings.pjlink; ++id) {
        auto projector = std::make_unique<PJLinkProjector>(id, settings.warmUp, settings.coolDown);
        projector->model().pjClass = settings.pjlinkClass;
        projector->model().lamps = {settings.lamp};
        projector->model().filter = settings.filter;
        projector->setPassword(settings.pjlinkPassword);
        // Locally administered, and unique within one run.
        projector->model().mac = QStringLiteral("02:4E:56:%1:%2:%3")
                                     .arg((id >> 16) & 0xFF, 2, 16, QLatin1Char('0'))
                                     .arg((id >> 8) & 0xFF, 2, 16, QLatin1Char('0'))
                                     .arg(id & 0xFF, 2, 16, QLatin1Char('0'))
                                     .toUpper()
                                     .toLatin1();
        m_pjlink.push_back(std::move(projector));
    }
    // One clock for all: a timer per projector would cost hundreds of timers for nothing.
    m_hourTimer.setInterval(settings.hour);
    connect(&m_hourTimer, &QTimer::timeout, this, [this] {
        for (const auto& projector : m_projectors)
            projector->model().addHour();
        for (const auto& projector : m_pjlink)
            projector->model().addHour();
    });
    m_hourTimer.start();
}

Projector* Fleet::projector(int id) const {
    if (id < 1 || id > count())
        return nullptr;
    return m_projectors[size_t(id - 1)].get();
}

PJLinkProjector* Fleet::pjlink(int id) const {
    const int index = id - firstPJLinkId();
    if (index < 0 || index >= pjlinkCount())
        return nullptr;
    return m_pjlink[size_t(index)].get();
}

void Fleet::setCoolDown(std::chrono::milliseconds coolDown) {
    for (const auto& projector : m_projectors)
        projector->setCoolDown(coolDown);
    for (const auto& projector : m_pjlink)
        projector->setCoolDown(coolDown);
}

void Fleet::setWarmUp(std::chrono::milliseconds warmUp) {
    for (const auto& projector : m_pjlink)
        projector->setWarmUp(warmUp);
}

} // namespace sim
