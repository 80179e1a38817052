#pragma once

#include "comm/ContactWatch.h"
#include "comm/EngineReports.h"

#include "core/AppState.h"
#include "pjlink/PJLinkCodec.h"

#include <QString>

#include <array>
#include <functional>
#include <optional>

struct AppState;
struct QueueEntry;

// A status field of a record: the hours are wider than the coded items.
struct FieldRef {
    qint16* narrow = nullptr;
    qint32* wide = nullptr;
    qint32 get() const { return narrow ? *narrow : wide ? *wide : -1; }
    void set(qint32 value) {
        if (narrow)
            *narrow = qint16(value);
        else if (wide)
            *wide = value;
    }
};
FieldRef FieldOf(ProjectorInfo& info, StatusItem item);

// The status item a command type addresses, if it is one with a status.
std::optional<StatusItem> ItemOfType(int type);

// Turns the outcome of a finished command into the projector's status
// fields, tells the refresh sink what changed, and queues the error and
// hour alerts on their transitions.
class ReplyInterpreter {
  public:
    explicit ReplyInterpreter(AppState& state);

    void setReports(EngineReports* sink) {
        m_sink = sink;
        m_contact.setReports(sink);
    }
    void setAlertStarter(std::function<void()> starter) { m_alertStarter = std::move(starter); }

    void HandleAcknowledge(int projector);
    void HandleFailure(int projector, bool timedOut);
    void HandleDataReply(int projector);
    // The same for a PJLink projector, with the reply line its session got.
    // waited: what the session waited for before the command was carried out.
    void HandlePJLinkAcknowledge(int projector, PJLinkWait waited = PJLinkWait::None);
    void HandlePJLinkFailure(int projector, bool timedOut, const QByteArray& reply);
    void HandlePJLinkData(int projector, const QByteArray& reply);
    // A class 2 status notification from the projector ("%2POWR=1").
    // False when it is not one that is applied.
    bool ApplyPJLinkNotification(int projector, const QByteArray& line);

    // The message of the alert mailed when a projector refuses our password.
    static inline const QString AuthenticationErrorText = QStringLiteral("Authentication Error");

    // Queues "date time;projector;message" for mailing and starts the sender.
    void raiseAlert(int projector, const QString& message);

    // Replies and time-outs decide here, with the pings, whether a projector
    // is disconnected.
    ContactWatch& contact() { return m_contact; }
    // Every queue was reset; the projectors may have been renumbered.
    void queuesReset();

  private:
    // The values last reported for the items with alerts, which a refused
    // query does not forget.
    struct LastReported {
        qint32 error = -1;
        qint32 lampTime = -1;
        qint32 filterTime = -1;
    };
    qint32* lastReported(int projector, StatusItem item);
    void checkErrorAlert(int projector, qint16 previous, qint16 code);
    void checkHourAlarm(int projector, qint32 previous, qint32 hours, bool lamp);
    void changed(int projector, StatusItem item);
    void finished(int projector, const QueueEntry& entry, CommandOutcome outcome);
    // A failed command: contact, feedback, a refused query's field shown as
    // not reported, and the item's drop-down put back.
    void failed(int projector, std::optional<StatusItem> item, bool statusQuery, bool timedOut);
    // Applies a PJLink value, then raises what its changes call for.
    void applyPJLink(int projector, const QByteArray& body, const QByteArray& value);
    void authenticated(int projector, bool refused);

    AppState& m_state;
    EngineReports* m_sink = nullptr;
    std::function<void()> m_alertStarter;
    ContactWatch m_contact;
    std::array<LastReported, MaxProjectors + 1> m_lastReported{};
};
