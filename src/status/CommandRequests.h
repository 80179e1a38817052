#pragma once

#include "comm/CommandPlanner.h"

#include <QByteArray>
#include <QString>

#include <optional>

// What a client asks of a projector or a group through the control routes:
// {"command": "power", "value": "on"}, and "confirm": true for the resets.
struct CommandRequestParse {
    std::optional<CommandRequest> request; // its projector or group still to be set
    bool confirm = false;
    QString error; // why the body was refused, when it was
};

// A projector id as a client gives it: only the canonical form
// xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx of hexadecimal digits, in either case;
// the id in lower case, or empty for anything else.
QString StrictProjectorId(const QString& text);

// Bodies over this are refused before they are read.
inline constexpr qsizetype MaxCommandBodyBytes = 4096;

CommandRequestParse ParseCommandRequest(const QByteArray& body);

// The commands that carry a confirmation: "lamp-reset" and "filter-reset".
bool NeedsConfirmation(const QString& command);
