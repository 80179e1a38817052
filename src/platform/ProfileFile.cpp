#include "platform/ProfileFile.h"

#include "platform/SafeFile.h"

#include <limits>
#include <utility>

namespace {

QString decode(const QByteArray& utf8) {
    QString text = QString::fromUtf8(utf8);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text;
}

// The name of a header line "[name]" (the line already trimmed), without the
// blanks around it; nothing for other lines. The last bracket closes the
// name, so names holding "]" survive.
std::optional<QStringView> headerName(QStringView line) {
    if (!line.startsWith(QLatin1Char('[')))
        return std::nullopt;
    const qsizetype close = line.lastIndexOf(QLatin1Char(']'));
    if (close < 0)
        return std::nullopt;
    return line.mid(1, close - 1).trimmed();
}

// The form under which section and key names are compared: without the
// blanks around them and case-folded, so that the reader and the writer find
// the same section for every spelling of a name.
QString nameKey(QStringView name) {
    name = name.trimmed();
    QString out;
    out.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar c = name[i];
        if (c.unicode() < 0x80) {
            out += c.toLower();
        } else if (c.isHighSurrogate() && i + 1 < name.size() && name[i + 1].isLowSurrogate()) {
            out += QChar::fromUcs4(QChar::toCaseFolded(QChar::surrogateToUcs4(c, name[i + 1])));
            ++i;
        } else {
            out += c.toCaseFolded();
        }
    }
    return out;
}

// Key and value of a "key=value" line, without the blanks around them.
std::optional<std::pair<QStringView, QStringView>> splitEntry(QStringView line) {
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0)
        return std::nullopt;
    return std::make_pair(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
}

} // namespace

ProfileData ProfileData::parse(const QByteArray& utf8) {
    ProfileData data;
    data.m_text = decode(utf8);
    const QStringView text(data.m_text);
    Section* current = nullptr;
    for (qsizetype pos = 0; pos < text.size();) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), pos);
        if (end < 0)
            end = text.size();
        // Trimming also drops the CR of a CR LF line end.
        const QStringView line = text.mid(pos, end - pos).trimmed();
        pos = end + 1;
        if (line.isEmpty())
            continue;
        if (const auto name = headerName(line)) {
            const QString key = nameKey(*name);
            if (!data.m_sectionIndex.contains(key))
                data.m_sectionIndex.insert(key, qsizetype(data.m_sections.size()));
            current = &data.m_sections.emplace_back();
            continue;
        }
        if (!current)
            continue; // lines before the first section belong to none
        current->lines.append(line);
    }
    return data;
}

const ProfileData::Section* ProfileData::find(const QString& section) const {
    const auto it = m_sectionIndex.constFind(nameKey(section));
    return it == m_sectionIndex.constEnd() ? nullptr : &m_sections[std::size_t(*it)];
}

std::optional<QString> ProfileData::value(const QString& section, const QString& key) const {
    const Section* s = find(section);
    if (!s)
        return std::nullopt;
    if (!s->values) {
        auto& values = s->values.emplace();
        for (QStringView line : s->lines) {
            if (const auto entry = splitEntry(line)) {
                const QString folded = nameKey(entry->first);
                if (!values.contains(folded))
                    values.insert(folded, entry->second);
            }
        }
    }
    const auto it = s->values->constFind(nameKey(key));
    if (it == s->values->constEnd())
        return std::nullopt;
    return it->toString();
}

QString ProfileData::readString(const QString& section, const QString& key,
                                const QString& fallback) const {
    return value(section, key).value_or(fallback);
}

int ProfileData::readInt(const QString& section, const QString& key, int fallback) const {
    const auto text = value(section, key);
    if (!text)
        return fallback;
    qsizetype i = 0;
    bool negative = false;
    if (i < text->size() && (text->at(i) == QLatin1Char('-') || text->at(i) == QLatin1Char('+'))) {
        negative = text->at(i) == QLatin1Char('-');
        ++i;
    }
    qint64 number = 0;
    for (; i < text->size() && text->at(i).isDigit() && text->at(i).unicode() < 128; ++i) {
        number = number * 10 + (text->at(i).unicode() - '0');
        if (number > std::numeric_limits<int>::max())
            return fallback; // too large for any count of the file
    }
    return int(negative ? -number : number);
}

QStringList ProfileData::readSection(const QString& section) const {
    QStringList out;
    if (const Section* s = find(section)) {
        for (QStringView line : s->lines) {
            if (const auto entry = splitEntry(line))
                out << entry->first.toString() + QLatin1Char('=') + entry->second.toString();
        }
    }
    return out;
}

QStringList ProfileData::readSectionLines(const QString& section) const {
    QStringList out;
    if (const Section* s = find(section)) {
        out.reserve(s->lines.size());
        for (QStringView line : s->lines)
            out << line.toString();
    }
    return out;
}

namespace {

QStringList splitLines(const QByteArray& utf8) {
    QStringList lines = decode(utf8).split(QLatin1Char('\n'));
    for (QString& line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    return lines;
}

// Half-open line range [first, last) of the body of the first section of that
// name; first is -1 when there is none.
std::pair<qsizetype, qsizetype> sectionBody(const QStringList& lines, const QString& section) {
    const QString wanted = nameKey(section);
    qsizetype first = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const auto name = headerName(QStringView(lines.at(i)).trimmed());
        if (!name)
            continue;
        if (first >= 0)
            return {first, i};
        if (nameKey(*name) == wanted)
            first = i + 1;
    }
    return {first, first >= 0 ? lines.size() : -1};
}

} // namespace

ProfileFile::ProfileFile(QString path) : m_path(std::move(path)) {}

ProfileData ProfileFile::read(QString* error) const {
    return ProfileData::parse(ReadRegularFile(m_path, error).value_or(QByteArray()));
}

bool ProfileFile::writeSection(const QString& section, const QStringList& entries,
                               QString* error) const {
    // A file that cannot be read is not replaced: its other sections would
    // be lost.
    QString readError;
    const std::optional<QByteArray> old = ReadRegularFile(m_path, &readError);
    if (!readError.isEmpty()) {
        if (error)
            *error = readError;
        return false;
    }
    QStringList lines = splitLines(old.value_or(QByteArray()));
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    const auto [first, last] = sectionBody(lines, section);
    if (first < 0) {
        // Written as the reader takes it back: without the blanks around it.
        lines << QLatin1Char('[') + section.trimmed() + QLatin1Char(']');
        lines << entries;
    } else {
        lines.remove(first, last - first);
        for (qsizetype i = 0; i < entries.size(); ++i)
            lines.insert(first + i, entries.at(i));
    }

    const QByteArray bytes = (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
    const FileOutcome saved = WriteFileAtomically(m_path, bytes, 0644);
    if (!saved && error)
        *error = saved.error;
    return saved.ok;
}
