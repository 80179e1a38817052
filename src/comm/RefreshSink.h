#pragma once

#include "core/StatusItem.h"

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
};
