#pragma once

#include <QString>
#include <QTimeZone>

#include <optional>

// A moment the history is asked about, as a person or a client writes it:
// an ISO 8601 date ("2026-12-01", its midnight) or date and time
// ("2026-12-01T08:30", "2026-12-01T08:30:00Z", "...+01:00"). A date or a
// time without an offset is read in `zone`. UTC milliseconds since the
// epoch; nothing for any other text.
std::optional<qint64> HistoryTimeFrom(const QString& text, const QTimeZone& zone);

// UTC as ISO 8601 with milliseconds and "Z": "2026-12-01T07:30:00.000Z".
QString HistoryTimeText(qint64 timeMs);
