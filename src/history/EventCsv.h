#pragma once

#include "history/HistoryEvent.h"

#include <QByteArray>
#include <QTimeZone>

// The history as CSV (RFC 4180, UTF-8, CR LF), as the History view and the
// service's --history-export write it: one header line, one row per event.
// The time is written in `zone` with its offset, so that a spreadsheet
// shows local time and the row stays unambiguous.
QByteArray EventCsvHeader();
QByteArray EventCsvLine(const HistoryEvent& event, const QTimeZone& zone);
