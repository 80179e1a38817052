#pragma once

#include <QTreeWidgetItem>

struct AppState;

// One projector's row of the group list or of the fleet overview. Rows sort
// by the value behind a cell (hours as numbers, times in order) rather than
// by its text.
class StatusRow : public QTreeWidgetItem {
  public:
    static constexpr int ProjectorRole = Qt::UserRole;
    static constexpr int SortRole = Qt::UserRole + 1;

    StatusRow(QTreeWidget* list, int projector);
    int projector() const { return data(0, ProjectorRole).toInt(); }
    bool operator<(const QTreeWidgetItem& other) const override;
};

// Fills every column from the projector's record; group is the group
// column's text.
void FillStatusRow(StatusRow& row, const AppState& state, const QString& group);
// Fills the row again from the record after any reply or change of contact,
// keeping its group. The whole row, not the one item that changed: a reply
// that ends a disconnect brings every other column back at the same time.
void RefreshStatusRow(StatusRow& row, const AppState& state);
