#pragma once

#include "core/StatusItem.h"
#include "core/AppState.h"

#include <QTreeWidgetItem>

#include <array>
#include <optional>

// One projector's row of the group list or of the fleet overview. Rows sort
// by the value behind a cell (hours as numbers, times in order) rather than
// by its text, and names as people read them ("Room 2" before "Room 10").
class StatusRow : public QTreeWidgetItem {
  public:
    static constexpr int ProjectorRole = Qt::UserRole;
    static constexpr int SortRole = Qt::UserRole + 1;
    // How the row is drawn (in contact or not, how serious), on column 0.
    static constexpr int LookRole = Qt::UserRole + 2;

    StatusRow(QTreeWidget* list, int projector);
    int projector() const { return data(0, ProjectorRole).toInt(); }
    bool operator<(const QTreeWidgetItem& other) const override;
};

// Compares names as people read them: runs of digits by their value, the
// rest as text; <0, 0 or >0.
int CompareNames(const QString& a, const QString& b);

// Columns of a row, one bit each.
using StatusColumns = quint32;

// Fills every column from the projector's record; group is the group
// column's text.
void FillStatusRow(StatusRow& row, const AppState& state, const QString& group);
// Brings the row up to date after a reply to item (none: a reply or a change
// of contact): the item's columns and those any reply may change. When the
// projector's look changed the whole row is filled again, keeping its group:
// a reply that ends a disconnect brings every other column back at once.
// Returns the columns whose text changed.
StatusColumns RefreshStatusRow(StatusRow& row, const AppState& state,
                               std::optional<StatusItem> item = std::nullopt);

// The rows of one status list by projector, so a reply finds its row at
// once; emptied whenever the list is.
class StatusRowIndex {
  public:
    void clear() { m_rows.fill(nullptr); }
    void add(StatusRow* row);
    StatusRow* find(int projector) const;

  private:
    std::array<StatusRow*, MaxProjectors + 1> m_rows{};
};
