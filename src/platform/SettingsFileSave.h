#pragma once

#include "platform/SafeFile.h"

#include <QString>

#include <functional>

class QSettings;

// Saves of the QSettings INI file that survive a full disk. QSettings may
// lose the error of its last write and still put a cut copy in place, so it
// never writes the settings file itself: it writes a staging copy (first a
// copy of the file as it stands), which is read back by a fresh QSettings
// and compared key by key with what was meant to be saved before it replaces
// the file. On any failure every staging file is removed and the settings
// file stays as it was. A new file is made with mode 0600; an existing one
// keeps its mode. A link or other non-regular file at `path` is refused.
FileOutcome SaveSettingsFile(const QString& path, const std::function<void(QSettings&)>& change);

// True for a file that a save of `fileName` leaves behind when it was cut
// off: a staging copy, or what QSettings and WriteFileAtomically put beside
// one while writing it (its ".lock", its ".XXXXXX" copy, its temporary).
bool IsSettingsSaveLeftover(const QString& candidate, const QString& fileName);
