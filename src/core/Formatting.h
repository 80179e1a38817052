#pragma once

#include <QDate>
#include <QDateTime>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QTime>

struct AppState;

// Locale formatting with the user's default locale (AppState::LocaleId).
QString FormatShortDate(const AppState& state, const QDate& date);
QString FormatShortTime(const AppState& state, const QTime& time);
QString FormatDateTime(const AppState& state, const QDateTime& moment);

// The time format without its seconds: removes the first separator + "ss",
// or failing that the first separator + "s". "HH:mm:ss" gives "HH:mm",
// "h:mm:ss AP" gives "h:mm AP", "H.mm" stays.
QString DeriveShortTimeFormat(const QString& timeFormat, const QString& separator);
// The locale's time separator, taken from its time format.
QString TimeSeparatorOf(const QString& timeFormat);
// The format without a time-zone field ("t" runs), which a time of day
// without a date cannot show.
QString WithoutTimeZone(const QString& timeFormat);

// Top-left corner of a dialog centred over the main window and kept on the
// screen: negative positions become 0, a dialog running off the right or
// bottom edge is moved back inside.
QPoint CenteredPosition(const QRect& mainWindow, const QSize& dialog, const QSize& screen);
