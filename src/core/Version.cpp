#include "core/Version.h"

QString ProgramVersion() {
    return QStringLiteral(NORVIK3_VERSION);
}
