#pragma once

#include "history/EventStore.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <memory>

class HistoryChart;
class HistoryExport;
class HistoryModel;
class HistoryReader;
class HistoryWriter;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QPushButton;
class QTableView;

// Whose events the History tab shows: the whole fleet's (with the
// program's own), or those of some projectors; a projector alone also has
// its hours drawn.
struct HistoryScope {
    bool everything = true;
    QStringList projectorIds; // when not everything; none shows no events
    QString chartProjectorId; // a projector's, for its chart
    qint32 lampThreshold = 0;
    qint32 filterThreshold = 0;
    bool operator==(const HistoryScope&) const = default;
};

// The choices of the kind filter, in the order of its drop-down.
enum class HistoryKindChoice { Every, StateChanges, Commands, Schedules, Mails, Program, Hours };
QList<EventKind> KindsOf(HistoryKindChoice choice);

// The History tab: the events of the scope, filtered by kind, dates and
// the tree's search text, newest first, read page by page from its own
// reading connection to the history file. New events committed by the
// writer are brought in at most once a second.
class HistoryPanel : public QWidget {
    Q_OBJECT
  public:
    explicit HistoryPanel(QString filePath, QWidget* parent = nullptr);
    ~HistoryPanel() override;

    void setWriter(HistoryWriter* writer);
    void setScope(const HistoryScope& scope);
    // The tree's search text; applied a moment after the typing stops.
    void setSearchText(const QString& text);
    // Whether the tab is on screen: the file is read only while it is.
    void setActive(bool active);

    // Writes what the filter selects to path, in the background; the line
    // under the table tells how it went, exportFinished() too.
    void exportTo(const QString& path);

    bool isStoreOpen() const { return m_store && m_store->isOpen(); }
    HistoryModel* model() const { return m_model; }
    QTableView* table() const { return m_table; }
    HistoryChart* chart() const { return m_chart; }
    // The filter the widgets and the scope make.
    EventFilter currentFilter() const;

  signals:
    void exportFinished(bool ok, const QString& text);
    // The chart drew the hours read for it.
    void chartShown();

  private:
    bool ensureOpen();
    void reopen();
    void applyFilter();
    void committed();
    void refreshNow();
    void refreshChart();
    void chooseExportFile();
    void updateNote();
    void fitColumns();

    const QString m_filePath;
    std::unique_ptr<EventStore> m_store;
    std::unique_ptr<HistoryReader> m_reader;
    QPointer<HistoryWriter> m_writer;
    HistoryScope m_scope;
    QString m_searchText;
    // Whose hours the chart shows or is reading.
    QString m_chartProjectorId;
    bool m_active = false;
    // Something changed while the tab was not shown.
    bool m_stale = true;
    bool m_refreshPending = false;
    // The next rows read are the first of a new filter.
    bool m_fitPending = true;
    QTimer m_refreshGap;
    QTimer m_searchDelay;

    HistoryModel* m_model;
    QComboBox* m_kind;
    QCheckBox* m_useFrom;
    QDateEdit* m_from;
    QCheckBox* m_useTo;
    QDateEdit* m_to;
    QPushButton* m_export;
    QLabel* m_unreadable;
    QWidget* m_content;
    HistoryChart* m_chart;
    QTableView* m_table;
    QLabel* m_note;
    QPointer<HistoryExport> m_running;
};
