#pragma once

#include <QString>
#include <QStringList>

// Reader and writer of profile (INI) files: sections in brackets, key=value
// lines, section and key names matched case-insensitively (first match wins),
// blanks around values removed, lines without "=" ignored. UTF-8 text; CR LF
// and LF line ends are both read. Every call reads the file afresh.
class ProfileFile {
public:
    explicit ProfileFile(QString path);

    const QString& path() const { return m_path; }
    bool exists() const;

    // Value of key in section, or fallback when either is missing.
    QString readString(const QString& section, const QString& key,
                       const QString& fallback = QString()) const;
    // Leading decimal number of the value (optional sign); fallback when the
    // key is missing, 0 when the value does not start with a number.
    int readInt(const QString& section, const QString& key, int fallback = 0) const;
    // Every "key=value" entry of the section, whole and in file order, with
    // blanks around key and value removed. Empty for a missing section.
    QStringList readSection(const QString& section) const;
    // Every non-blank line of the section as it stands, also lines without
    // "=", so a hand-edited note survives a rewrite of the section.
    QStringList readSectionLines(const QString& section) const;
    // Replaces the whole section (creating file and section when missing) with
    // the given "key=value" lines, in one atomic write of the file.
    bool writeSection(const QString& section, const QStringList& entries) const;

private:
    QString m_path;
};
