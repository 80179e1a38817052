#include "ui/MainForm.h"

#include "core/SettingsStore.h"
#include "ui/HistoryPanel.h"
#include "ui/Panels.h"
#include "ui/ProjectorTreeWidget.h"

#include <QFrame>
#include <QHeaderView>
#include <QLayout>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>
#include <QTreeWidget>

#include <algorithm>
#include <utility>

using namespace std::chrono_literals;

namespace {

const QString TreeWidthKey = QStringLiteral("TreeWidth");
const QString FleetSortKey = QStringLiteral("FleetSort");
const QString FleetColumnsKey = QStringLiteral("FleetColumns");

// The room a column's title needs: its text within the header's margins,
// and the sort arrow's room on the sorted column only (the style takes that
// room from that column's label alone). Qt's own measure gives every column
// the arrow's room, which at 13 columns pushes the last ones off screen.
int TitleWidth(const QTreeWidget* list, int column) {
    const QHeaderView* header = list->header();
    const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    int width =
        header->fontMetrics().horizontalAdvance(list->headerItem()->text(column)) + 2 * margin;
    if (header->isSortIndicatorShown() && header->sortIndicatorSection() == column)
        width += header->sizeHint().height() / 2 + 2 * margin;
    return width;
}

// Numbers of a text like "5,0" or "120,80,96"; empty when any part is not one.
QList<int> Numbers(const QString& text) {
    QList<int> numbers;
    for (const QString& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int n = part.trimmed().toInt(&ok);
        if (!ok || n < 0)
            return {};
        numbers << n;
    }
    return numbers;
}

} // namespace

QSize MainForm::pagesMinimumSize() {
    // Each page needs room for the largest of its panels, shown or not.
    for (int tab = 0; tab < m_tabs->count(); ++tab) {
        QWidget* page = m_tabs->widget(tab);
        QSize need;
        // The History tab is one panel whose filters lie outside any frame:
        // a minimum below its own would squeeze them.
        if (page == m_history)
            need = page->minimumSizeHint();
        for (QFrame* frame : page->findChildren<QFrame*>(Qt::FindDirectChildrenOnly))
            need = need.expandedTo(frame->minimumSizeHint());
        page->setMinimumSize(need);
        // The layouts above keep their sizes until the next layout pass;
        // the new minimum is wanted now.
        for (QWidget* up = page; up; up = up->parentWidget()) {
            up->updateGeometry();
            if (up->layout())
                up->layout()->invalidate();
        }
    }
    return MinimumWindowSize.expandedTo(minimumSizeHint());
}

void MainForm::updateMinimumSize() {
    QScrollArea* rows = m_controlProjector.rows;
    const QSize rowsNeed = rows->widget()->minimumSizeHint();
    rows->setMinimumWidth(rowsNeed.width() + rows->verticalScrollBar()->sizeHint().width());
    rows->setMinimumHeight(rowsNeed.height());
    QSize need = pagesMinimumSize();
    const int room = screenRoom().height();
    if (need.height() > room) {
        // Only as many rows as the screen leaves room for; the rest scroll.
        const int fewest = 3 * fontMetrics().height();
        rows->setMinimumHeight(std::max(fewest, rowsNeed.height() - (need.height() - room)));
        need = pagesMinimumSize();
    }
    setMinimumSize(need);
}

QSize MainForm::screenRoom() const {
    const QScreen* shown = screen();
    if (!shown)
        return DefaultWindowSize;
    // Before the window is first shown its frame is not known yet; a title
    // bar and borders of about this size are usual.
    const QSize frame =
        isVisible() ? frameGeometry().size() - size() : QSize(2 * 4, fontMetrics().height() + 16);
    return shown->availableGeometry().size() - frame;
}

