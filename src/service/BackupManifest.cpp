#include "service/BackupManifest.h"

#include <QCryptographicHash>
#include <QRegularExpression>

namespace {

const QStringList SettingsFolderNames = {
    QStringLiteral("Norvik3.conf"),
    QStringLiteral("Norvik3.smtp-password"),
    QStringLiteral("Norvik3.pjlink-passwords"),
    QStringLiteral("Norvik3.api-tokens"),
};

std::optional<BackupEntry> parseEntry(const QString& value) {
    static const QRegularExpression line(
        QStringLiteral("^([0-7]{3,4}) ([0-9]{1,15}) ([0-9a-f]{64}) (.+)$"));
    const QRegularExpressionMatch match = line.match(value);
    if (!match.hasMatch() || !PlaceOf(match.captured(4)))
        return std::nullopt;
    BackupEntry entry;
    entry.mode = mode_t(match.captured(1).toUInt(nullptr, 8));
    entry.size = match.captured(2).toLongLong();
    entry.sha256 = match.captured(3).toLatin1();
    entry.name = match.captured(4);
    return entry;
}

} // namespace

std::optional<BackupPlace> PlaceOf(const QString& name) {
    if (SettingsFolderNames.contains(name))
        return BackupPlace::SettingsFolder;
    if (name == QLatin1String("PJModel.txt") || name == QLatin1String("History.sqlite"))
        return BackupPlace::ProgramFolder;
    // A schedule file by the names the Schedule tab gives: never a path.
    static const QRegularExpression schedule(QStringLiteral("^Schedule/[^/]+\\.sch$"));
    if (schedule.match(name).hasMatch() && !name.startsWith(QLatin1String("Schedule/.")))
        return BackupPlace::ProgramFolder;
    return std::nullopt;
}

QByteArray ManifestText(const BackupManifest& manifest) {
    QByteArray text = "# A backup of Norvik3; restore it with norvik3d --restore on this folder\n";
    const auto line = [&text](const char* key, const QString& value) {
        text += key + QByteArray("=") + value.toUtf8() + '\n';
    };
    line("program", manifest.program);
    line("made", manifest.made.toUTC().toString(Qt::ISODate));
    line("folder", manifest.programFolder);
    line("settings", manifest.settingsFile);
    line("events", QString::number(manifest.events));
    for (const BackupEntry& entry : manifest.entries)
        line("file", QStringLiteral("%1 %2 %3 %4")
                         .arg(entry.mode & 07777, 4, 8, QLatin1Char('0'))
                         .arg(entry.size)
                         .arg(QString::fromLatin1(entry.sha256), entry.name));
    return text;
}

std::optional<BackupManifest> ParseManifest(const QByteArray& text, QString* error) {
    const auto fail = [error](const QString& why) -> std::optional<BackupManifest> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    BackupManifest manifest;
    bool eventsSeen = false;
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = QString::fromUtf8(lines[i]);
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const qsizetype equals = line.indexOf(u'=');
        const QString key = line.left(equals);
        const QString value = line.mid(equals + 1);
        const QString where = QStringLiteral("line %1").arg(i + 1);
        if (equals < 0)
            return fail(where + QStringLiteral(" is no key=value line"));
        if (key == QLatin1String("program")) {
            manifest.program = value;
        } else if (key == QLatin1String("made")) {
            manifest.made = QDateTime::fromString(value, Qt::ISODate);
        } else if (key == QLatin1String("folder")) {
            manifest.programFolder = value;
        } else if (key == QLatin1String("settings")) {
            manifest.settingsFile = value;
        } else if (key == QLatin1String("events")) {
            manifest.events = value.toLongLong(&eventsSeen);
        } else if (key == QLatin1String("file")) {
            const std::optional<BackupEntry> entry = parseEntry(value);
            if (!entry)
                return fail(where + QStringLiteral(" names no file of a backup: ") + value);
            for (const BackupEntry& seen : manifest.entries)
                if (seen.name == entry->name)
                    return fail(where + QStringLiteral(" names %1 a second time").arg(seen.name));
            manifest.entries << *entry;
        }
    }
    if (manifest.program.isEmpty() || !manifest.made.isValid() || !eventsSeen)
        return fail(QStringLiteral("it lacks the program, the time it was made or the events"));
    return manifest;
}

QByteArray Sha256Hex(const QByteArray& content) {
    return QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex();
}
