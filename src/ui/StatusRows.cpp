#include "ui/StatusRows.h"

#include "comm/StatusDisplay.h"
#include "core/AppState.h"
#include "ui/Contrast.h"
#include "ui/FleetState.h"
#include "ui/Panels.h"
#include "ui/StatusTexts.h"

#include <QBrush>
#include <QPalette>
#include <QTreeWidget>

namespace {

const QString Dash = QStringLiteral("-");

// Sets the cells of one row, noting the columns whose text changed.
struct Cells {
    StatusRow& row;
    StatusColumns changed = 0;
    void text(int column, const QString& text) {
        if (row.text(column) == text)
            return;
        row.setText(column, text);
        changed |= StatusColumns(1) << column;
    }
};

void SetHours(Cells& cells, int column, qint32 hours, bool gone) {
    cells.text(column, gone ? Dash : HoursDisplayText(hours));
    cells.row.setData(column, StatusRow::SortRole, gone || hours < 0 ? -1 : int(hours));
}

void SetDue(Cells& cells, int column, const Forecast& forecast, const QDateTime& now) {
    cells.text(column, ForecastText(forecast, now));
    cells.row.setData(column, StatusRow::SortRole, ForecastSortKey(forecast));
}

void SetWear(Cells& cells, const AppState& state, const ProjectorInfo& info) {
    const bool gone = IsStatusUnknown(info);
    SetHours(cells, ColumnLampTime, info.LampTime, gone);
    SetHours(cells, ColumnFilterTime, info.FilterTime, gone);
    const QDateTime now = state.clock.now();
    // The soonest of the lamps, so that none is forgotten.
    SetDue(cells, ColumnLampDue, SoonestForecast(info.LampForecasts), now);
    SetDue(cells, ColumnFilterDue, info.FilterForecast, now);
}

void SetLastAnswer(Cells& cells, const ProjectorInfo& info) {
    const QDateTime when = info.LastReply;
    const qint64 key = when.isValid() ? when.toMSecsSinceEpoch() : qint64(-1);
    // Formatting a local time is the dearest part of a reply's refresh.
    if (cells.row.data(ColumnLastAnswer, StatusRow::SortRole) == QVariant(key))
        return;
    cells.text(ColumnLastAnswer,
               when.isValid() ? when.toLocalTime().toString(QStringLiteral("HH:mm:ss")) : Dash);
    cells.row.setData(ColumnLastAnswer, StatusRow::SortRole, key);
}

// The cells any reply may change: the state, the time of the answer, and
// what a projector tells of itself (its MAC address, its PJLink class).
void SetEveryReplyCells(Cells& cells, const ProjectorInfo& info) {
    cells.text(ColumnMacAddress, info.ConnectionKind == ConnectionSerial ? Dash : info.MACAddress);
    cells.text(ColumnStatus, StatusDisplayText(info));
    cells.row.setToolTip(ColumnStatus, StatusToolTip(info));
    cells.row.setData(ColumnStatus, StatusRow::SortRole, int(SeriousnessOf(info)));
    cells.text(ColumnProtocol, ProtocolText(info));
    SetLastAnswer(cells, info);
}

int LookOf(const ProjectorInfo& info) {
    return int(IsStatusUnknown(info)) | int(IsRefusing(info)) << 1 | int(SeriousnessOf(info)) << 2;
}

bool IsAsciiDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Two runs of digits by their value, however many leading zeros.
int CompareNumbers(QStringView a, QStringView b) {
    while (a.size() > 1 && a.front() == QLatin1Char('0'))
        a = a.mid(1);
    while (b.size() > 1 && b.front() == QLatin1Char('0'))
        b = b.mid(1);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

// A light background with black text reads in light and dark palettes alike;
// a row of a projector that does not answer (or answers nothing but
// refusals, or refused our password) is drawn quieter, never below a readable contrast (the
// palette's colour for disabled text is far too faint for a state the
// operator must read). The status cell of an error, a refused password or
// a warning is tinted; the texts ("Disconnect", "Refusing", "Authentication
// Error", the error's or warning's name) carry the state without colour.
void SetColours(StatusRow& row, const ProjectorInfo& info) {
    const bool gone = IsStatusUnknown(info) || IsRefusing(info);
    const Seriousness seriousness = SeriousnessOf(info);
    const QPalette palette = row.treeWidget() ? row.treeWidget()->palette() : QPalette();
    const QBrush goneText(SubduedTextColour(palette));
    for (int c = 0; c < ListColumnCount; ++c) {
        row.setData(c, Qt::ForegroundRole, gone ? QVariant(goneText) : QVariant());
        row.setData(c, Qt::BackgroundRole, QVariant());
    }
    QColor background;
    if (seriousness == Seriousness::Error)
        background = QColor(255, 205, 200);
    else if (seriousness == Seriousness::AuthenticationError)
        background = QColor(255, 220, 160);
    else if (seriousness == Seriousness::Warning)
        background = QColor(255, 245, 190);
    if (background.isValid()) {
        row.setData(ColumnStatus, Qt::BackgroundRole, QBrush(background));
        row.setData(ColumnStatus, Qt::ForegroundRole, QBrush(Qt::black));
    }
}

// Every column from the record.
void FillCells(Cells& cells, const AppState& state, const QString& group) {
    const int p = cells.row.projector();
    const ProjectorInfo& info = state.Projectors[p];
    const bool gone = IsStatusUnknown(info);
    cells.text(ColumnName, info.ProjectorName);
    cells.text(ColumnConnection, ListConnectionText(info));
    cells.text(ColumnPower, gone ? Dash : PowerDisplayText(info.PowerStatus));
    cells.text(ColumnInput, gone ? Dash : InputText(state, p));
    cells.text(ColumnGroup, group);
    SetWear(cells, state, info);
    SetEveryReplyCells(cells, info);
    SetColours(cells.row, info);
    cells.row.setData(0, StatusRow::LookRole, LookOf(info));
}

} // namespace

StatusRow::StatusRow(QTreeWidget* list, int projector) : QTreeWidgetItem(list) {
    setData(0, ProjectorRole, projector);
}

bool StatusRow::operator<(const QTreeWidgetItem& other) const {
    const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
    if (column == ColumnName || column == ColumnGroup) {
        const int byName = CompareNames(text(column), other.text(column));
        if (byName != 0 || column == ColumnName)
            return byName < 0;
    } else {
        const QVariant mine = data(column, SortRole);
        const QVariant theirs = other.data(column, SortRole);
        if (mine.isValid() && theirs.isValid() && mine != theirs)
            return mine.toLongLong() < theirs.toLongLong();
        const int byText = text(column).localeAwareCompare(other.text(column));
        if (byText != 0)
            return byText < 0;
    }
    // Rows of the same value stand in the order of their names.
    return CompareNames(text(ColumnName), other.text(ColumnName)) < 0;
}

int CompareNames(const QString& a, const QString& b) {
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        const bool digits = IsAsciiDigit(a[i]);
        if (digits != IsAsciiDigit(b[j]))
            break;
        qsizetype endA = i;
        qsizetype endB = j;
        while (endA < a.size() && IsAsciiDigit(a[endA]) == digits)
            ++endA;
        while (endB < b.size() && IsAsciiDigit(b[endB]) == digits)
            ++endB;
        const QStringView runA = QStringView(a).mid(i, endA - i);
        const QStringView runB = QStringView(b).mid(j, endB - j);
        const int order =
            digits ? CompareNumbers(runA, runB) : QString::localeAwareCompare(runA, runB);
        if (order != 0)
            return order;
        i = endA;
        j = endB;
    }
    const int rest = QString::localeAwareCompare(QStringView(a).mid(i), QStringView(b).mid(j));
    // "P01" and "P1" are the same number: the text decides between them.
    return rest != 0 ? rest : a.compare(b);
}

