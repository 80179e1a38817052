#pragma once

#include "comm/EngineObserver.h"
#include "history/HistoryEvent.h"

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>

struct AppState;
struct ProjectorInfo;
struct ScheduleActionReport;

// Turns what the program sees and does into history events: it compares
// each projector's status with what it last recorded for that projector's
// id and records only what changed, follows the operators' commands to
// their outcome, and records the schedule, the alert mails, the program's
// start and stop and each projector's daily hours. Everything goes to the
// recording function (the history writer), which never waits for the disk.
class HistoryRecorder : public QObject, public EngineObserver {
    Q_OBJECT
  public:
    using Record = std::function<void(HistoryEvent)>;
    // At most this many commands are followed at once; the oldest is given
    // up past it.
    static constexpr std::size_t MaxFollowed = 4096;

    // `program` is the program that runs: the source of the commands given
    // through the engine and of the program's own events.
    HistoryRecorder(AppState& state, Record record, EventSource program, QObject* parent = nullptr);

    // Looks at the projector's status and records what changed since the
    // last look.
    void observe(int projector);

    // EngineObserver: the engine's reports.
    void statusChanged(int projector, StatusItem item) override;
    void reachabilityChanged(int projector) override { observe(projector); }
    void commandFinished(int projector, const QByteArray& frame, CommandOutcome outcome) override;
    void queueDropped(int projector) override;
    void pollingPassStarted(int projectorCount) override;
    void commandQueued(int projector, const QByteArray& frame, int ahead) override;
    void alertRaised(int projector, const QString& message, bool queued) override;

    // A command given by `source` (and `client`, for the endpoint's) for
    // the projector, behind `ahead` others in its queue; recorded with its
    // outcome once it is known. When the engine has just reported it queued,
    // the command it followed for the program is this one.
    void follow(int projector, const QString& caption, EventSource source, int ahead,
                const QString& client = {});

    void scheduleRunning(bool running);
    void scheduleAction(const ScheduleActionReport& report);

    void alertMailed(int projector, const QString& message);
    void alertMailFailed(int projector, const QString& message, const QString& reason);
    void alertDropped(int projector, const QString& message, const QString& why);

    // text: what the event says ("Norvik3 3.0.0.4").
    void programStarted(const QString& text);
    void programStopping(const QString& text);

    // The time of the projector's last recorded daily hours (kept in the
    // history from an earlier run): no second record that day.
    void hoursKnown(const QString& projectorId, qint64 timeMs);

    // The texts of a command's outcome, as the command feedback words them.
    static QString OutcomeText(CommandOutcome outcome);
    static inline const QString CancelledText = QStringLiteral("cancelled");

  signals:
    // A projector's daily hours were recorded: its forecast can be redone.
    void hoursRecorded();

  private:
    // What was last recorded for one projector id.
    struct Seen {
        qint32 power = -1;
        qint32 input = -1;
        qint32 error = -1;
        QString warning;
        bool authenticationError = false;
        // Unknown until the first reply of the run.
        enum class Contact { Unknown, Connected, Lost } contact = Contact::Unknown;
        QDate hoursDay;
        // A class 2 input whose name is still being asked for.
        bool inputNamePending = false;
    };
    struct Followed {
        int projector;
        int ahead;
        QString caption;
        EventSource source;
        qint64 timeMs;
        QString client;
    };

    HistoryEvent event(EventKind kind, int projector) const;
    HistoryEvent programEvent(EventKind kind) const;
    void emitEvent(HistoryEvent event) const;
    Seen& seen(int projector);
    // A reply came: the first after a loss of contact is a Reconnect.
    void replied(int projector);
    void recordInput(int projector, Seen& last);
    void recordHours(int projector, StatusItem item);
    void resolve(const Followed& command, const QString& outcome);
    bool valid(int projector) const;
    qint64 nowMs() const;

    AppState& m_state;
    Record m_record;
    EventSource m_program;
    QHash<QString, Seen> m_seen; // by ProjectorId
    std::deque<Followed> m_followed;
};
