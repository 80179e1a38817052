#pragma once

#include "history/EventStore.h"

class HistoryReader;

#include <QAbstractTableModel>

#include <optional>
#include <vector>

// The history's events, newest first, as a table read one page at a time
// by the reader: the first page when the filter is set, the next ones as
// the view scrolls to the end. Only the pages fetched are held. Every read
// is answered later; a new filter drops the answers still to come.
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

    // The reader stays the caller's; null shows nothing.
    void setReader(HistoryReader* reader);
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
    // prepended() tells how many rows were added.
    void prependNewer();
    // A page is being read.
    bool isReading() const { return m_reading; }
    // Why the last page could not be read; empty when it was.
    const QString& problem() const { return m_problem; }

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

  signals:
    void prepended(int rows);
    // Reading started or ended, or a problem came or went.
    void readingChanged();

  private:
    enum class Purpose { First, Next, Newer };
    void request(Purpose purpose, const EventFilter& filter,
                 const std::optional<EventCursor>& after);
    void answered(Purpose purpose, EventPage page);
    void applyNewer(EventPage page);
    bool readable() const;
    // Drops the oldest rows past MaxRows.
    void trimToLimit();

    HistoryReader* m_reader = nullptr;
    quint64 m_generation = 0;
    bool m_reading = false;
    QString m_problem;
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
