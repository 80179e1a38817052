#pragma once

#include <QString>

// The program folder: $NORVIK3_HOME when set and not empty, otherwise the
// per-user application data folder. Without a trailing slash.
QString ProgramFolderPath();
// The settings store's file: $NORVIK3_HOME/Norvik3.conf when NORVIK3_HOME is
// set, otherwise the per-user configuration folder's KESTRAN/Norvik3.conf.
QString SettingsFilePath();
