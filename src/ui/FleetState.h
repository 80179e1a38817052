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

// How urgently a projector's status needs the operator, most urgent first:
// the order of the Status column. The numbers between NotAnswering and
// Normal are kept for an authentication error (3) and a warning (4), which
// stand between them when a protocol reports them.
enum class Seriousness { Error = 0, Refusing = 1, NotAnswering = 2, Normal = 5 };
Seriousness SeriousnessOf(const ProjectorInfo& projector);
// The most serious of the states; NotReported for none.
FleetState MostSerious(const std::vector<FleetState>& states);
// The state in words, for tool tips ("On", "Not answering", ...).
QString StateText(FleetState state);
// The projector's state in words; "Refusing" for one that answers nothing
// but refusals.
QString StateTextOf(const ProjectorInfo& projector);
// The projector's name and its exact state, the error's name for an error:
// "Hall 3: Lamp Error".
QString StateToolTip(const ProjectorInfo& projector);
// The node icon of kind with a small mark of the state in its lower right
// corner; each state has its own shape, so colour is never the only sign.
QIcon MarkedIcon(IconKind kind, FleetState state);
