#include "log/CommLogs.h"

#include "core/AppState.h"
#include "log/LogFileMaker.h"

void WriteCommLog(AppState& state, const QString& text)
{
    if (state.CommLogEnabled && state.CommLog && !text.isEmpty())
        state.CommLog->WriteLog(text, 1);
}

void WriteMailLog(AppState& state, const QString& text)
{
    if (state.MailLog && !text.isEmpty())
        state.MailLog->WriteLog(text, 1);
}

QString FormatFrameHex(const QByteArray& bytes, int count)
{
    QString out;
    out.reserve(count * 4);
    for (int i = 0; i < count && i < bytes.size(); ++i) {
        out += QLatin1Char('[');
        out += QString::number(quint8(bytes.at(i)), 16).rightJustified(2, QLatin1Char('0')).toUpper();
        out += QLatin1Char(']');
    }
    return out;
}
