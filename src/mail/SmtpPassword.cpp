#include "mail/SmtpPassword.h"

#include "core/AppState.h"
#include "core/CommLogs.h"
#include "mail/MailLogging.h"
#include "platform/SafeFile.h"
#include "platform/SecretStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>

#include <utility>

namespace {

const QString Service = QStringLiteral("Norvik3");
const QString Key = QStringLiteral("SMTPPassword");
const QString FileName = QStringLiteral("Norvik3.smtp-password");

constexpr QFileDevice::Permissions OthersOrGroup =
    QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
    QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;

} // namespace

SmtpPassword::SmtpPassword(AppState& state, QObject* parent) : QObject(parent), m_state(state) {
    refresh();
}

void SmtpPassword::refresh() {
    if (!m_state.Secrets)
        return;
    m_state.Secrets->read(Service, Key, this, [this](const SecretStore::Result& result) {
        if (result.answer == SecretStore::Answer::Done) {
            m_inStore = true;
            m_storeValue = result.value;
        } else {
            // Said once: where no secret service runs, every mail would say it.
            if (result.answer == SecretStore::Answer::Unavailable &&
                !std::exchange(m_storeWarned, true))
                qCInfo(lcMail) << "secret store not used:" << result.error;
            m_inStore = false;
            m_storeValue.clear();
        }
        emit refreshed();
    });
}

QString SmtpPassword::password() {
    if (m_inStore) {
        m_place = Place::SecretStore;
        return m_storeValue;
    }
    const QString path = filePath(m_state);
    bool refused = false;
    const std::optional<QString> fromFile = readFile(path, &refused);
    if (refused && !std::exchange(m_refusalLogged, true))
        WriteMailLog(m_state,
                     QStringLiteral("Password File Refused (readable by others): ") + path);
    if (!refused)
        m_refusalLogged = false;
    m_place = fromFile ? Place::File : Place::None;
    return fromFile.value_or(QString());
}

void SmtpPassword::store(const QString& password) {
    // Asked without a context, so that a dialog closed right after "OK"
    // still gets its password stored (or kept in the file).
    const QString path = filePath(m_state);
    const QPointer<SmtpPassword> self(this);
    auto finish = [self](const QString& inStore, Place place) {
        if (!self)
            return;
        self->m_inStore = place == Place::SecretStore;
        self->m_storeValue = inStore;
        self->m_place = place;
        emit self->stored(place);
    };
    if (password.isEmpty()) {
        QFile::remove(path);
        if (!m_state.Secrets) {
            finish(QString(), Place::None);
            return;
        }
        m_state.Secrets->remove(Service, Key, nullptr, [finish](const SecretStore::Result&) {
            finish(QString(), Place::None);
        });
        return;
    }
    if (!m_state.Secrets) {
        finish(QString(), writeFile(path, password) ? Place::File : Place::None);
        return;
    }
    // A password already in its file stays there: the service, which has no
    // secret store, reads the same file. The store's entry would shadow it.
    if (QFileInfo::exists(path)) {
        const bool written = writeFile(path, password);
        m_state.Secrets->remove(Service, Key, nullptr, [finish, written](const SecretStore::Result&) {
            finish(QString(), written ? Place::File : Place::None);
        });
        return;
    }
    m_state.Secrets->write(Service, Key, password, nullptr,
                           [finish, path, password](const SecretStore::Result& result) {
                               if (result.answer != SecretStore::Answer::Done) {
                                   qCInfo(lcMail) << "password kept in its file:" << result.error;
                                   finish(QString(),
                                          writeFile(path, password) ? Place::File : Place::None);
                                   return;
                               }
                               // One place only: a stale file would come back if the entry went.
                               QFile::remove(path);
                               finish(password, Place::SecretStore);
                           });
}

QString SmtpPassword::filePath(const AppState& state) {
    const QString folder = state.SettingsFile.isEmpty()
                               ? state.ProgramFolder
                               : QFileInfo(state.SettingsFile).absolutePath();
    return QDir(folder).filePath(FileName);
}

std::optional<QString> SmtpPassword::readFile(const QString& path, bool* refused) {
    if (refused)
        *refused = false;
    QFile file(path);
    if (!file.exists())
        return std::nullopt;
    if (file.permissions() & OthersOrGroup) {
        if (refused)
            *refused = true;
        return std::nullopt;
    }
    // Only a regular file is read: a FIFO there must not hang the program.
    const std::optional<QByteArray> content = ReadRegularFile(path, nullptr, 64 * 1024);
    if (!content)
        return std::nullopt;
    const qsizetype end = content->indexOf('\n');
    QByteArray line = end < 0 ? *content : content->left(end);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return QString::fromUtf8(line);
}

bool SmtpPassword::writeFile(const QString& path, const QString& password) {
    const FileOutcome saved = WriteOwnerOnlyFile(path, password.toUtf8() + '\n');
    if (!saved)
        qCWarning(lcMail) << saved.error;
    return saved.ok;
}
