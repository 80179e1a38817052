#pragma once

#include "ui/Icons.h"

#include <QIcon>
#include <QString>

#include <vector>

struct ProjectorInfo;

// What the operator needs to know of a projector at a glance, from least to
// most serious; a group shows the most serious state of its projectors.
enum class FleetState { NotReported, Off, On, Cooling, NotAnswering, Error };

FleetState StateOf(const ProjectorInfo& projector);
// The most serious of the states; NotReported for none.
FleetState MostSerious(const std::vector<FleetState>& states);
// The state in words, for tool tips ("On", "Not answering", ...).
QString StateText(FleetState state);
// The projector's state in words; "Refusing" for one that answers nothing
// but refusals.
QString StateTextOf(const ProjectorInfo& projector);
// The node icon of kind with a small mark of the state in its lower right
// corner; each state has its own shape, so colour is never the only sign.
QIcon MarkedIcon(IconKind kind, FleetState state);
