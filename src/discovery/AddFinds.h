#pragma once

#include "discovery/DiscoveryText.h"

#include <QList>
#include <QString>

struct AppState;

// Where ticked finds go and what an own-protocol find is taken for.
struct AddFindsPlan {
    QString group;       // an existing group's name, or a new one to make
    QString nativeModel; // the model of every own-protocol find
};

// Adds the finds as LAN projectors at the end of the group, making the group
// at the end of the tree when there is none of that name. A find's name is
// its projector's own, else its address, made unique within the group. All
// or nothing: on any refusal (limits, a name, no model) nothing changes and
// the message says why. Changes memory only; the caller saves once.
// Returns the number added.
int AddFoundProjectors(AppState& state, const QList<DiscoveryFind>& finds, const AddFindsPlan& plan,
                       QString* error);
