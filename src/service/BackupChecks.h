#pragma once

#include <QString>
#include <QStringList>

// What a start would refuse of the files it reads, checked the way the
// start reads them but without starting: for `norvik3d --check` on the live
// files, and for a restore on a backup's files before any of them is put in
// place.

// The settings file at `settingsFile`, the SMTP and PJLink passwords and
// the API tokens beside it, and PJModel.txt and Schedule/*.sch of
// `programFolder`. One line per refusal, naming the file and why; empty
// when a start would use them all. Missing files are no refusal: a start
// makes or does without them.
QStringList StartRefusals(const QString& settingsFile, const QString& programFolder);

// The status endpoint's certificate and key, when the settings file sets
// HTTPS for an endpoint that is on: why a start would leave it off. They
// live outside the program's folders, so a backup does not take them.
QStringList EndpointRefusals(const QString& settingsFile);

struct HistoryCheck {
    QString refusal; // why a start could not record into it; empty when it could
    qint64 events = 0;
};
// Opens the history file read-only, without changing it or making files
// beside it, and checks it as a history: an SQLite database whose pages are
// whole, with the history's tables, of this or an older version.
HistoryCheck CheckHistoryFile(const QString& path);
