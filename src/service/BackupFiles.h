#pragma once

#include "platform/SafeFile.h"

#include <QByteArray>
#include <QString>

#include <optional>

#include <sys/types.h>

// File steps of a backup and a restore: copies that are whole on disk
// before anyone relies on them, with the mode chosen, never through a link.

// Copies `from` to the new file `to` (which must not exist) with `mode`,
// in pieces, so a history of any size fits; the copy is synced to the disk
// before it returns. On failure nothing is left at `to`.
FileOutcome CopyToNewFile(const QString& from, const QString& to, mode_t mode);

// The hex SHA-256 and size of a regular file, read in pieces.
struct FileDigest {
    QByteArray sha256;
    qint64 size = 0;
};
std::optional<FileDigest> DigestOf(const QString& path, QString* error);

// The permission bits of a regular file (not followed through a link).
std::optional<mode_t> ModeOf(const QString& path);
