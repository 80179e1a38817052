#pragma once

#include <QByteArray>
#include <QString>

struct AppState;

// Both write the text as exactly one line: control characters in it are
// escaped by the log writer (EscapeLogText), so callers pass names,
// addresses and alert texts as they are. A line that cannot be written
// raises HealthCondition::LogWriteFailing, which clears once both logs are
// written again.

// Writes a line to the communication log when the program was started with
// "DON"; empty texts are not written.
void WriteCommLog(AppState& state, const QString& text);
// Writes a line to the mail log; empty texts are not written.
void WriteMailLog(AppState& state, const QString& text);
// "[BE][EF]..." for the first count bytes.
QString FormatFrameHex(const QByteArray& bytes, int count);
inline QString FormatFrameHex(const QByteArray& bytes) {
    return FormatFrameHex(bytes, int(bytes.size()));
}
