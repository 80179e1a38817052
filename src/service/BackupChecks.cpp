#include "service/BackupChecks.h"

#include "core/Startup.h"
#include "history/EventStore.h"
#include "mail/SmtpPassword.h"
#include "pjlink/PJLinkPasswords.h"
#include "platform/SafeFile.h"
#include "status/ApiTokens.h"
#include "status/StatusEndpointSettings.h"
#include "status/TlsTcpServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Why a file a start reads cannot be read as one, by this account too:
// empty when it is missing or a readable regular file of a size it reads.
QString unreadableBecause(const QString& path) {
    if (const QString why = UnreadableBecause(path); !why.isEmpty())
        return why;
    if (QFileInfo::exists(path) && ::access(QFile::encodeName(path).constData(), R_OK) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    return {};
}

// The first line QSettings cannot read as a section, a key=value line or a
// ";" comment, as the administrator wrote it; 0 when none is found.
int firstBadSettingsLine(const QString& path, QString* line) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    int number = 0;
    while (!file.atEnd()) {
        ++number;
        QString text = QString::fromUtf8(file.readLine()).trimmed();
        if (number == 1 && text.startsWith(QChar(0xFEFF)))
            text.remove(0, 1);
        const bool section = text.startsWith(u'[') && text.contains(u']');
        if (!text.isEmpty() && !text.startsWith(u';') && !section && !text.contains(u'=')) {
            *line = text.left(60);
            return number;
        }
    }
    return 0;
}

void checkSettings(const QString& path, QStringList& refusals) {
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return;
    const QString prefix = QStringLiteral("the settings file %1 cannot be used: ").arg(path);
    if (const QString why = unreadableBecause(path); !why.isEmpty()) {
        refusals << prefix + why;
        return;
    }
    if (S_ISLNK(info.st_mode)) {
        refusals << prefix + QStringLiteral("it is a link, which saves would not follow; put "
                                            "the file itself there");
        return;
    }
    // QSettings tells of a line it cannot read only when it parses the
    // file, not when another object of the process had it read already:
    // the lines are looked at here as well.
    QString line;
    const int number = firstBadSettingsLine(path, &line);
    const QSettings settings(path, QSettings::IniFormat);
    settings.allKeys();
    if (number == 0 && settings.status() == QSettings::NoError)
        return;
    refusals << prefix + (number > 0
                              ? QStringLiteral("line %1 (\"%2\") is no [section], key=value or ; "
                                               "comment, and no save of the settings would succeed")
                                    .arg(number)
                                    .arg(line)
                              : QStringLiteral("it cannot be read as settings, and no save of the "
                                               "settings would succeed"));
}

void checkProfileFile(const QString& path, const QString& what, QStringList& refusals) {
    if (const QString why = unreadableBecause(path); !why.isEmpty())
        refusals << QStringLiteral("the %1 %2 is not read: %3").arg(what, path, why);
}

void checkSecrets(const QString& folder, QStringList& refusals) {
    const QString smtp = QDir(folder).filePath(QStringLiteral("Norvik3.smtp-password"));
    bool refused = false;
    if (QFileInfo::exists(smtp)) {
        SmtpPassword::readFile(smtp, &refused);
        if (refused)
            refusals << QStringLiteral("the SMTP password file %1 is readable by others than its "
                                       "owner and is not used; make it readable by its owner "
                                       "only (chmod 600)")
                            .arg(smtp);
        else if (const QString why = unreadableBecause(smtp); !why.isEmpty())
            refusals
                << QStringLiteral("the SMTP password file %1 cannot be read: %2").arg(smtp, why);
    }
    const QString pjlink = QDir(folder).filePath(QStringLiteral("Norvik3.pjlink-passwords"));
    const PJLinkPasswords::FileContent passwords = PJLinkPasswords::readFile(pjlink);
    if (passwords.refused)
        refusals << QStringLiteral("the PJLink passwords file %1 is readable by others than its "
                                   "owner and is not used; make it readable by its owner only "
                                   "(chmod 600)")
                        .arg(pjlink);
    else if (!passwords.error.isEmpty())
        refusals << QStringLiteral("the PJLink passwords file cannot be read: ") + passwords.error;
    ApiTokens tokens(QDir(folder).filePath(QStringLiteral("Norvik3.api-tokens")), QString());
    refusals << tokens.reload();
}

} // namespace

QStringList StartRefusals(const QString& settingsFile, const QString& programFolder) {
    QStringList refusals;
    checkSettings(settingsFile, refusals);
    checkSecrets(QFileInfo(settingsFile).absolutePath(), refusals);
    checkProfileFile(QDir(programFolder).filePath(QStringLiteral("PJModel.txt")),
                     QStringLiteral("model file"), refusals);
    const QDir schedules(QDir(programFolder).filePath(QStringLiteral("Schedule")));
    for (const QString& name : schedules.entryList({QStringLiteral("*.sch")},
                                                   QDir::AllEntries | QDir::System | QDir::Hidden))
        checkProfileFile(schedules.filePath(name), QStringLiteral("schedule file"), refusals);
    return refusals;
}

QStringList EndpointRefusals(const QString& settingsFile) {
    const StatusEndpointSettings endpoint = ReadStatusEndpointSettings(settingsFile);
    if (endpoint.port <= 0 || !endpoint.usesTls())
        return {};
    QString why =
        QStringLiteral("Setting/StatusHttpCertificate and Setting/StatusHttpKey are set together");
    if (!endpoint.certificate.isEmpty() && !endpoint.key.isEmpty() &&
        ServerTlsConfiguration(endpoint.certificate, endpoint.key, QDateTime::currentDateTimeUtc(),
                               &why))
        return {};
    return {QStringLiteral("Status endpoint off: no HTTPS: ") + why};
}

HistoryCheck CheckHistoryFile(const QString& path) {
    HistoryCheck check;
    const auto refuse = [&check, &path](const QString& why) {
        check.refusal = QStringLiteral("the history %1 cannot be used: %2").arg(path, why);
        return check;
    };
    if (const QString why = unreadableBecause(path); !why.isEmpty())
        return refuse(why);
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
        return refuse(QStringLiteral("the SQLite driver of Qt SQL (libqt6sql6-sqlite) is not "
                                     "installed"));
    const QString connection = QUuid::createUuid().toString();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        QSqlQuery query(db);
        const auto first = [&query](const QString& sql) -> std::optional<QString> {
            if (!query.exec(sql) || !query.next())
                return std::nullopt;
            return query.value(0).toString();
        };
        const auto sqlError = [&] {
            const QSqlError error =
                query.lastError().isValid() ? query.lastError() : db.lastError();
            return error.databaseText().isEmpty() ? error.text() : error.databaseText();
        };
        const std::optional<QString> whole =
            db.open() ? first(QStringLiteral("PRAGMA quick_check(1)")) : std::nullopt;
        if (!whole)
            refuse(sqlError());
        else if (*whole != QLatin1String("ok"))
            refuse(QStringLiteral("it is damaged (%1)").arg(*whole));
        else if (const auto version =
                     first(QStringLiteral("SELECT value FROM meta WHERE key = 'version'"));
                 !version)
            refuse(QStringLiteral("it is not a history file"));
        else if (version->toInt() > EventStore::SchemaVersion)
            refuse(QStringLiteral("it was written by a newer version of the program (schema %1)")
                       .arg(*version));
        else if (const auto events = first(QStringLiteral("SELECT count(*) FROM events")); !events)
            refuse(QStringLiteral("it is not a history file"));
        else
            check.events = events->toLongLong();
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return check;
}
