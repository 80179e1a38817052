#pragma once

#include "comm/RefreshSink.h"

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
// Writes the column of one item as a reply refreshes it, with the last
// answer, the learnt MAC address and the row's marks.
void RefreshStatusRow(StatusRow& row, const AppState& state, StatusItem item);
// The last answer, the MAC address and the colours, after any change of
// the projector's contact.
void RefreshRowContact(StatusRow& row, const AppState& state);
