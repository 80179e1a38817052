#include "core/Formatting.h"

#include "core/AppState.h"

#include <QLocale>

#include <algorithm>
#include <optional>
#include <vector>

QString FormatShortDate(const AppState& state, const QDate& date) {
    return QLocale(state.LocaleId).toString(date, QLocale::ShortFormat);
}

QString FormatShortTime(const AppState& state, const QTime& time) {
    const QLocale locale(state.LocaleId);
    if (state.ShortTimeFormat.isEmpty())
        return locale.toString(time, QLocale::ShortFormat);
    return locale.toString(time, state.ShortTimeFormat);
}

QString FormatDateTime(const AppState& state, const QDateTime& moment) {
    return FormatShortDate(state, moment.date()) + QLatin1Char(' ') +
           FormatShortTime(state, moment.time());
}

namespace {

// One part of a time format as QLocale reads it: a field (a run of one
// pattern letter, or "AP"), a quoted literal, or one unquoted character.
struct FormatPart {
    enum Kind { Field, Quoted, Literal };
    Kind kind;
    QString text;    // as written in the format
    char32_t symbol; // the field's letter or the literal character
};

bool isPatternLetter(QChar c) {
    return QStringView(u"hHmsztdMy").contains(c);
}

std::vector<FormatPart> splitFormat(QStringView format) {
    std::vector<FormatPart> parts;
    const qsizetype n = format.size();
    for (qsizetype i = 0; i < n;) {
        const QChar c = format[i];
        qsizetype end = i + 1;
        if (c == QLatin1Char('\'')) {
            if (end < n && format[end] == QLatin1Char('\'')) {
                parts.push_back({FormatPart::Literal, QStringLiteral("''"), U'\''});
                i = end + 1;
                continue;
            }
            // Up to the closing quote; "''" inside stands for one quote.
            while (end < n) {
                if (format[end] == QLatin1Char('\'')) {
                    if (end + 1 < n && format[end + 1] == QLatin1Char('\'')) {
                        end += 2;
                        continue;
                    }
                    ++end;
                    break;
                }
                ++end;
            }
            parts.push_back({FormatPart::Quoted, format.mid(i, end - i).toString(), 0});
        } else if (isPatternLetter(c)) {
            while (end < n && format[end] == c)
                ++end;
            parts.push_back({FormatPart::Field, format.mid(i, end - i).toString(), c.unicode()});
        } else if (c == QLatin1Char('a') || c == QLatin1Char('A')) {
            if (end < n && (format[end] == QLatin1Char('p') || format[end] == QLatin1Char('P')))
                ++end;
            parts.push_back({FormatPart::Field, format.mid(i, end - i).toString(), U'a'});
        } else {
            char32_t symbol = c.unicode();
            if (c.isHighSurrogate() && end < n && format[end].isLowSurrogate())
                symbol = QChar::surrogateToUcs4(c, format[end++]);
            parts.push_back({FormatPart::Literal, format.mid(i, end - i).toString(), symbol});
        }
        i = end;
    }
    return parts;
}

QString joinFormat(const std::vector<FormatPart>& parts) {
    QString out;
    for (const FormatPart& part : parts)
        out += part.text;
    return out.trimmed();
}

bool isBlank(const FormatPart& part) {
    return part.kind == FormatPart::Literal && QChar::isSpace(part.symbol);
}

// Text that names the unit of the field before it: "秒", "초", 's', "วินาที".
bool isUnit(const FormatPart& part) {
    return part.kind == FormatPart::Quoted ||
           (part.kind == FormatPart::Literal &&
            (QChar::isLetterOrNumber(part.symbol) || QChar::isMark(part.symbol)));
}

bool isUnquotedUnit(const FormatPart& part) {
    return part.kind == FormatPart::Literal && isUnit(part);
}

bool isSeparator(const FormatPart& part) {
    return part.kind == FormatPart::Literal && !isBlank(part) && !isUnit(part);
}

// Removes the field at i with what belongs to it: the separator before it,
// or else the blanks before it and the unit after it.
void removeWithItsText(std::vector<FormatPart>& parts, std::size_t i) {
    if (i > 0 && isSeparator(parts[i - 1])) {
        parts.erase(parts.begin() + std::ptrdiff_t(i - 1), parts.begin() + std::ptrdiff_t(i + 1));
        return;
    }
    std::size_t end = i + 1;
    std::size_t next = end;
    while (next < parts.size() && isBlank(parts[next]))
        ++next;
    if (next < parts.size() && isUnit(parts[next])) {
        end = next + 1;
        if (parts[next].kind == FormatPart::Literal) {
            while (end < parts.size() && isUnquotedUnit(parts[end]))
                ++end;
        }
    }
    std::size_t start = i;
    while (start > 0 && isBlank(parts[start - 1]))
        --start;
    // Keep one blank between what stood before and what follows directly.
    if (start > 0 && start < i && end < parts.size() && !isBlank(parts[end]))
        ++start;
    parts.erase(parts.begin() + std::ptrdiff_t(start), parts.begin() + std::ptrdiff_t(end));
}

std::optional<std::size_t> findField(const std::vector<FormatPart>& parts, char32_t letter) {
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (parts[i].kind == FormatPart::Field && parts[i].symbol == letter)
            return i;
    }
    return std::nullopt;
}

