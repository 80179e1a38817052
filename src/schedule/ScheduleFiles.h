#pragma once

#include <QString>
#include <QStringList>
#include <QTime>

#include <vector>

struct AppState;
class ProfileData;

// One entry of a schedule section. Entries whose key is not a valid "HH:mm"
// time (hand-edited files) keep their raw line so that they are shown as
// they stand and written back unchanged.
struct ScheduleEntry {
    QTime time; // invalid when the key is not "HH:mm"
    QString key;
    QString command;
    QString raw; // the whole "key=value" entry as read

    bool isValid() const { return time.isValid(); }
    // The line written back to the file.
    QString line() const;
};

// A time of day as written in the files: two-digit hour and minute.
QString ScheduleTimeKey(const QTime& time);
// The time of a key "HH:mm" (24-hour, two digits each); invalid otherwise.
QTime ParseScheduleTime(const QString& key);
ScheduleEntry ParseScheduleEntry(const QString& raw);
ScheduleEntry MakeScheduleEntry(const QTime& time, const QString& command);

QString ScheduleFolder(const AppState& state);
QString ScheduleFilePath(const AppState& state, const QString& base);

// Sections are named by the node text and found as the profile files find
// names: case-insensitively and without the blanks around them, so a node
// " Lobby" reads and writes the section [Lobby].

// Every line of the section, whole and in file order (lines without "=" too,
// as entries without a time); empty for a missing file or section.
std::vector<ScheduleEntry> ReadScheduleSection(const AppState& state, const QString& base,
                                               const QString& section);
bool HasScheduleSection(const AppState& state, const QString& base, const QString& section);
// Replaces the section with the entries in the given order, creating the
// folder and file when missing. False when the file could not be written.
bool WriteScheduleSection(const AppState& state, const QString& base, const QString& section,
                          const std::vector<ScheduleEntry>& entries, QString* error = nullptr);
// The command of the first entry with the key "HH:mm" of time; empty when
// there is none.
QString ScheduleCommandAt(const AppState& state, const QString& base, const QString& section,
                          const QTime& time);

// The same two lookups in a file already parsed.
bool HasScheduleSection(const ProfileData& file, const QString& section);
QString ScheduleCommandAt(const ProfileData& file, const QString& section, const QTime& time);

// Where a new entry goes in a list kept in time order: the index of the first
// entry with a later time (entries without a valid time are passed over), or
// -1 when an entry of the same time exists.
int ScheduleInsertPosition(const std::vector<ScheduleEntry>& entries, const QTime& time);
