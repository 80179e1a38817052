#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Comma-separated text as RFC 4180 has it: fields separated by commas,
// records by CR LF (LF alone is read too), a field in double quotes may hold
// commas, quotes (doubled) and line breaks. UTF-8 only.

struct CsvRecord {
    int line = 0; // the line the record starts on, 1 for the first
    QStringList fields;
    bool damaged = false; // a problem was found in it
};

struct CsvProblem {
    int line = 0;
    QString text;
};

struct CsvText {
    QList<CsvRecord> records; // blank lines are skipped
    QList<CsvProblem> problems;
};

// The UTF-8 byte-order mark a spreadsheet needs to read the text as UTF-8.
inline constexpr char CsvByteOrderMark[] = "\xEF\xBB\xBF";

// Guarded: a field that a spreadsheet would take for a formula (it begins
// with =, +, -, @, TAB or CR) is written with a leading ', as is one that
// begins with ' itself; reading takes that one ' off again, so every text
// comes back as it was. Plain: fields are written and read as they are.
enum class CsvCells { Plain, Guarded };

// Reads the text; a leading UTF-8 byte-order mark is skipped. A record with
// a problem is still returned as far as it could be read, so that the line
// numbers of later records stay right.
CsvText ReadCsv(const QByteArray& bytes, CsvCells cells = CsvCells::Plain);

// One record ending in CR LF; a field is quoted when it holds a comma, a
// quote, a line break or blanks at either end.
QByteArray CsvLine(const QStringList& fields, CsvCells cells = CsvCells::Plain);
