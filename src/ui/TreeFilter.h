#pragma once

#include <QString>

#include <vector>

struct AppState;

// The tree's search: a projector is found when its name, a group around it,
// its address, MAC address, model, protocol or state text ("Lamp Error",
// "Disconnect", "Authentication Error") contains the text, ignoring case;
// its groups are shown around it. An empty text finds everything.

bool ProjectorMatches(const AppState& state, int projector, const QString& text);
// Per node index (element 0 unused): whether the node is shown.
std::vector<bool> NodesShown(const AppState& state, const QString& text);
