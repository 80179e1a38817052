#include "core/Formatting.h"

#include "core/AppState.h"

#include <QLocale>
#include <QRegularExpression>

QString FormatShortDate(const AppState& state, const QDate& date) {
    return QLocale(state.LocaleId).toString(date, QLocale::ShortFormat);
}

QString FormatShortTime(const AppState& state, const QTime& time) {
    const QLocale locale(state.LocaleId);
    if (state.ShortTimeFormat.isEmpty())
        return locale.toString(time, QLocale::ShortFormat);
    return locale.toString(time, state.ShortTimeFormat);
}

QString FormatDateTime(const AppState& state, const QDateTime& moment) {
    return FormatShortDate(state, moment.date()) + QLatin1Char(' ') +
           FormatShortTime(state, moment.time());
}

QString DeriveShortTimeFormat(const QString& timeFormat, const QString& separator) {
    if (separator.isEmpty())
        return timeFormat;
    QString out = timeFormat;
    for (const QString& seconds : {QStringLiteral("ss"), QStringLiteral("s")}) {
        const QString part = separator + seconds;
        const int at = out.indexOf(part);
        if (at >= 0) {
            out.remove(at, part.size());
            return out;
        }
    }
    return out;
}

QString TimeSeparatorOf(const QString& timeFormat) {
    // The first character between the hour and the minutes.
    const int hour = timeFormat.indexOf(QRegularExpression(QStringLiteral("[hH]")));
    if (hour < 0)
        return QString();
    for (int i = hour; i < timeFormat.size(); ++i) {
        const QChar c = timeFormat.at(i);
        if (c == QLatin1Char('h') || c == QLatin1Char('H'))
            continue;
        if (c == QLatin1Char('m') || c.isSpace() || c.isLetter())
            return QString();
        return QString(c);
    }
    return QString();
}

QString WithoutTimeZone(const QString& timeFormat) {
    // A time picker has no zone; drop the zone field and the blank before it.
    QString out = timeFormat;
    out.remove(QRegularExpression(QStringLiteral("\\s*\\bt+\\b")));
    return out;
}

QPoint CenteredPosition(const QRect& mainWindow, const QSize& dialog, const QSize& screen) {
    auto place = [](int origin, int outer, int inner, int screenSize) {
        int pos = origin + (outer - inner) / 2;
        if (pos + inner > screenSize)
            pos = screenSize - inner;
        // Checked last so that a dialog larger than the screen starts at 0.
        return pos < 0 ? 0 : pos;
    };
    return {place(mainWindow.left(), mainWindow.width(), dialog.width(), screen.width()),
            place(mainWindow.top(), mainWindow.height(), dialog.height(), screen.height())};
}
