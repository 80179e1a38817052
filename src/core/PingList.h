#pragma once

struct AppState;

// The projectors waiting for a reachability ping, by number, each once.

// Appends the projector unless it waits there already, and wakes the ping
// task.
void AddToPingList(AppState& state, int projector);
// After projector `deleted` was removed: its entry goes, and entries of
// higher numbers follow their projector down by one.
void RenumberPingListAfterDelete(AppState& state, int deleted);