void FillStatusRow(StatusRow& row, const AppState& state, const QString& group) {
    Cells cells{row};
    FillCells(cells, state, group);
}

StatusColumns RefreshStatusRow(StatusRow& row, const AppState& state,
                               std::optional<StatusItem> item) {
    const int p = row.projector();
    const ProjectorInfo& info = state.Projectors[p];
    Cells cells{row};
    if (row.data(0, StatusRow::LookRole) != QVariant(LookOf(info))) {
        FillCells(cells, state, row.text(ColumnGroup));
        return cells.changed;
    }
    SetEveryReplyCells(cells, info);
    if (!item)
        return cells.changed;
    const bool gone = IsStatusUnknown(info);
    switch (*item) {
    case StatusItem::Power:
        cells.text(ColumnPower, gone ? Dash : PowerDisplayText(info.PowerStatus));
        break;
    case StatusItem::Input:
        cells.text(ColumnInput, gone ? Dash : InputText(state, p));
        break;
    case StatusItem::LampTime:
    case StatusItem::FilterTime:
        // The forecasts follow the hours; new forecasts come as lamp hours.
        SetWear(cells, state, info);
        break;
    default:
        break;
    }
    return cells.changed;
}

void StatusRowIndex::add(StatusRow* row) {
    const int p = row->projector();
    if (p >= 1 && p <= MaxProjectors)
        m_rows[std::size_t(p)] = row;
}

StatusRow* StatusRowIndex::find(int projector) const {
    return projector >= 1 && projector <= MaxProjectors ? m_rows[std::size_t(projector)] : nullptr;
}
