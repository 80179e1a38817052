#include "platform/ProfileFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <limits>
#include <optional>
#include <utility>

namespace {

QStringList readLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString text = QString::fromUtf8(file.readAll());
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    return lines;
}

// The section name of a header line "[name]", or nothing for other lines.
std::optional<QString> sectionName(const QString& line) {
    const QString t = line.trimmed();
    if (!t.startsWith(QLatin1Char('[')))
        return std::nullopt;
    // The last bracket closes the name, so names holding "]" survive.
    const int close = t.lastIndexOf(QLatin1Char(']'));
    if (close < 0)
        return std::nullopt;
    return t.mid(1, close - 1).trimmed();
}

bool sameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Half-open line range [first, last) of the body of the first section of that
// name; first is -1 when there is none.
std::pair<int, int> sectionBody(const QStringList& lines, const QString& section) {
    int first = -1;
    for (int i = 0; i < lines.size(); ++i) {
        const auto name = sectionName(lines.at(i));
        if (!name)
            continue;
        if (first >= 0)
            return {first, i};
        if (sameName(*name, section))
            first = i + 1;
    }
    return {first, first >= 0 ? int(lines.size()) : -1};
}

std::optional<std::pair<QString, QString>> splitEntry(const QString& line) {
    const int eq = line.indexOf(QLatin1Char('='));
    if (eq < 0)
        return std::nullopt;
    return std::make_pair(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
}

std::optional<QString> findValue(const QString& path, const QString& section, const QString& key) {
    const QStringList lines = readLines(path);
    const auto [first, last] = sectionBody(lines, section);
    for (int i = first; i >= 0 && i < last; ++i) {
        const auto entry = splitEntry(lines.at(i));
        if (entry && sameName(entry->first, key))
            return entry->second;
    }
    return std::nullopt;
}

} // namespace

ProfileFile::ProfileFile(QString path) : m_path(std::move(path)) {}

bool ProfileFile::exists() const {
    return QFileInfo(m_path).isFile();
}

QString ProfileFile::readString(const QString& section, const QString& key,
                                const QString& fallback) const {
    return findValue(m_path, section, key).value_or(fallback);
}

int ProfileFile::readInt(const QString& section, const QString& key, int fallback) const {
    const auto value = findValue(m_path, section, key);
    if (!value)
        return fallback;
    int i = 0;
    bool negative = false;
    if (i < value->size() &&
        (value->at(i) == QLatin1Char('-') || value->at(i) == QLatin1Char('+'))) {
        negative = value->at(i) == QLatin1Char('-');
        ++i;
    }
    qint64 number = 0;
    for (; i < value->size() && value->at(i).isDigit() && value->at(i).unicode() < 128; ++i) {
        number = number * 10 + (value->at(i).unicode() - '0');
        if (number > std::numeric_limits<int>::max())
            return fallback; // too large for any count of the file
    }
    return int(negative ? -number : number);
}

QStringList ProfileFile::readSection(const QString& section) const {
    const QStringList lines = readLines(m_path);
    const auto [first, last] = sectionBody(lines, section);
    QStringList out;
    for (int i = first; i >= 0 && i < last; ++i) {
        const auto entry = splitEntry(lines.at(i));
        if (entry)
            out << entry->first + QLatin1Char('=') + entry->second;
    }
    return out;
}

QStringList ProfileFile::readSectionLines(const QString& section) const {
    const QStringList lines = readLines(m_path);
    const auto [first, last] = sectionBody(lines, section);
    QStringList out;
    for (int i = first; i >= 0 && i < last; ++i) {
        const QString line = lines.at(i).trimmed();
        if (!line.isEmpty())
            out << line;
    }
    return out;
}

bool ProfileFile::writeSection(const QString& section, const QStringList& entries) const {
    QStringList lines = readLines(m_path);
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    const auto [first, last] = sectionBody(lines, section);
    if (first < 0) {
        lines << QLatin1Char('[') + section + QLatin1Char(']');
        lines << entries;
    } else {
        lines.remove(first, last - first);
        for (int i = 0; i < entries.size(); ++i)
            lines.insert(first + i, entries.at(i));
    }

    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
