#pragma once

#include "history/EventStore.h"

#include <QAbstractTableModel>

#include <optional>
#include <vector>

// The history's events, newest first, as a table read from the store one
// page at a time: the first page when the filter is set, the next ones as
// the view scrolls to the end. Only the pages fetched are held.
class HistoryModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column {
        ColumnTime,
        ColumnKind,
        ColumnGroup,
        ColumnProjector,
        ColumnText,
        ColumnOutcome,
        ColumnSource,
        ColumnCount
    };
    static constexpr int PageSize = 200;
    // The most rows held; past it the filter must be narrowed (or the rows
    // exported) to see older events.
    static constexpr int MaxRows = 100 * PageSize;

    explicit HistoryModel(QObject* parent = nullptr);

    // The store stays the caller's; null (or closed) shows nothing.
    void setStore(const EventStore* store);
    // Reads the first page of what the filter selects.
    void setFilter(const EventFilter& filter);
    // Shows no events at all, whatever the store holds (a group without
    // projectors).
    void showNothing();
    const EventFilter& filter() const { return m_filter; }
    // Reads the first page again.
    void reload();
    // Puts the events newer than the newest shown above it, leaving the
    // rows below as they are; reloads when more came than one page.
    // The number of rows added.
    int prependNewer();

    const HistoryEvent& event(int row) const { return m_events[std::size_t(row)]; }
    int pagesFetched() const { return m_pages; }
    // More events are selected than the rows may hold.
    bool atLimit() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

  private:
    bool readable() const;
    // Drops the oldest rows past MaxRows.
    void trimToLimit();

    const EventStore* m_store = nullptr;
    EventFilter m_filter;
    bool m_nothing = false;
    std::vector<HistoryEvent> m_events;
    std::optional<EventCursor> m_next;
    int m_pages = 0;
};

// The kind in words, as the History tab shows it ("Power", "Mail failed").
QString EventKindText(EventKind kind);
// What the event says, for the Text column: its own text, or the value in
// words where it has none ("ON", "Lamp 1200 h, Filter 850 h").
QString EventDisplayText(const HistoryEvent& event);
QString EventSourceText(EventSource source);
