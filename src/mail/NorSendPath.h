#pragma once

#include <QString>

// The file of the mail library libnorsend.so for a program that lives in
// programFolder: beside the program when it is there (the build tree),
// otherwise in the private library folder of the installed layout
// (<bindir>/../lib/norvik3). Qt's library loading does not search the
// program's RUNPATH, so the program names the file itself.
QString NorSendLibraryPath(const QString& programFolder);
