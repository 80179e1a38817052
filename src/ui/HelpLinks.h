#pragma once

#include <QString>

// The user guide beside the installed program (share/doc/norvik3) or, for a
// program run from its build folder, in the checkout's docs/; empty when
// neither is there.
QString UserGuidePath(const QString& programDir);
