#include "pjlink/PJLinkPasswords.h"

#include "core/AppState.h"
#include "platform/SafeFile.h"
#include "platform/SecretStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <optional>
#include <utility>

#include <sys/stat.h>

namespace {

Q_LOGGING_CATEGORY(lcPasswords, "norvik.pjlink.passwords")

const QString Service = QStringLiteral("Norvik3 PJLink");
const QString FileName = QStringLiteral("Norvik3.pjlink-passwords");
// 256 projectors of a few dozen bytes each; a larger file is no file of ours.
constexpr qint64 MaxFileBytes = 1024 * 1024;

constexpr QFileDevice::Permissions OthersOrGroup =
    QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
    QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;

// The key and the password of a line "ADDRESS:PORT=password"; nothing for
// blank lines, comments ("#") and lines without both parts.
std::optional<std::pair<QString, QString>> parseLine(QByteArray line) {
    while (line.endsWith('\r'))
        line.chop(1);
    const QByteArray trimmed = line.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith('#'))
        return std::nullopt;
    const qsizetype equals = line.indexOf('=');
    if (equals < 0)
        return std::nullopt;
    const QString where = QString::fromUtf8(line.left(equals)).trimmed();
    const qsizetype colon = where.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return std::nullopt;
    QString address = where.left(colon);
    if (address.startsWith(QLatin1Char('[')) && address.endsWith(QLatin1Char(']')))
        address = address.mid(1, address.size() - 2);
    const QString key = PJLinkPasswords::keyOf(address, where.mid(colon + 1));
    if (key.isEmpty())
        return std::nullopt;
    // The password is everything after the first "=", blanks included.
    return std::pair{key, QString::fromUtf8(line.mid(equals + 1))};
}

QByteArray stampOf(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return QByteArray::number(quint64(st.st_dev)) + ':' + QByteArray::number(quint64(st.st_ino)) +
           ':' + QByteArray::number(qint64(st.st_size)) + ':' +
           QByteArray::number(qint64(st.st_mtim.tv_sec)) + '.' +
           QByteArray::number(qint64(st.st_mtim.tv_nsec)) + ':' +
           QByteArray::number(quint32(st.st_mode));
}

} // namespace

PJLinkPasswords::PJLinkPasswords(AppState& state, QObject* parent)
    : QObject(parent), m_state(state) {
    // The folder is watched for the file's creation and its replacement by
    // a rename; the file itself for edits in place and a change of mode.
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this,
            &PJLinkPasswords::readFileIfChanged);
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this,
            &PJLinkPasswords::readFileIfChanged);
    reload();
}

QString PJLinkPasswords::keyOf(const QString& address, const QString& port) {
    const QString host = address.trimmed().toLower();
    if (host.isEmpty())
        return {};
    const QString portText = port.trimmed();
    bool ok = true;
    const uint number = portText.isEmpty() ? DefaultPJLinkPortNo.toUInt() : portText.toUInt(&ok);
    if (!ok || number < 1 || number > 65535)
        return {};
    return host + QLatin1Char(':') + QString::number(number);
}

QString PJLinkPasswords::keyOf(const ProjectorInfo& info) {
    return keyOf(info.IPAddress, info.PortNo);
}

QString PJLinkPasswords::passwordFor(const QString& key) const {
    if (const auto it = m_secret.constFind(key); it != m_secret.constEnd())
        return *it;
    return m_file.value(key);
}

QString PJLinkPasswords::passwordOf(int projector) const {
    if (projector < 1 || projector > m_state.ProjectorCount)
        return {};
    return passwordFor(keyOf(m_state.Projectors[std::size_t(projector)]));
}

QString PJLinkPasswords::filePath(const AppState& state) {
    const QString folder = state.SettingsFile.isEmpty()
                               ? state.ProgramFolder
                               : QFileInfo(state.SettingsFile).absolutePath();
    return QDir(folder).filePath(FileName);
}

void PJLinkPasswords::reload() {
    // Entries already known stay until the store answers otherwise, so a
    // reload never sends a session without its password meanwhile.
    readFileNow();
    for (int p = 1; p <= m_state.ProjectorCount; ++p) {
        const ProjectorInfo& info = m_state.Projectors[std::size_t(p)];
        if (IsPJLink(info))
            askSecretStore(keyOf(info));
    }
}

void PJLinkPasswords::watch() {
    const QString path = filePath(m_state);
    const QString folder = QFileInfo(path).absolutePath();
    if (!m_watcher.directories().contains(folder))
        m_watcher.addPath(folder);
    // A replaced file is a new inode: the watch of the old one is gone.
    if (!m_watcher.files().isEmpty())
        m_watcher.removePaths(m_watcher.files());
    if (QFileInfo::exists(path))
        m_watcher.addPath(path);
}

void PJLinkPasswords::readFileIfChanged() {
    if (stampOf(filePath(m_state)) != m_fileStamp)
        readFileNow();
}

void PJLinkPasswords::readFileNow() {
    const QString path = filePath(m_state);
    m_fileStamp = stampOf(path);
    watch();
    FileContent content = readFile(path);
    if (content.refused) {
        const QString text =
            QStringLiteral("The PJLink passwords file %1 is readable by others than its owner "
                           "and is not used; make it readable by its owner only (chmod 600)")
                .arg(path);
        if (!m_state.Health.isActive(HealthCondition::PasswordsRefused))
            qCWarning(lcPasswords).noquote() << text;
        m_state.Health.raise(HealthCondition::PasswordsRefused, text);
    } else if (!content.error.isEmpty()) {
        m_state.Health.raise(HealthCondition::PasswordsRefused,
                             QStringLiteral("The PJLink passwords file cannot be read: ") +
                                 content.error);
    } else if (m_state.Health.isActive(HealthCondition::PasswordsRefused)) {
        m_state.Health.clear(
            HealthCondition::PasswordsRefused,
            QStringLiteral("The PJLink passwords file %1 is used again").arg(path));
    }
    m_file = std::move(content.passwords);
    emit refreshed();
}