void MainForm::restoreWindowLayout() {
    m_layoutSave.setSingleShot(true);
    m_layoutSave.setInterval(1s);
    connect(&m_layoutSave, &QTimer::timeout, this, &MainForm::saveWindowLayout);

    const QSettings stored(m_store.filePath(), QSettings::IniFormat);
    const auto value = [&stored](const QString& key) {
        return stored.value(QStringLiteral("Window/") + key).toString();
    };
    QHeaderView* header = m_statusFleet.list->header();
    const QList<int> treeWidth = Numbers(value(TreeWidthKey));
    if (treeWidth.size() == 1) {
        const int total = std::max(width(), m_splitter->width());
        m_splitter->setSizes({treeWidth[0], std::max(1, total - treeWidth[0])});
    }
    const QList<int> sort = Numbers(value(FleetSortKey));
    if (sort.size() == 2 && sort[0] < ListColumnCount)
        m_statusFleet.list->sortByColumn(sort[0],
                                         sort[1] == 1 ? Qt::DescendingOrder : Qt::AscendingOrder);
    // Widths stored before the overview had its Protocol or forecast
    // columns keep theirs.
    const QList<int> widths = Numbers(value(FleetColumnsKey));
    if (widths.size() == ListColumnCount || widths.size() == ColumnProtocol ||
        widths.size() == ColumnProtocol + 1)
        for (int c = 0; c < int(widths.size()); ++c)
            header->resizeSection(c, widths[c]);

    const auto later = [this] { m_layoutSave.start(); };
    connect(m_splitter, &QSplitter::splitterMoved, this, later);
    connect(header, &QHeaderView::sectionResized, this, [this] {
        if (!m_fittingColumns)
            m_layoutSave.start();
    });
    connect(header, &QHeaderView::sortIndicatorChanged, this, [this, later](int section) {
        // The sorted column's title makes room for the arrow.
        if (section >= 0 && section < ListColumnCount)
            fitFleetColumns(StatusColumns(1) << section);
        later();
    });
}

void MainForm::saveWindowLayout() {
    m_layoutSave.stop();
    const QHeaderView* header = m_statusFleet.list->header();
    QStringList widths;
    for (int c = 0; c < ListColumnCount; ++c)
        widths << QString::number(header->sectionSize(c));
    const int order = header->sortIndicatorOrder() == Qt::DescendingOrder ? 1 : 0;
    const bool saved = m_store.writeWindowLayout({
        {TreeWidthKey, QString::number(m_splitter->sizes().value(0, TreeWidth))},
        {FleetSortKey, QStringLiteral("%1,%2").arg(header->sortIndicatorSection()).arg(order)},
        {FleetColumnsKey, widths.join(QLatin1Char(','))},
    });
    // Not worth a message box (and none can open while the window closes),
    // but listed among the problems.
    if (!saved)
        m_feedback.addProblem(
            QStringLiteral("The window's layout could not be saved to %1").arg(m_store.filePath()));
}

void MainForm::fitFleetColumns(StatusColumns columns) {
    m_fitPending &= ~columns;
    QTreeWidget* list = m_statusFleet.list;
    QHeaderView* header = list->header();
    // The program's own fitting is not the operator's choice to keep.
    m_fittingColumns = true;
    for (int c = 0; c < ListColumnCount; ++c) {
        if ((columns & (StatusColumns(1) << c)) == 0)
            continue;
        // QTreeView keeps its measure of the cells protected; the view's is public.
        const int cells = static_cast<const QAbstractItemView*>(list)->sizeHintForColumn(c);
        // A blank between one column's text and the next.
        const int gap = list->fontMetrics().horizontalAdvance(QLatin1Char(' '));
        const int need = std::max(cells, TitleWidth(list, c)) + gap;
        if (need > header->sectionSize(c))
            header->resizeSection(c, need);
    }
    m_fittingColumns = false;
}

// After a burst of replies: the widest new texts were measured as they came,
// so no column's rows are measured again.
void MainForm::widenNotedColumns() {
    const StatusColumns columns = std::exchange(m_fitPending, 0);
    QTreeWidget* list = m_statusFleet.list;
    QHeaderView* header = list->header();
    const int gap = list->fontMetrics().horizontalAdvance(QLatin1Char(' '));
    m_fittingColumns = true;
    for (int c = 0; c < ListColumnCount; ++c) {
        if ((columns & (StatusColumns(1) << c)) == 0)
            continue;
        const int need = std::max(m_notedWidths[std::size_t(c)], TitleWidth(list, c)) + gap;
        if (need > header->sectionSize(c))
            header->resizeSection(c, need);
    }
    m_fittingColumns = false;
}
