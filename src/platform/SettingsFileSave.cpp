#include "platform/SettingsFileSave.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSettings>
#include <QVariant>

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// Removes, when it ends without commit(), every file of the save's staging
// names, whatever step it had reached.
class StagingFiles {
  public:
    explicit StagingFiles(QString folder) : m_folder(std::move(folder)) {}
    ~StagingFiles() {
        if (m_names.isEmpty())
            return;
        QDir folder(m_folder);
        const QStringList present =
            folder.entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QString& entry : present) {
            for (const QString& name : std::as_const(m_names)) {
                if (entry.startsWith(name)) {
                    folder.remove(entry);
                    break;
                }
            }
        }
    }
    StagingFiles(const StagingFiles&) = delete;
    StagingFiles& operator=(const StagingFiles&) = delete;

    QString add(const QString& fileName) {
        m_names << fileName;
        return m_folder + QLatin1Char('/') + fileName;
    }
    void commit() { m_names.clear(); }

  private:
    QString m_folder;
    QStringList m_names;
};

FileOutcome failure(const QString& path, const QString& why) {
    return {false, QStringLiteral("cannot save %1: %2").arg(path, why)};
}

// Every key with its value, as QSettings reads them.
QHash<QString, QVariant> contentsOf(const QSettings& settings) {
    QHash<QString, QVariant> out;
    for (const QString& key : settings.allKeys())
        out.insert(key, settings.value(key));
    return out;
}

// Sets the mode and syncs the file, both checked.
int settle(const QByteArray& path, mode_t mode) {
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return errno;
    int error = 0;
    if (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    return error;
}

void syncFolder(const QString& folder) {
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

FileOutcome SaveSettingsFile(const QString& path, const std::function<void(QSettings&)>& change) {
    const QFileInfo target(path);
    const QByteArray targetPath = QFile::encodeName(path);
    mode_t mode = 0600;
    struct stat existing {};
    if (::lstat(targetPath.constData(), &existing) == 0) {
        if (!S_ISREG(existing.st_mode))
            return failure(path, QStringLiteral("it is not a regular file"));
        mode = existing.st_mode & 07777;
    } else if (errno != ENOENT) {
        return failure(path, systemError(errno));
    }
    QString readError;
    const std::optional<QByteArray> current = ReadRegularFile(path, &readError);
    if (!readError.isEmpty())
        return {false, readError};

    StagingFiles staging(target.absolutePath());
    const QString written = staging.add(TemporaryNameFor(target.fileName()));
    if (FileOutcome copied = WriteFileAtomically(written, current.value_or(QByteArray()), mode);
        !copied)
        return failure(path, copied.error.section(QStringLiteral(": "), -1));

    QHash<QString, QVariant> meant;
    {
        QSettings settings(written, QSettings::IniFormat);
        change(settings);
        settings.sync();
        if (settings.status() != QSettings::NoError)
            return failure(path, QStringLiteral("the new settings could not be written"));
        meant = contentsOf(settings);
    }
    // Read back under a name no QSettings has seen, so that nothing cached
    // stands in for what is on disk.
    const QString checked = staging.add(TemporaryNameFor(target.fileName()));
    const QByteArray checkedPath = QFile::encodeName(checked);
    if (::rename(QFile::encodeName(written).constData(), checkedPath.constData()) != 0)
        return failure(path, systemError(errno));
    {
        const QSettings settings(checked, QSettings::IniFormat);
        if (settings.status() != QSettings::NoError || contentsOf(settings) != meant)
            return failure(path, QStringLiteral("the new settings were not written in full (is "
                                                "the disk full?)"));
    }
    if (const int error = settle(checkedPath, mode); error != 0)
        return failure(path, systemError(error));
    if (::rename(checkedPath.constData(), targetPath.constData()) != 0)
        return failure(path, systemError(errno));
    staging.commit();
    syncFolder(target.absolutePath());
    return {true, {}};
}

bool IsSettingsSaveLeftover(const QString& candidate, const QString& fileName) {
    const QString prefix = fileName + QLatin1Char('.') + QLatin1String(TemporaryMark);
    if (!candidate.startsWith(prefix))
        return false;
    // The staging name ends with "<pid>-<16 hex digits>"; what follows it,
    // if anything, is one of the names written beside it.
    static const QRegularExpression stagingTail(QStringLiteral("^[0-9]{1,10}-[0-9a-f]{16}"));
    const QRegularExpressionMatch match = stagingTail.match(candidate.mid(prefix.size()));
    if (!match.hasMatch())
        return false;
    const QString stagingName = candidate.left(prefix.size() + match.capturedLength());
    if (!IsTemporaryOf(stagingName, fileName))
        return false;
    const QString rest = candidate.mid(stagingName.size());
    static const QRegularExpression besideIt(QStringLiteral("^(\\.lock|\\.[A-Za-z0-9]{6})?$"));
    return besideIt.match(rest).hasMatch() || IsTemporaryOf(candidate, stagingName);
}
