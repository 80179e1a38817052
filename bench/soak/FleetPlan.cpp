#include "FleetPlan.h"

#include <algorithm>

namespace {

constexpr std::array<ProjectorClass, 7> FaultKinds = {
    ProjectorClass::Silent,   ProjectorClass::Refusing, ProjectorClass::Split,
    ProjectorClass::Trailing, ProjectorClass::CloseMid, ProjectorClass::Slow,
    ProjectorClass::Raw,
};

// Bytes no projector sends: a lead byte that completes a reply at once but is
// neither acknowledge, refusal, error nor data.
const QString GarbageReply = QStringLiteral("7F00");
const QString TrailingGarbage = QStringLiteral("FFA55A");

} // namespace

QString className(ProjectorClass kind) {
    switch (kind) {
    case ProjectorClass::Healthy:
        return QStringLiteral("healthy");
    case ProjectorClass::Silent:
        return QStringLiteral("silent");
    case ProjectorClass::Refusing:
        return QStringLiteral("refusing");
    case ProjectorClass::Split:
        return QStringLiteral("split");
    case ProjectorClass::Trailing:
        return QStringLiteral("trailing");
    case ProjectorClass::CloseMid:
        return QStringLiteral("closemid");
    case ProjectorClass::Slow:
        return QStringLiteral("slow");
    case ProjectorClass::Raw:
        return QStringLiteral("raw");
    case ProjectorClass::NoListener:
        return QStringLiteral("nolistener");
    }
    return QString();
}

FleetPlan::FleetPlan(int projectors)
    : m_classes(std::size_t(projectors) + 1, ProjectorClass::Healthy),
      m_simIds(std::size_t(projectors) + 1, 0) {
    // Every fourth projector is faulty, the kinds taking turns.
    for (int p = 4; p <= projectors; p += 4)
        m_classes[std::size_t(p)] = FaultKinds[std::size_t(p / 4 - 1) % FaultKinds.size()];

    // A few without a listener, spread over the range on healthy places.
    const int noListeners = std::min(4, projectors / 16);
    for (int k = 0; k < noListeners; ++k) {
        int p = 1 + (2 * k + 1) * projectors / (2 * noListeners);
        while (p <= projectors && m_classes[std::size_t(p)] != ProjectorClass::Healthy)
            ++p;
        if (p <= projectors)
            m_classes[std::size_t(p)] = ProjectorClass::NoListener;
    }

    int next = 1;
    for (int p = 1; p <= projectors; ++p) {
        const ProjectorClass kind = m_classes[std::size_t(p)];
        ++m_counts[std::size_t(kind)];
        if (kind != ProjectorClass::NoListener)
            m_simIds[std::size_t(p)] = next++;
    }
}

int FleetPlan::simulatedCount() const {
    return size() - count(ProjectorClass::NoListener);
}

std::vector<int> FleetPlan::alerting() const {
    std::vector<int> healthy;
    for (int p = 1; p <= size(); ++p) {
        if (classOf(p) == ProjectorClass::Healthy)
            healthy.push_back(p);
    }
    const std::size_t wanted = std::min<std::size_t>(4, healthy.size());
    std::vector<int> chosen;
    for (std::size_t k = 0; k < wanted; ++k)
        chosen.push_back(healthy[(2 * k + 1) * healthy.size() / (2 * wanted)]);
    return chosen;
}

QStringList FleetPlan::faultCommands(int projector, const FaultTiming& timing) const {
    const QString id = QString::number(simId(projector));
    switch (classOf(projector)) {
    case ProjectorClass::Silent:
        return {QStringLiteral("silent %1 on").arg(id)};
    case ProjectorClass::Refusing:
        return {QStringLiteral("refuse %1 on").arg(id)};
    case ProjectorClass::Split:
        return {QStringLiteral("split %1 %2").arg(id).arg(timing.split.count())};
    case ProjectorClass::Trailing:
        return {QStringLiteral("trailing %1 %2").arg(id, TrailingGarbage)};
    case ProjectorClass::CloseMid:
        return {QStringLiteral("closemid %1 on").arg(id)};
    case ProjectorClass::Slow:
        return {QStringLiteral("delay %1 %2").arg(id).arg(timing.slow.count())};
    case ProjectorClass::Raw:
        return {rawCommand(projector)};
    case ProjectorClass::Healthy:
    case ProjectorClass::NoListener:
        break;
    }
    return {};
}

QString FleetPlan::rawCommand(int projector) const {
    return QStringLiteral("raw %1 %2").arg(simId(projector)).arg(GarbageReply);
}
