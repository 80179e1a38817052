#pragma once

#include <QString>

struct AppState;

// The ring of alert texts waiting to be mailed ("date time;projector;message").
// Slots 0..256 on the first pass, 1..256 after that.

// Stores the text; refuses it (false) when the ring is full, so no unsent
// alert is ever overwritten.
bool EnqueueAlertMessage(AppState& state, const QString& text);
bool IsAlertQueueEmpty(const AppState& state);
// The text at the read index (the oldest unsent alert); empty when none.
QString PeekAlertMessage(const AppState& state);
// Drops the oldest alert after it was mailed.
void AdvanceAlertQueue(AppState& state);
int AlertQueueLength(const AppState& state);

// After projector `deleted` was removed: its alerts are dropped and alerts of
// higher projector indices follow their projector down by one.
void RenumberAlertsAfterDelete(AppState& state, int deleted);

// An alert text whose projector index has become `projector`, written the way
// RenumberAlertsAfterDelete writes it.
QString AlertTextForProjector(const QString& text, int projector);
// Drops the oldest alert if it reads exactly `text` (an alert that was being
// mailed while the queue could change); false, and nothing dropped, otherwise.
bool RemoveOldestAlertIf(AppState& state, const QString& text);
