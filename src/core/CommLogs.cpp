#include "core/CommLogs.h"

#include "core/AppState.h"
#include "log/LogFileMaker.h"

#include <memory>

namespace {

bool failing(const std::unique_ptr<LogFileMaker>& log) {
    return log && !log->lastError().isEmpty();
}

// A failed line is reported (once while the reason stays the same); the
// condition clears when both logs write again.
void report(AppState& state, LogFileMaker& log, bool written, const QString& name) {
    if (!written) {
        state.Health.raise(HealthCondition::LogWriteFailing,
                           QStringLiteral("%1 not written: %2").arg(name, log.lastError()));
    } else if (state.Health.isActive(HealthCondition::LogWriteFailing) && !failing(state.CommLog) &&
               !failing(state.MailLog)) {
        state.Health.clear(HealthCondition::LogWriteFailing,
                           QStringLiteral("%1 written again").arg(name));
    }
}

} // namespace

void WriteCommLog(AppState& state, const QString& text) {
    if (state.CommLogEnabled && state.CommLog && !text.isEmpty())
        report(state, *state.CommLog, state.CommLog->WriteLog(text, 1),
               QStringLiteral("Communication log"));
}

void WriteMailLog(AppState& state, const QString& text) {
    if (state.MailLog && !text.isEmpty())
        report(state, *state.MailLog, state.MailLog->WriteLog(text, 1), QStringLiteral("Mail log"));
}

QString FormatFrameHex(const QByteArray& bytes, int count) {
    QString out;
    out.reserve(count * 4);
    for (int i = 0; i < count && i < bytes.size(); ++i) {
        out += QLatin1Char('[');
        out +=
            QString::number(quint8(bytes.at(i)), 16).rightJustified(2, QLatin1Char('0')).toUpper();
        out += QLatin1Char(']');
    }
    return out;
}
