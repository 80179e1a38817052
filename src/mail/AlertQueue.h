#pragma once

#include "mail/AlertSpool.h"

#include <QString>

#include <memory>

struct AppState;

// The ring of alert texts waiting to be mailed ("date time;projector;message").
// Slots 0..256 on the first pass, 1..256 after that.
//
// With a spool (state.Spool), every queued alert also has its file, written
// by the spool's thread a moment later (a file that cannot be written makes
// the mail log line "Mail Queue Not Saved (...)" and raises SpoolFailing; the
// alert stays queued in memory and its file is written again until the disk
// takes it, which logs "Mail Queue Saved Again" and clears it). Alerts
// beyond the ring wait in the spool and move into the ring as it empties,
// and when even the spool is full its oldest waiting alerts are dropped.
// Every drop is written to the mail log ("...,Mail Dropped (queue full)"),
// counted in AlertsDroppedQueueFull and raises SpoolDropping, which clears
// when the spool is below its limits again.

// Opens the spool in `folder` and queues the alerts it kept, oldest first,
// each for the projector its tree key names today (an alert whose projector
// is gone is dropped). Alerts already in the ring are queued after them.
// The spool stays open, and in state.Spool, as long as the handle lives.
struct SpoolRelease {
    AppState* state = nullptr;
    void operator()(AlertSpool* spool) const;
};
using SpoolHandle = std::unique_ptr<AlertSpool, SpoolRelease>;
[[nodiscard]] SpoolHandle OpenAlertSpool(AppState& state, const QString& folder,
                                         const AlertSpool::Limits& limits = AlertSpool::Limits{});

// Queues the text. Without a spool a full ring drops it (false), so no
// unsent alert is ever overwritten; with one it is always taken.
bool EnqueueAlertMessage(AppState& state, const QString& text);
bool IsAlertQueueEmpty(const AppState& state);
// The text at the read index (the oldest unsent alert); empty when none.
QString PeekAlertMessage(const AppState& state);
// Drops the oldest alert (and its file) after it was mailed or dropped.
void AdvanceAlertQueue(AppState& state);
// The ring's alerts and the spool's waiting ones.
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
