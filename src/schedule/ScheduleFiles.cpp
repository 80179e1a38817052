#include "schedule/ScheduleFiles.h"

#include "core/AppState.h"
#include "platform/ProfileFile.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

QString ScheduleEntry::line() const {
    return isValid() ? ScheduleTimeKey(time) + QLatin1Char('=') + command : raw;
}

QString ScheduleTimeKey(const QTime& time) {
    return time.toString(QStringLiteral("HH:mm"));
}

QTime ParseScheduleTime(const QString& key) {
    static const QRegularExpression pattern(QStringLiteral("^([0-9]{2}):([0-9]{2})$"));
    const auto match = pattern.match(key);
    if (!match.hasMatch())
        return {};
    return QTime(match.captured(1).toInt(), match.captured(2).toInt());
}

ScheduleEntry ParseScheduleEntry(const QString& raw) {
    ScheduleEntry entry;
    entry.raw = raw;
    // Split at the first "=" only: a command may hold "=" or an apostrophe.
    const qsizetype eq = raw.indexOf(QLatin1Char('='));
    entry.key = (eq < 0 ? raw : raw.left(eq)).trimmed();
    entry.command = eq < 0 ? QString() : raw.mid(eq + 1).trimmed();
    if (eq >= 0)
        entry.time = ParseScheduleTime(entry.key);
    return entry;
}

ScheduleEntry MakeScheduleEntry(const QTime& time, const QString& command) {
    const QTime minute(time.hour(), time.minute());
    ScheduleEntry entry;
    entry.time = minute;
    entry.key = ScheduleTimeKey(minute);
    entry.command = command;
    entry.raw = entry.line();
    return entry;
}

QString ScheduleFolder(const AppState& state) {
    return state.ProgramFolder + QStringLiteral("/Schedule");
}

QString ScheduleFilePath(const AppState& state, const QString& base) {
    return ScheduleFolder(state) + QLatin1Char('/') + base + QStringLiteral(".sch");
}

std::vector<ScheduleEntry> ReadScheduleSection(const AppState& state, const QString& base,
                                               const QString& section) {
    std::vector<ScheduleEntry> entries;
    if (base.isEmpty() || section.trimmed().isEmpty())
        return entries;
    const QStringList lines =
        ProfileFile(ScheduleFilePath(state, base)).read().readSectionLines(section);
    entries.reserve(std::size_t(lines.size()));
    for (const QString& line : lines)
        entries.push_back(ParseScheduleEntry(line));
    return entries;
}

bool HasScheduleSection(const AppState& state, const QString& base, const QString& section) {
    return !ReadScheduleSection(state, base, section).empty();
}

bool HasScheduleSection(const ProfileData& file, const QString& section) {
    return !section.trimmed().isEmpty() && !file.readSectionLines(section).isEmpty();
}

QString ScheduleCommandAt(const ProfileData& file, const QString& section, const QTime& time) {
    if (section.trimmed().isEmpty())
        return {};
    // Keys are matched as the profile rules match them; a time key holds only
    // digits and a colon, so that is the exact "HH:mm" of the entry.
    return file.value(section, ScheduleTimeKey(time)).value_or(QString());
}

bool WriteScheduleSection(const AppState& state, const QString& base, const QString& section,
                          const std::vector<ScheduleEntry>& entries, QString* error) {
    if (base.isEmpty() || section.trimmed().isEmpty())
        return false;
    if (!QDir().mkpath(ScheduleFolder(state))) {
        if (error)
            *error = QStringLiteral("cannot make the folder ") + ScheduleFolder(state);
        return false;
    }
    QStringList lines;
    lines.reserve(qsizetype(entries.size()));
    for (const ScheduleEntry& entry : entries)
        lines.append(entry.line());
    return ProfileFile(ScheduleFilePath(state, base)).writeSection(section, lines, error);
}

QString ScheduleCommandAt(const AppState& state, const QString& base, const QString& section,
                          const QTime& time) {
    if (base.isEmpty())
        return {};
    return ScheduleCommandAt(ProfileFile(ScheduleFilePath(state, base)).read(), section, time);
}

int ScheduleInsertPosition(const std::vector<ScheduleEntry>& entries, const QTime& time) {
    const QTime minute(time.hour(), time.minute());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!entries[i].isValid())
            continue;
        if (entries[i].time == minute)
            return -1;
        if (entries[i].time > minute)
            return int(i);
    }
    return int(entries.size());
}
