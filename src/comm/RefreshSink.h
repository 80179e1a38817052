#pragma once

#include "core/StatusItem.h"

#include <QByteArray>
#include <QString>

// What the engine tells the main window after a reply or a ping changed a
// projector. The window decides what it shows: one column of the group list,
// one label of the projector status, or one drop-down of the projector
// controls. Tests record these calls.
class RefreshSink {
  public:
    virtual ~RefreshSink() = default;
    // A reply stored a new value for item of this projector.
    virtual void statusChanged(int projector, StatusItem item) = 0;
    // A set command for item was refused or timed out: a drop-down showing
    // this projector goes back to the stored status.
    virtual void restoreDropDown(int projector, StatusItem item) = 0;
    // A reachability ping marked the projector disconnected: a shown status
    // view (group list or projector status) is refreshed.
    virtual void reachabilityChanged(int projector) = 0;

    // Progress reports for the operator; a sink that does not show them
    // keeps these empty defaults.
    // A command was handed over with its outcome; frame holds its bytes.
    virtual void commandFinished(int /*projector*/, const QByteArray& /*frame*/,
                                 CommandOutcome /*outcome*/) {}
    // Everything queued for the projector, the command in flight included,
    // is about to be dropped.
    virtual void queueDropped(int /*projector*/) {}
    // A polling pass is about to queue the status queries of projectors
    // 1..projectorCount.
    virtual void pollingPassStarted(int /*projectorCount*/) {}
    // The MAC address pass has looked at done of total projectors; done ==
    // total when it ends.
    virtual void macPassProgress(int /*done*/, int /*total*/) {}
    // An operator's command was queued through the engine behind `ahead`
    // others (the one in flight included).
    virtual void commandQueued(int /*projector*/, const QByteArray& /*frame*/, int /*ahead*/) {}
    // An alert was raised for mailing; queued is false when the full queue
    // dropped it.
    virtual void alertRaised(int /*projector*/, const QString& /*message*/, bool /*queued*/) {}
    // A magic packet went to the projector; its power-on follows after the
    // wake-up delay.
    virtual void wakingByLan(int /*projector*/) {}
};
