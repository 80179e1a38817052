#pragma once

#include <QString>

#include <optional>

struct AppState;
struct ProjectorInfo;

// What the metrics and the JSON both say about a projector, so that the two
// never disagree.

// "native" for the program's own protocol, "pjlink" for PJLink.
const char* ProtocolLabel(const ProjectorInfo& info);
// The warning a PJLink projector reports while it has no error ("Lamp
// Warning"); empty for none, for a disconnected one and the own protocol.
QString ProjectorWarning(const ProjectorInfo& info);
// A reported value as the endpoint shows it, where the window shows "-":
// nothing while the projector is disconnected or the value was not reported
// (refused or never asked).
std::optional<qint32> ReportedValue(const ProjectorInfo& info, qint32 value);
// How many of a PJLink projector's lamps are current: none while it is
// disconnected or its lamp query went unanswered (refused, or a password
// refused), whatever it reported before; none for the own protocol.
int CurrentLampCount(const ProjectorInfo& info);
