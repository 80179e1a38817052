#pragma once

#include "comm/ContactWatch.h"
#include "comm/RefreshSink.h"

#include "core/AppState.h"

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

    void setRefreshSink(RefreshSink* sink) {
        m_sink = sink;
        m_contact.setRefreshSink(sink);
    }
    void setAlertStarter(std::function<void()> starter) { m_alertStarter = std::move(starter); }

    void HandleAcknowledge(int projector);
    void HandleFailure(int projector, bool timedOut);
    void HandleDataReply(int projector);

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

    AppState& m_state;
    RefreshSink* m_sink = nullptr;
    std::function<void()> m_alertStarter;
    ContactWatch m_contact;
    std::array<LastReported, MaxProjectors + 1> m_lastReported{};
};
