#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

#include <sys/types.h>

// Files the program writes and reads, safe against full disks, crashes and
// links planted in its folders.

// Files larger than this are refused when read: nothing of ours is anywhere
// near it, and a link to /dev/zero or a huge file must not fill the memory.
inline constexpr qint64 MaxReadBytes = 16 * 1024 * 1024;

struct FileOutcome {
    bool ok = false;
    QString error; // what went wrong, with the file's path, when !ok
    explicit operator bool() const { return ok; }
};

// Replaces `path` by `content`: written to a new temporary file beside it
// (created exclusively, never through a link), every write, the sync and
// the close checked, then renamed over `path` and the folder synced. On any
// failure the temporary is removed and the old file stays as it was. A new
// file gets `newFileMode`; an existing one keeps its mode. A link at `path`
// is refused, never followed.
// FolderSync::Later leaves the folder's sync to the caller, who writes a
// batch of files and then calls SyncFolder once.
enum class FolderSync { Now, Later };
FileOutcome WriteFileAtomically(const QString& path, const QByteArray& content,
                                mode_t newFileMode = 0600, FolderSync folderSync = FolderSync::Now);
// The same for a file for its owner's eyes alone (passwords, tokens): the
// new file is 0600 from its first byte, whatever mode the old one had.
FileOutcome WriteOwnerOnlyFile(const QString& path, const QByteArray& content);
// Makes the renames and removals in a folder durable.
void SyncFolder(const QString& folder);

// The temporary files WriteFileAtomically makes are named
// "<name>.<TemporaryMark><pid>-<16 hex digits>", a name nobody would choose.
inline constexpr char TemporaryMark[] = "norvik3-save-";
QString TemporaryNameFor(const QString& fileName);
// True when `candidate` is exactly such a temporary of `fileName`.
bool IsTemporaryOf(const QString& candidate, const QString& fileName);

// The content of a regular file (a link to one is followed) of at most
// maxBytes. A FIFO, device, socket or folder is refused without being
// opened for reading, so nothing can hang or flood the program. A missing
// file gives nothing with an empty error.
std::optional<QByteArray> ReadRegularFile(const QString& path, QString* error = nullptr,
                                          qint64 maxBytes = MaxReadBytes);

// Opens `path` to append, creating it with `mode` when missing, never
// through a link and never a non-regular file. -1 with errno set on failure.
// write() until all is written: a short write is retried, an error ends it.
bool WriteAll(int fd, const char* data, qint64 size);

int OpenForAppend(const QString& path, mode_t mode = 0644);
