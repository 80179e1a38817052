#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

struct AppState;

// What a client asks of a projector or a group through the control routes:
// {"command": "power", "value": "on"}, and "confirm": true for the resets.
struct CommandRequest {
    QString command;
    QString value;
    bool confirm = false;
};

struct CommandRequestParse {
    std::optional<CommandRequest> request;
    QString error; // why the body was refused, when it was
};

// A projector id as a client gives it: only the canonical form
// xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx of hexadecimal digits, in either case;
// the id in lower case, or empty for anything else.
QString StrictProjectorId(const QString& text);

// Bodies over this are refused before they are read.
inline constexpr qsizetype MaxCommandBodyBytes = 4096;

CommandRequestParse ParseCommandRequest(const QByteArray& body);

// One item to queue for a projector: a frame of the command table or a
// PJLink line.
struct QueuedItem {
    QByteArray frameName; // a CommandTable name, or empty for `line`
    QByteArray line;
};

struct CommandPlan {
    // The first item is the command itself, the rest the queries that show
    // its effect.
    std::vector<QueuedItem> items;
    QString error; // the command or value this projector cannot take
};

// The items that carry out the request on projector `projector`, as the
// Control panel queues them.
CommandPlan PlanCommand(const AppState& state, int projector, const CommandRequest& request);
