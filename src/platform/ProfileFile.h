#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>
#include <vector>

// Profile (INI) files: sections in brackets, key=value lines, section and key
// names matched case-insensitively and without the blanks around them (first
// match wins), blanks around values removed, lines without "=" ignored.
// UTF-8 text; CR LF and LF line ends are both read. A section name runs to the
// last "]" of its line, so names may hold brackets.

// The contents of one profile file, split into sections in a single pass;
// lookups then never go back to the text, so reading a file with any number
// of lookups costs time in proportion to its size.
class ProfileData {
  public:
    ProfileData() = default;
    static ProfileData parse(const QByteArray& utf8);

    // Value of key in section, or nothing when either is missing.
    std::optional<QString> value(const QString& section, const QString& key) const;
    QString readString(const QString& section, const QString& key,
                       const QString& fallback = QString()) const;
    // Leading decimal number of the value (optional sign); fallback when the
    // key is missing or the number does not fit, 0 when the value does not
    // start with a number.
    int readInt(const QString& section, const QString& key, int fallback = 0) const;
    // Every "key=value" entry of the section, whole and in file order, with
    // blanks around key and value removed. Empty for a missing section.
    QStringList readSection(const QString& section) const;
    // Every non-blank line of the section as it stands, also lines without
    // "=", so a hand-edited note survives a rewrite of the section.
    QStringList readSectionLines(const QString& section) const;

  private:
    struct Section {
        QList<QStringView> lines; // non-blank lines, trimmed
        // Folded key -> value of its first entry. Built at the first lookup in
        // the section, so sections that nobody asks about cost only their
        // lines; this makes a ProfileData unfit for sharing between threads.
        mutable std::optional<QHash<QString, QStringView>> values;
    };
    const Section* find(const QString& section) const;

    // Never changed after parsing: the views above point into it.
    QString m_text;
    std::vector<Section> m_sections;
    QHash<QString, qsizetype> m_sectionIndex; // folded name -> first section of that name
};

// A profile file on disk: read() parses it once for any number of lookups; a
// section write rewrites the whole file atomically.
class ProfileFile {
  public:
    explicit ProfileFile(QString path);

    const QString& path() const { return m_path; }

    // The file's contents; empty when it is missing or cannot be read. Only
    // a regular file of at most MaxReadBytes is read; `error` then says why
    // another was refused (empty for a missing file).
    ProfileData read(QString* error = nullptr) const;
    // Replaces the whole section (creating file and section when missing) with
    // the given "key=value" lines, in one atomic write of the file. False,
    // with the reason in `error`, when the old file cannot be read or the new
    // one cannot be written in full; the old file then stays as it was.
    bool writeSection(const QString& section, const QStringList& entries,
                      QString* error = nullptr) const;

  private:
    QString m_path;
};
