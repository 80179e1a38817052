#pragma once

#include "mail/RecoveryMails.h"

#include "core/AppState.h"

#include <QString>

#include <array>
#include <functional>

class EngineReports;
struct AppState;

// Decides when a projector counts as disconnected. A failed reachability
// ping marks it at once; five command time-outs in a row with no accepted
// reply between them mark it too, and then only a reply clears the mark (the
// host may answer pings while the projector itself does not). Between two
// accepted replies the disconnect is logged and alerted at most once,
// whichever path comes first. A status query skipped because its round got
// no answer counts as a time-out.
//
// A projector that refuses a round of status queries in a row, with no
// status reported between them, is "Refusing" from that pass on: it answers,
// but tells nothing (a round only partly refused never marks it, so a model
// that lacks one query does not flicker). The alert waits for five passes of
// refusals, so that a projector busy for a moment mails nobody. The first
// status it reports again clears the mark.
class ContactWatch {
  public:
    static constexpr int TimeoutsForDisconnect = 5;
    static constexpr int RefusalsForRefusing = 5;                    // one round of five queries
    static constexpr int RefusalsForAlert = 5 * RefusalsForRefusing; // five passes
    // The message of the alert mailed when a projector becomes "Refusing".
    static inline const QString RefusingText = QStringLiteral("Refusing every status query");
    using AlertRaiser = std::function<void(int projector, const QString& message)>;

    ContactWatch(AppState& state, AlertRaiser raiseAlert);

    void setReports(EngineReports* sink) { m_sink = sink; }

    // An acknowledgement, a refusal or a data reply was handed over.
    void replyAccepted(int projector);
    // A status query was refused: the projector is there, but this is no
    // answer, so LastReply stays.
    void statusRefused(int projector);
    // A status query got its data reply.
    void statusReported(int projector);
    void commandTimedOut(int projector);
    void pingAnswered(int projector);
    void pingFailed(int projector);
    // A flush of the queue starts the count of time-outs again; an edit also
    // forgets that the projector stopped answering.
    void queueFlushed(int projector);
    void projectorEdited(int projector);
    // Every queue was reset (start, or projectors renumbered by a deletion).
    void queuesReset() { m_refusals.fill(0); }

    // The error and disconnect alerts awaiting a recovery mail.
    RecoveryMails& recovery() { return m_recovery; }

  private:
    // Returns whether the projector was not marked before.
    bool markDisconnected(int projector);
    // The projector answered something: it is there.
    void contactConfirmed(int projector);
    // A marked projector answers again: its recovery mail, if one is due.
    void contactRegained(int projector);

    AppState& m_state;
    AlertRaiser m_raiseAlert;
    EngineReports* m_sink = nullptr;
    RecoveryMails m_recovery;
    // Status queries refused since the last one reported, per projector.
    std::array<int, MaxProjectors + 1> m_refusals{};
};
