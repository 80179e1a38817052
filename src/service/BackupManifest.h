#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

#include <sys/types.h>

// The list a backup folder carries of what it holds, in the file
// norvik3-backup.txt: when it was made, by which version, from where, and
// one line per file with its mode, size and SHA-256, so that a restore
// takes only files that arrived whole.
//
//   program=norvik3d 3.0.0.4
//   made=2026-12-09T12:50:00Z
//   folder=/var/lib/norvik3
//   settings=/var/lib/norvik3/Norvik3.conf
//   events=1234
//   file=0600 812 <sha256> Norvik3.conf
inline constexpr char ManifestName[] = "norvik3-backup.txt";

struct BackupEntry {
    QString name; // relative to the backup folder: "Norvik3.conf", "Schedule/default.sch"
    mode_t mode = 0600;
    qint64 size = 0;
    QByteArray sha256; // hex
    bool operator==(const BackupEntry&) const = default;
};

struct BackupManifest {
    QString program;
    QDateTime made; // UTC
    QString programFolder;
    QString settingsFile;
    qint64 events = -1; // in History.sqlite; -1 without a history
    QList<BackupEntry> entries;
    bool operator==(const BackupManifest&) const = default;
};

// Where a file of a backup belongs: beside the settings file (the settings,
// passwords and tokens) or in the program folder (the model, the schedules
// and the history). Nothing for any other name, which no backup holds.
enum class BackupPlace { SettingsFolder, ProgramFolder };
std::optional<BackupPlace> PlaceOf(const QString& name);

QByteArray ManifestText(const BackupManifest& manifest);
// Nothing, with `error` set, for a text that is no whole manifest: a
// missing field, a bad file line, a name no backup holds.
std::optional<BackupManifest> ParseManifest(const QByteArray& text, QString* error);

QByteArray Sha256Hex(const QByteArray& content);
