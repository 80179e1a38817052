#include "ui/ScheduleCalendar.h"

#include "core/AppState.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

const QColor DefaultColour(204, 224, 255);
const QColor WeekdayColour(198, 239, 206);
const QColor DateColour(255, 214, 153);
const QColor InactiveText(160, 160, 160);

} // namespace

ScheduleCalendar::ScheduleCalendar(AppState& state, QWidget* parent)
    : QWidget(parent), m_state(state) {
    if (!m_state.StartDate.isValid())
        m_state.StartDate = m_state.clock.today();
    if (!m_state.CalendarMonth.isValid())
        m_state.CalendarMonth = FirstOfMonth(m_state.StartDate);
    m_state.CalendarMonth = FirstOfMonth(m_state.CalendarMonth);

    m_previous = new QPushButton(QStringLiteral("<<"), this);
    m_previous->setObjectName(QStringLiteral("cmdSchedulePrevMonth"));
    m_next = new QPushButton(QStringLiteral(">>"), this);
    m_next->setObjectName(QStringLiteral("cmdScheduleNextMonth"));
    m_year = new QLabel(this);
    m_year->setObjectName(QStringLiteral("lblScheduleYear"));
    m_month = new QLabel(this);
    m_month->setObjectName(QStringLiteral("lblScheduleMonth"));

    m_grid = new QTableWidget(CalendarRows, CalendarColumns, this);
    m_grid->setObjectName(QStringLiteral("grdScheduleCalendar"));
    m_grid->horizontalHeader()->hide();
    m_grid->verticalHeader()->hide();
    m_grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_grid->verticalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setSelectionMode(QAbstractItemView::ContiguousSelection);
    m_grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    for (int row = 0; row < CalendarRows; ++row) {
        for (int column = 0; column < CalendarColumns; ++column) {
            auto* item = new QTableWidgetItem;
            item->setTextAlignment(Qt::AlignCenter);
            m_grid->setItem(row, column, item);
        }
    }

    auto* navigation = new QHBoxLayout;
    navigation->addWidget(m_previous);
    navigation->addStretch();
    navigation->addWidget(m_year);
    navigation->addWidget(m_month);
    navigation->addStretch();
    navigation->addWidget(m_next);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(navigation);
    layout->addWidget(m_grid, 1);

    connect(m_previous, &QPushButton::clicked, this, [this] { ShowMonth(-1); });
    connect(m_next, &QPushButton::clicked, this, [this] { ShowMonth(1); });
    connect(m_grid, &QTableWidget::itemSelectionChanged, this, &ScheduleCalendar::onGridSelection);

    drawGrid();
    updateLabels();
    SelectToday();
}

QDate ScheduleCalendar::calendarMonth() const {
    return m_state.CalendarMonth;
}

QDate ScheduleCalendar::startDate() const {
    return m_state.StartDate;
}

QString ScheduleCalendar::selectedFileBase() const {
    return ScheduleFileName(m_state.CalendarMonth, m_selection);
}

bool ScheduleCalendar::selectionInactive() const {
    if (selectionKind() != SelectionDay)
        return false;
    const QDate date =
        CellDate(m_state.CalendarMonth, m_selection.firstColumn, m_selection.firstRow);
    return date.month() != m_state.CalendarMonth.month() || date < m_state.StartDate;
}

void ScheduleCalendar::setMarks(const DayMarks& marks) {
    m_marks = marks;
    recolour();
}

void ScheduleCalendar::ShowMonth(int step) {
    m_state.CalendarMonth = FirstOfMonth(m_state.CalendarMonth).addMonths(step);
    const QDate start = m_state.StartDate;
    const bool startShown = start.year() == m_state.CalendarMonth.year() &&
                            start.month() == m_state.CalendarMonth.month();
    m_selectedDate = startShown ? start : m_state.CalendarMonth;
    drawGrid();
    updateLabels();
    const QPoint cell = DateCell(m_state.CalendarMonth, m_selectedDate);
    highlight({cell.x(), cell.x(), cell.y(), cell.y()});
    emit monthChanged();
    emit selectionChanged();
}

void ScheduleCalendar::SelectToday() {
    m_selectedDate = m_state.StartDate;
    const QPoint cell = DateCell(m_state.CalendarMonth, m_selectedDate);
    highlight({cell.x(), cell.x(), cell.y(), cell.y()});
    emit selectionChanged();
}

void ScheduleCalendar::drawGrid() {
    for (int column = 0; column < CalendarColumns; ++column)
        m_grid->item(0, column)->setText(DayShortNames[std::size_t(column)]);
    for (int row = 1; row < CalendarRows; ++row) {
        m_grid->item(row, 0)->setText(WeekLabels[std::size_t(row)]);
        for (int column = 1; column < CalendarColumns; ++column)
            m_grid->item(row, column)
                ->setText(QString::number(CellDate(m_state.CalendarMonth, column, row).day()));
    }
    recolour();
}

void ScheduleCalendar::recolour() {
    for (int row = 0; row < CalendarRows; ++row) {
        for (int column = 0; column < CalendarColumns; ++column) {
            QTableWidgetItem* item = m_grid->item(row, column);
            const qint16 mark = cellMarks(column, row);
            // The most specific schedule decides the colour of a day.
            const QColor back = (mark & MarkDate)      ? DateColour
                                : (mark & MarkWeekday) ? WeekdayColour
                                : (mark & MarkDefault) ? DefaultColour
                                                       : QColor();
            item->setBackground(back.isValid() ? QBrush(back) : QBrush());
            item->setForeground((mark & MarkInactive) ? QBrush(InactiveText) : QBrush());
            QFont font = item->font();
            font.setBold(row == 0 || column == 0);
            item->setFont(font);
        }
    }
}

void ScheduleCalendar::updateLabels() {
    m_year->setText(m_state.CalendarMonth.toString(QStringLiteral("yyyy")));
    m_month->setText(MonthNames[std::size_t(m_state.CalendarMonth.month())]);
}

void ScheduleCalendar::highlight(const CalendarSelection& selection) {
    m_highlighting = true;
    m_grid->clearSelection();
    if (ClassifySelection(selection) != SelectionNone) {
        m_grid->setRangeSelected(
            QTableWidgetSelectionRange(selection.firstRow, selection.firstColumn, selection.lastRow,
                                       selection.lastColumn),
            true);
        m_selection = selection;
    } else {
        m_selection = {};
    }
    m_highlighting = false;
}

void ScheduleCalendar::onGridSelection() {
    if (m_highlighting)
        return;
    const QList<QTableWidgetSelectionRange> ranges = m_grid->selectedRanges();
    CalendarSelection chosen;
    if (ranges.size() == 1) {
        const QTableWidgetSelectionRange& r = ranges.front();
        chosen = {r.leftColumn(), r.rightColumn(), r.topRow(), r.bottomRow()};
    }
    switch (ClassifySelection(chosen)) {
    case SelectionNone:
        m_selection = {};
        break;
    case SelectionDefault:
        if (chosen != CalendarSelection{0, 0, 0, 0})
            highlight({0, 0, 0, 0});
        m_selection = {0, 0, 0, 0};
        break;
    case SelectionWeekday:
        m_selection = chosen;
        break;
    case SelectionDay:
        m_selection = chosen;
        m_selectedDate = CellDate(m_state.CalendarMonth, chosen.firstColumn, chosen.firstRow);
        break;
    }
    emit selectionChanged();
}
