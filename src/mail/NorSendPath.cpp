#include "mail/NorSendPath.h"

#include <QDir>
#include <QFileInfo>

// NORVIK3_LIB_FROM_BIN, the path from the installed bin/ to the private
// library folder, comes from the install rules, which decide the layout.

QString NorSendLibraryPath(const QString& programFolder) {
    const QString fileName = QStringLiteral("libnorsend.so");
    const QDir folder(programFolder);
    const QString beside = folder.filePath(fileName);
    if (QFileInfo::exists(beside))
        return beside;
    return QDir::cleanPath(folder.filePath(QStringLiteral(NORVIK3_LIB_FROM_BIN "/") + fileName));
}
