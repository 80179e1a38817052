#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <chrono>
#include <vector>

// What a simulated projector of the soak does wrong, if anything.
enum class ProjectorClass {
    Healthy,
    Silent,     // reads frames, never answers
    Refusing,   // answers every frame with a refusal
    Split,      // replies byte by byte
    Trailing,   // garbage after every reply
    CloseMid,   // first reply byte, then hangs up
    Slow,       // answers late, within the time-out
    Raw,        // now and then one garbage reply instead of the real one
    NoListener, // a port where nothing listens
};

inline constexpr int ProjectorClassCount = 9;

QString className(ProjectorClass kind);

struct FaultTiming {
    std::chrono::milliseconds slow{150};
    std::chrono::milliseconds split{40};
};

// Which projector (1..n) is of which class: a quarter faulty, spread evenly
// over the fault kinds and over the index range, and a few without a
// listener; the rest healthy.
class FleetPlan {
  public:
    explicit FleetPlan(int projectors);

    int size() const { return int(m_classes.size()) - 1; }
    ProjectorClass classOf(int projector) const { return m_classes[std::size_t(projector)]; }
    int count(ProjectorClass kind) const { return m_counts[std::size_t(kind)]; }
    // Projectors the simulator serves (every class but NoListener), in order.
    int simulatedCount() const;
    // The simulator's id of a projector, 0 for a NoListener one.
    int simId(int projector) const { return m_simIds[std::size_t(projector)]; }
    // Healthy projectors chosen to report an error now and then (up to four).
    std::vector<int> alerting() const;

    // Control lines that give the simulated projector its fault at start-up.
    QStringList faultCommands(int projector, const FaultTiming& timing) const;
    // The control line that re-arms the one-shot garbage reply of a Raw one.
    QString rawCommand(int projector) const;

  private:
    std::vector<ProjectorClass> m_classes; // index 0 unused
    std::vector<int> m_simIds;
    std::array<int, ProjectorClassCount> m_counts{};
};
