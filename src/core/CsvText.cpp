#include "core/CsvText.h"

#include <QStringDecoder>

namespace {

// What a guarded field begins with when a spreadsheet would evaluate it, or
// when it holds the guard's own mark.
bool needsGuard(const QString& field) {
    static const QString leads = QStringLiteral("=+-@\t\r'");
    return !field.isEmpty() && leads.contains(field.front());
}

bool needsQuotes(const QString& field) {
    if (field.isEmpty())
        return false;
    return field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('"')) ||
           field.contains(QLatin1Char('\n')) || field.contains(QLatin1Char('\r')) ||
           field.front().isSpace() || field.back().isSpace();
}

// Lines that are not UTF-8, one problem each; a file with any is not read.
QList<CsvProblem> undecodableLines(const QByteArray& bytes) {
    QList<CsvProblem> problems;
    int line = 1;
    qsizetype start = 0;
    while (start <= bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
            end = bytes.size();
        QStringDecoder decoder(QStringDecoder::Utf8);
        const QString decoded = decoder.decode(QByteArrayView(bytes).sliced(start, end - start));
        if (decoder.hasError())
            problems.append({line, QStringLiteral("the line is not UTF-8 text")});
        start = end + 1;
        ++line;
    }
    return problems;
}

class Reader {
  public:
    explicit Reader(const QString& text) : m_text(text) {}

    CsvText read() {
        while (m_pos < m_text.size())
            readRecord();
        return std::move(m_result);
    }

  private:
    QChar at(qsizetype i) const { return i < m_text.size() ? m_text.at(i) : QChar(); }
    bool atEnd() const { return m_pos >= m_text.size(); }

    void problem(int line, const QString& text) {
        m_result.problems.append({line, text});
        m_damaged = true;
    }

    // Consumes a line end at m_pos if there is one: LF or CR LF.
    bool lineEnd() {
        if (at(m_pos) == QLatin1Char('\n')) {
            ++m_pos;
            ++m_line;
            return true;
        }
        if (at(m_pos) == QLatin1Char('\r') && at(m_pos + 1) == QLatin1Char('\n')) {
            m_pos += 2;
            ++m_line;
            return true;
        }
        return false;
    }

    void readRecord() {
        CsvRecord record;
        record.line = m_line;
        m_damaged = false;
        for (;;) {
            record.fields.append(readField());
            if (atEnd() || lineEnd())
                break;
            ++m_pos; // the comma
        }
        if (record.fields.size() == 1 && record.fields.front().isEmpty() && !m_damaged)
            return;
        record.damaged = m_damaged;
        m_result.records.append(std::move(record));
    }

    bool fieldEnds() const {
        const QChar c = at(m_pos);
        return atEnd() || c == QLatin1Char(',') || c == QLatin1Char('\n') ||
               (c == QLatin1Char('\r') && at(m_pos + 1) == QLatin1Char('\n'));
    }

    QString readField() {
        if (at(m_pos) == QLatin1Char('"'))
            return readQuoted();
        QString field;
        bool reported = false;
        while (!fieldEnds()) {
            const QChar c = at(m_pos++);
            if (!reported && (c == QLatin1Char('"') || c == QLatin1Char('\r'))) {
                problem(m_line, c == QLatin1Char('"')
                                    ? QStringLiteral("a quote inside a field that is not quoted")
                                    : QStringLiteral("a CR without LF"));
                reported = true;
            }
            field.append(c);
        }
        return field;
    }

    QString readQuoted() {
        const int startLine = m_line;
        ++m_pos;
        QString field;
        bool lineBreak = false;
        for (;;) {
            if (atEnd()) {
                problem(startLine, QStringLiteral("a quoted field is not closed"));
                return field;
            }
            const QChar c = at(m_pos++);
            if (c == QLatin1Char('"')) {
                if (at(m_pos) == QLatin1Char('"')) {
                    field.append(c);
                    ++m_pos;
                    continue;
                }
                break;
            }
            if (c == QLatin1Char('\n')) {
                ++m_line;
                lineBreak = true;
            } else if (c == QLatin1Char('\r')) {
                lineBreak = true;
            }
            field.append(c);
        }
        if (lineBreak)
            problem(startLine, QStringLiteral("a quoted field holds a line break"));
        if (!fieldEnds()) {
            problem(m_line, QStringLiteral("text after the closing quote of a field"));
            while (!fieldEnds())
                field.append(at(m_pos++));
        }
        return field;
    }

    const QString& m_text;
    qsizetype m_pos = 0;
    int m_line = 1;
    bool m_damaged = false;
    CsvText m_result;
};

} // namespace

CsvText ReadCsv(const QByteArray& bytes, CsvCells cells) {
    const QByteArray body =
        bytes.startsWith(CsvByteOrderMark) ? bytes.mid(sizeof CsvByteOrderMark - 1) : bytes;
    CsvText result;
    result.problems = undecodableLines(body);
    if (!result.problems.isEmpty())
        return result;
    const QString text = QString::fromUtf8(body);
    result = Reader(text).read();
    if (cells == CsvCells::Guarded) {
        for (CsvRecord& record : result.records) {
            for (QString& field : record.fields) {
                if (field.startsWith(QLatin1Char('\'')) && needsGuard(field.mid(1)))
                    field.remove(0, 1);
            }
        }
    }
    return result;
}

QByteArray CsvLine(const QStringList& fields, CsvCells cells) {
    QByteArray line;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line.append(',');
        const QString field = cells == CsvCells::Guarded && needsGuard(fields.at(i))
                                  ? QLatin1Char('\'') + fields.at(i)
                                  : fields.at(i);
        if (needsQuotes(field)) {
            QString quoted = field;
            quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
            line.append('"').append(quoted.toUtf8()).append('"');
        } else {
            line.append(field.toUtf8());
        }
    }
    line.append("\r\n");
    return line;
}
