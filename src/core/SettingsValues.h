#pragma once

#include <QSettings>
#include <QString>

#include <optional>

// Reading rules shared by the loaders of the settings store. A value that is
// missing or empty counts as missing; callers then keep their default.

// The stored text; a hand-written unquoted value with commas, which QSettings
// hands back as a list, is joined back into one text.
std::optional<QString> storedText(const QSettings& settings, const QString& key);
// A 16-bit number; non-numeric or out-of-range text counts as missing.
std::optional<qint16> storedInt16(const QSettings& settings, const QString& key);
std::optional<qint32> storedInt32(const QSettings& settings, const QString& key);
// True when the text begins with a number that is not 0; a text without a
// leading number is false.
std::optional<bool> storedFlag(const QSettings& settings, const QString& key);
// The nearest integer of the text's numeric value.
std::optional<qint16> storedRounded(const QSettings& settings, const QString& key);
// The same for 32-bit values: the refresh dialog stores the interval as typed
// ("12abc"), and a restart must read back the 12 seconds it set.
std::optional<qint32> storedRoundedInt32(const QSettings& settings, const QString& key);

// The number of numbered records of a group (PJInfo/PJNum, PJTree/Node
// Count): the stored count when it reads as a number from 0 to limit;
// otherwise (missing, not a number, negative or too large) the number of
// consecutive sub-keys 1, 2, ... that exist, at most limit, so that a count
// that cannot be trusted never hides the records that are there.
int storedCount(QSettings& settings, const QString& group, const QString& countKey, int limit);

// Setting/SiteName without blanks around it; empty when not set.
QString storedSiteName(const QSettings& settings);

// Setting/ScheduleCatchUpMinutes: how many minutes late a schedule entry
// missed while the program was not running, or jumped over by the clock, may
// still run; 0 to 1440, the default for a missing, negative or unreadable
// value, 1440 for a larger one.
inline constexpr int DefaultScheduleCatchUpMinutes = 15;
int storedScheduleCatchUpMinutes(const QSettings& settings);

template <typename T> void readInto(T& field, const std::optional<T>& value) {
    if (value)
        field = *value;
}

// Setting/LogMaxMiB: the most each log folder (Log/, MailLog/) may hold, in
// bytes. A whole number of MiB from 1 to 1048576; anything else (missing,
// 0, not a number) keeps the default of 256 MiB.
constexpr qint64 DefaultLogMaxMiB = 256;
qint64 storedLogMaxBytes(const QSettings& settings);
