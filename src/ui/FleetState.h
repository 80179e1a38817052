#pragma once

#include "ui/Icons.h"

#include "core/AppState.h"

#include <QHash>
#include <QIcon>
#include <QString>

#include <array>

// What the operator needs to know of a projector at a glance, from least to
// most serious; a group shows the most serious state of its projectors.
// AuthenticationError: a PJLink projector refused the password, so nothing
// it reports can be read.
enum class FleetState {
    NotReported,
    Off,
    On,
    WarmingUp,
    Cooling,
    NotAnswering,
    AuthenticationError,
    Error
};

FleetState StateOf(const ProjectorInfo& projector);
inline constexpr int FleetStateCount = int(FleetState::Error) + 1;

// How many projectors of each group are in each state, kept as each
// projector's state changes, so a reply updates its group's mark without
// looking at the other members.
class GroupStates {
  public:
    void clear();
    // The projector, a member of group (a node index), is now in state;
    // returns whether the group's counts changed.
    bool set(int projector, int group, FleetState state);
    // The most serious state of the group's projectors; NotReported for none.
    FleetState worst(int group) const;
    int count(int group, FleetState state) const;
    int members(int group) const;

  private:
    using Counts = std::array<int, FleetStateCount>;
    struct Member {
        int group = 0; // 0: not counted
        FleetState state = FleetState::NotReported;
    };
    std::array<Member, MaxProjectors + 1> m_members{};
    // At most one entry per group node.
    QHash<int, Counts> m_groups;
};

// How urgently a projector's status needs the operator, most urgent first:
// the order of the Status column. A warning is a projector that works but
// reports a part wearing out or running hot ("Lamp Warning").
enum class Seriousness {
    Error = 0,
    Refusing = 1,
    NotAnswering = 2,
    AuthenticationError = 3,
    Warning = 4,
    Normal = 5
};
Seriousness SeriousnessOf(const ProjectorInfo& projector);
// The state in words, for tool tips ("On", "Not answering", ...).
QString StateText(FleetState state);
// The projector's state in words; "Refusing" for one that answers nothing
// but refusals.
QString StateTextOf(const ProjectorInfo& projector);
// The projector's name and its exact state, the error's name for an error,
// and a warning after the state: "Hall 3: Lamp Error", "Hall 4: On, Lamp
// Warning".
QString StateToolTip(const ProjectorInfo& projector);
// The node icon of kind with a small mark of the state in its lower right
// corner; each state has its own shape, so colour is never the only sign.
QIcon MarkedIcon(IconKind kind, FleetState state);

// Orders forecasts by when they fall due, the overdue first and those
// without a date last.
qint64 ForecastSortKey(const Forecast& forecast);
