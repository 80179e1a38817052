#pragma once

#include "mail/RecoveryMails.h"

#include <QString>

#include <functional>

class RefreshSink;
struct AppState;

// Decides when a projector counts as disconnected. A failed reachability
// ping marks it at once; five command time-outs in a row with no accepted
// reply between them mark it too, and then only a reply clears the mark (the
// host may answer pings while the projector itself does not). Between two
// accepted replies the disconnect is logged and alerted at most once,
// whichever path comes first.
class ContactWatch {
  public:
    static constexpr int TimeoutsForDisconnect = 5;
    using AlertRaiser = std::function<void(int projector, const QString& message)>;

    ContactWatch(AppState& state, AlertRaiser raiseAlert);

    void setRefreshSink(RefreshSink* sink) { m_sink = sink; }

    // An acknowledgement, a refusal or a data reply was handed over.
    void replyAccepted(int projector);
    void commandTimedOut(int projector);
    void pingAnswered(int projector);
    void pingFailed(int projector);
    // A flush of the queue starts the count of time-outs again; an edit also
    // forgets that the projector stopped answering.
    void queueFlushed(int projector);
    void projectorEdited(int projector);

    // The error and disconnect alerts awaiting a recovery mail.
    RecoveryMails& recovery() { return m_recovery; }

  private:
    // Returns whether the projector was not marked before.
    bool markDisconnected(int projector);
    // A marked projector answers again: its recovery mail, if one is due.
    void contactRegained(int projector);

    AppState& m_state;
    AlertRaiser m_raiseAlert;
    RefreshSink* m_sink = nullptr;
    RecoveryMails m_recovery;
};
