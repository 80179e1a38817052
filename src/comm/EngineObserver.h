#pragma once

#include "core/StatusItem.h"

#include <QByteArray>
#include <QString>

// What the engine reports as it works, for whoever follows it besides the
// window's refresh: the history's recorder, the control routes following
// the API's commands, the window's progress displays. An observer keeps
// the empty defaults of what it does not follow.
class EngineObserver {
  public:
    virtual ~EngineObserver() = default;
    // A reply stored a new value for item of this projector.
    virtual void statusChanged(int /*projector*/, StatusItem /*item*/) {}
    // The projector's reachability changed.
    virtual void reachabilityChanged(int /*projector*/) {}
    // A command was queued behind `ahead` others (the one in flight
    // included); frame holds its bytes.
    virtual void commandQueued(int /*projector*/, const QByteArray& /*frame*/, int /*ahead*/) {}
    // A command was handed over with its outcome.
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
    // An alert was raised for mailing; queued is false when the full queue
    // dropped it.
    virtual void alertRaised(int /*projector*/, const QString& /*message*/, bool /*queued*/) {}
    // A magic packet went to the projector; its power-on follows after the
    // wake-up delay.
    virtual void wakingByLan(int /*projector*/) {}
};
