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

void SetHours(StatusRow& row, int column, qint32 hours, bool gone) {
    row.setText(column, gone ? Dash : HoursDisplayText(hours));
    row.setData(column, StatusRow::SortRole, gone || hours < 0 ? -1 : int(hours));
}

void SetDue(StatusRow& row, int column, const Forecast& forecast, const QDateTime& now) {
    row.setText(column, ForecastText(forecast, now));
    row.setData(column, StatusRow::SortRole, ForecastSortKey(forecast));
}

void SetLastAnswer(StatusRow& row, const ProjectorInfo& info) {
    const QDateTime when = info.LastReply;
    row.setText(ColumnLastAnswer,
                when.isValid() ? when.toLocalTime().toString(QStringLiteral("HH:mm:ss")) : Dash);
    row.setData(ColumnLastAnswer, StatusRow::SortRole,
                when.isValid() ? when.toMSecsSinceEpoch() : qint64(-1));
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

} // namespace

StatusRow::StatusRow(QTreeWidget* list, int projector) : QTreeWidgetItem(list) {
    setData(0, ProjectorRole, projector);
}

bool StatusRow::operator<(const QTreeWidgetItem& other) const {
    const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
    const QVariant mine = data(column, SortRole);
    const QVariant theirs = other.data(column, SortRole);
    if (mine.isValid() && theirs.isValid() && mine != theirs)
        return mine.toLongLong() < theirs.toLongLong();
    const int byText = text(column).localeAwareCompare(other.text(column));
    // Rows of the same value stand in the order of their names.
    if (byText != 0 || column == ColumnName)
        return byText < 0;
    return text(ColumnName).localeAwareCompare(other.text(ColumnName)) < 0;
}

void FillStatusRow(StatusRow& row, const AppState& state, const QString& group) {
    const int p = row.projector();
    const ProjectorInfo& info = state.Projectors[p];
    const bool gone = IsStatusUnknown(info);
    row.setText(ColumnName, info.ProjectorName);
    row.setText(ColumnConnection, ListConnectionText(info));
    row.setText(ColumnMacAddress, info.ConnectionKind == ConnectionSerial ? Dash : info.MACAddress);
    row.setText(ColumnPower, gone ? Dash : PowerDisplayText(info.PowerStatus));
    row.setText(ColumnInput, gone ? Dash : InputText(state, p));
    row.setText(ColumnStatus, StatusDisplayText(info));
    row.setToolTip(ColumnStatus, StatusToolTip(info));
    row.setData(ColumnStatus, StatusRow::SortRole, int(SeriousnessOf(info)));
    SetHours(row, ColumnLampTime, info.LampTime, gone);
    SetHours(row, ColumnFilterTime, info.FilterTime, gone);
    row.setText(ColumnGroup, group);
    row.setText(ColumnProtocol, ProtocolText(info));
    const QDateTime now = state.clock.now();
    SetDue(row, ColumnLampDue, info.LampForecast, now);
    SetDue(row, ColumnFilterDue, info.FilterForecast, now);
    SetLastAnswer(row, info);
    SetColours(row, info);
}

void RefreshStatusRow(StatusRow& row, const AppState& state) {
    FillStatusRow(row, state, row.text(ColumnGroup));
}
