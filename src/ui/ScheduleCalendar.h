#pragma once

#include "schedule/CalendarGeometry.h"
#include "schedule/DayMarks.h"

#include <QDate>
#include <QWidget>

struct AppState;
class QLabel;
class QPushButton;
class QTableWidget;

// The month calendar of the Schedule tab: "<<" and ">>", the year and month
// labels and the 8 x 7 grid of headers, week labels and days. It keeps the
// shown month in AppState::CalendarMonth and reports every new selection.
class ScheduleCalendar : public QWidget {
    Q_OBJECT
  public:
    explicit ScheduleCalendar(AppState& state, QWidget* parent = nullptr);

    QDate calendarMonth() const;
    QDate startDate() const;
    QDate SelectedDate() const { return m_selectedDate; }
    CalendarSelection selection() const { return m_selection; }
    SelectionKind selectionKind() const { return ClassifySelection(m_selection); }
    // Base name of the schedule file of the selection; empty for none.
    QString selectedFileBase() const;
    // True for a day cell before the start date or outside the shown month.
    bool selectionInactive() const;

    qint16 cellMarks(int column, int row) const {
        return m_marks[std::size_t(MarkIndex(column, row))];
    }
    void setMarks(const DayMarks& marks);

  public slots:
    // -1 shows the previous month, +1 the next.
    void ShowMonth(int step);
    void SelectToday();

  signals:
    void monthChanged();
    void selectionChanged();

  private:
    void drawGrid();
    void recolour();
    void updateLabels();
    void onGridSelection();
    // Highlights one range without reporting it as a user selection.
    void highlight(const CalendarSelection& selection);

    AppState& m_state;
    QPushButton* m_previous = nullptr;
    QPushButton* m_next = nullptr;
    QLabel* m_year = nullptr;
    QLabel* m_month = nullptr;
    QTableWidget* m_grid = nullptr;
    CalendarSelection m_selection;
    QDate m_selectedDate;
    DayMarks m_marks{};
    bool m_highlighting = false;
};
