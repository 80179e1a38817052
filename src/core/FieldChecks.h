#pragma once

#include <QString>

// The checks a projector's own fields get wherever they are entered: the
// projector dialog, the group dialog and the CSV import. Each returns the
// refusal to show, or an empty text when the field can be stored. None
// trims: a blank around a value is refused, never silently dropped.

inline constexpr int MaxEntryNameLength = 256;

// A projector or group name: no control, line-break, bidirectional or
// zero-width character (they hide or reorder what the tree and the logs
// show), at most 256 characters.
QString CheckEntryName(const QString& name);

// Four decimal numbers 0 to 255 without leading zeros, as "192.0.2.10":
// the form two projectors are compared in, and the only one handed to the
// network and to child programs.
QString CheckIPv4Address(const QString& address);

// A TCP port 1 to 65535 in digits, without leading zeros.
QString CheckPortNumber(const QString& port);
