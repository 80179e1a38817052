#include "ui/HelpLinks.h"

#include <QDir>
#include <QFileInfo>

QString UserGuidePath(const QString& programDir) {
    const QDir dir(programDir);
    for (const char* relative :
         {"../share/doc/norvik3/user-guide.md", "../../docs/user-guide.md"}) {
        const QFileInfo guide(dir.filePath(QLatin1String(relative)));
        if (guide.isFile())
            return guide.canonicalFilePath();
    }
    return QString();
}
