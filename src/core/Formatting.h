#pragma once

#include <QDate>
#include <QDateTime>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QTime>

struct AppState;
class QLocale;

// Locale formatting with the user's default locale (AppState::LocaleId).
QString FormatShortDate(const AppState& state, const QDate& date);
QString FormatShortTime(const AppState& state, const QTime& time);
QString FormatDateTime(const AppState& state, const QDateTime& moment);

// The time format without its seconds. The seconds field (and a fraction
// after it) goes with the separator before it ("HH:mm:ss" gives "HH:mm",
// "h:mm:ss AP" gives "h:mm AP") or, where the seconds carry a unit of their
// own, with that unit and the blank before them ("H時mm分ss秒" gives "H時mm分",
// "HH 'h' mm 'min' ss 's'" gives "HH 'h' mm 'min'"). A format without seconds
// ("H.mm") stays; the result never starts or ends with a blank.
QString DeriveShortTimeFormat(const QString& timeFormat);
// The format without a time-zone field ("t" runs) and the blanks, comma or
// brackets that set it apart: a time of day without a date cannot show it.
QString WithoutTimeZone(const QString& timeFormat);
// ShortTimeFormat of a locale: its time format without zone and seconds.
QString LocaleShortTimeFormat(const QLocale& locale);

// Top-left corner of a dialog centred over the main window and kept on the
// screen: negative positions become 0, a dialog running off the right or
// bottom edge is moved back inside.
QPoint CenteredPosition(const QRect& mainWindow, const QSize& dialog, const QSize& screen);
