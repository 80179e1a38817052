#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// What the fleet's history records. The names are what the file and the
// endpoint's clients see; they never change once written.
enum class EventKind {
    Power,               // value: the power status code
    Input,               // value: the input status code, text: its name
    Error,               // value: the error code, text: its text
    Warning,             // text: the warning, empty when it cleared
    Disconnect,          // contact lost
    Reconnect,           // the first reply after a Disconnect
    AuthenticationError, // the projector refused our password
    Command,             // text: the command, outcome: the feedback's text
    ScheduleStart,       // text: the schedule
    ScheduleStop,        // text: the schedule
    ScheduleAction,      // text: the schedule's action, outcome: its result
    MailQueued,          // text: the alert
    MailSent,            // text: the alert
    MailFailed,          // text: the alert, outcome: the reason
    MailDropped,         // text: the alert, outcome: why
    ProgramStart,
    ProgramStop,
    Hours,          // value: lamp hours, value2: filter hours, text: every lamp's hours
    ScheduleMissed, // text: the schedule's entry, outcome: when it was due
};
inline constexpr int EventKindCount = int(EventKind::ScheduleMissed) + 1;

QString EventKindName(EventKind kind);
std::optional<EventKind> EventKindFromName(const QString& name);

// Which program gave a command or started a schedule; None for what a
// projector reported by itself.
enum class EventSource { None, Window, Service, Schedule, Endpoint };
QString EventSourceName(EventSource source);
EventSource EventSourceFromName(const QString& name);

struct HistoryEvent {
    qint64 id = 0;     // given by the store; 0 before it is written
    qint64 timeMs = 0; // UTC, milliseconds since the epoch
    // The projector's stable id, with its name and group at the time; all
    // empty for events of the program itself.
    QString projectorId;
    QString projectorName;
    QString groupName;
    EventKind kind = EventKind::ProgramStart;
    std::optional<qint64> value;
    std::optional<qint64> value2;
    QString text;
    QString outcome;
    EventSource source = EventSource::None;
    // Who asked, for commands that came through the endpoint (a token's name
    // or a client's address).
    QString client;

    bool operator==(const HistoryEvent&) const = default;
};

// The lamp hours of every lamp as the Hours event keeps them in its text:
// "1200,850" for two lamps.
QString LampHoursText(const QList<qint32>& hours);
QList<qint32> LampHoursFromText(const QString& text);