PJLinkPasswords::FileContent PJLinkPasswords::readFile(const QString& path) {
    FileContent content;
    QFile file(path);
    if (!file.exists())
        return content;
    if (file.permissions() & OthersOrGroup) {
        content.refused = true;
        return content;
    }
    // Only a regular file is read: a FIFO there must not hang the program.
    QString error;
    const std::optional<QByteArray> text = ReadRegularFile(path, &error, MaxFileBytes);
    if (!text) {
        content.error = error;
        return content;
    }
    for (const QByteArray& line : text->split('\n'))
        if (const auto entry = parseLine(line))
            content.passwords.insert(entry->first, entry->second);
    return content;
}

QByteArray PJLinkPasswords::withPassword(const QByteArray& text, const QString& key,
                                         const QString& password) {
    QByteArray out;
    bool written = false;
    const QByteArray ownLine = key.toUtf8() + '=' + password.toUtf8() + '\n';
    QList<QByteArray> lines = text.split('\n');
    if (!lines.isEmpty() && lines.back().isEmpty())
        lines.removeLast();
    for (const QByteArray& line : lines) {
        const auto entry = parseLine(line);
        if (!entry || entry->first != key) {
            out += line + '\n';
            continue;
        }
        // The first line of the key takes the new password; repeats go.
        if (!password.isEmpty() && !std::exchange(written, true))
            out += ownLine;
    }
    if (!password.isEmpty() && !written)
        out += ownLine;
    return out;
}

bool PJLinkPasswords::writeFile(const QString& path, const QByteArray& text, QString* error) {
    // A file that was open to others is closed now, since the passwords
    // were refused while it was.
    const FileOutcome saved = WriteOwnerOnlyFile(path, text);
    if (!saved && error)
        *error = saved.error;
    return saved.ok;
}

bool PJLinkPasswords::storeInFile(const QString& key, const QString& password) {
    const QString path = filePath(m_state);
    QString error;
    const std::optional<QByteArray> old = ReadRegularFile(path, &error, MaxFileBytes);
    if (!old && !error.isEmpty()) {
        qCWarning(lcPasswords).noquote() << error;
        return false;
    }
    const QByteArray text = withPassword(old.value_or(QByteArray()), key, password);
    if (old && text == *old)
        return true;
    if (!old && text.isEmpty())
        return true;
    if (!writeFile(path, text, &error)) {
        qCWarning(lcPasswords).noquote() << error;
        m_state.Health.raise(HealthCondition::SaveFailing,
                             QStringLiteral("The PJLink password cannot be saved: ") + error);
        return false;
    }
    readFileNow();
    return true;
}

void PJLinkPasswords::askSecretStore(const QString& key) {
    if (key.isEmpty() || !hasSecretStore() || m_asking.contains(key))
        return;
    m_asking.insert(key);
    m_state.Secrets->read(Service, key, this, [this, key](const SecretStore::Result& result) {
        m_asking.remove(key);
        if (result.answer == SecretStore::Answer::Done) {
            m_secret.insert(key, result.value);
        } else if (result.answer == SecretStore::Answer::NotFound) {
            m_secret.remove(key);
        } else if (!std::exchange(m_storeUnavailable, true)) {
            // Said once, and not asked again: where no secret service runs,
            // every projector would say it.
            qCInfo(lcPasswords) << "secret store not used:" << result.error;
        }
        emit refreshed();
    });
}

bool PJLinkPasswords::hasSecretStore() const {
    return m_state.Secrets && !m_storeUnavailable;
}

bool PJLinkPasswords::store(const QString& address, const QString& port, const QString& password) {
    const QString key = keyOf(address, port);
    if (key.isEmpty() || password.contains(QLatin1Char('\n')) ||
        password.contains(QLatin1Char('\r')))
        return false;
    if (password.isEmpty()) {
        m_secret.remove(key);
        storeInFile(key, QString());
        if (hasSecretStore())
            m_state.Secrets->remove(Service, key, this, [](const SecretStore::Result&) {});
        emit stored(key, Place::None);
        return true;
    }
    const auto inFile = [this, key, password] {
        emit stored(key, storeInFile(key, password) ? Place::File : Place::None);
    };
    if (!hasSecretStore()) {
        inFile();
        return true;
    }
    // A line already in the file stays there: the service, which has no
    // secret store, reads the same file. The store's entry would shadow it.
    if (m_file.contains(key)) {
        m_secret.remove(key);
        m_state.Secrets->remove(Service, key, this, [](const SecretStore::Result&) {});
        inFile();
        return true;
    }
    m_state.Secrets->write(Service, key, password, this,
                           [this, key, password, inFile](const SecretStore::Result& result) {
                               if (result.answer != SecretStore::Answer::Done) {
                                   qCInfo(lcPasswords)
                                       << "password kept in its file:" << result.error;
                                   m_storeUnavailable = true;
                                   inFile();
                                   return;
                               }
                               // One place only: a stale line would come back if the entry went.
                               m_secret.insert(key, password);
                               storeInFile(key, QString());
                               emit stored(key, Place::SecretStore);
                           });
    return true;
}