bool isLiteralOf(const FormatPart& part, QStringView characters) {
    return part.kind == FormatPart::Literal &&
           (QChar::isSpace(part.symbol) ||
            (part.symbol < 0x10000 && characters.contains(QChar(part.symbol))));
}

} // namespace

QString DeriveShortTimeFormat(const QString& timeFormat) {
    std::vector<FormatPart> parts = splitFormat(timeFormat);
    // The fraction first, so that "ss.zzz" loses its "." before the seconds go.
    for (const char32_t letter : {U'z', U's'}) {
        while (const auto at = findField(parts, letter))
            removeWithItsText(parts, *at);
    }
    return joinFormat(parts);
}

QString WithoutTimeZone(const QString& timeFormat) {
    std::vector<FormatPart> parts = splitFormat(timeFormat);
    while (const auto at = findField(parts, U't')) {
        std::size_t start = *at;
        while (start > 0 && isLiteralOf(parts[start - 1], u",(["))
            --start;
        std::size_t end = *at + 1;
        while (end < parts.size() && isLiteralOf(parts[end], u",)]"))
            ++end;
        const bool blankRemoved = std::any_of(parts.begin() + std::ptrdiff_t(start),
                                              parts.begin() + std::ptrdiff_t(end), isBlank);
        parts.erase(parts.begin() + std::ptrdiff_t(start), parts.begin() + std::ptrdiff_t(end));
        // A zone between two parts of the time leaves one blank behind.
        if (blankRemoved && start > 0 && start < parts.size())
            parts.insert(parts.begin() + std::ptrdiff_t(start),
                         FormatPart{FormatPart::Literal, QStringLiteral(" "), U' '});
    }
    return joinFormat(parts);
}

QString LocaleShortTimeFormat(const QLocale& locale) {
    return DeriveShortTimeFormat(WithoutTimeZone(locale.timeFormat(QLocale::LongFormat)));
}

QPoint CenteredPosition(const QRect& mainWindow, const QSize& dialog, const QSize& screen) {
    auto place = [](int origin, int outer, int inner, int screenSize) {
        int pos = origin + (outer - inner) / 2;
        if (pos + inner > screenSize)
            pos = screenSize - inner;
        // Checked last so that a dialog larger than the screen starts at 0.
        return pos < 0 ? 0 : pos;
    };
    return {place(mainWindow.left(), mainWindow.width(), dialog.width(), screen.width()),
            place(mainWindow.top(), mainWindow.height(), dialog.height(), screen.height())};
}
