#pragma once

#include <QString>

#include <vector>

class SettingsStore;
struct AppState;
struct ImportPlan;

struct ImportOutcome {
    bool applied = false; // the tree and the table hold the import
    bool saved = false;   // and the settings file too (or there was nothing to save)
    QString error;        // why not
    // Projectors whose protocol or connection changed: their queues and
    // connections belong to the old settings.
    std::vector<int> reconnected;
};

// Applies a plan without errors, row by row in file order: a new group at
// the end of the tree, a new projector at the end of its group (and of the
// table), a matched one updated; nothing is deleted. The tree and the table
// are then saved in one atomic replacement of the settings file. Passwords
// are not touched: the caller stores those of the plan's rows.
ImportOutcome ApplyImport(AppState& state, const SettingsStore& store, const ImportPlan& plan);
