#include "ui/ProjectorTreeWidget.h"

#include <QHeaderView>
#include <QMouseEvent>

ProjectorTreeWidget::ProjectorTreeWidget(QWidget* parent) : QTreeWidget(parent)
{
    setObjectName(QStringLiteral("ProjectorTree"));
    setHeaderHidden(true);
    setColumnCount(1);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setIconSize(QSize(16, 16));
    setContextMenuPolicy(Qt::NoContextMenu);
}

void ProjectorTreeWidget::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        event->accept();
        emit popupRequested(event->globalPosition().toPoint());
        return;
    }
    QTreeWidget::mousePressEvent(event);
}

void ProjectorTreeWidget::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    QTreeWidget::mouseReleaseEvent(event);
}

QItemSelectionModel::SelectionFlags
ProjectorTreeWidget::selectionCommand(const QModelIndex& index, const QEvent* event) const
{
    // A click on empty space or a control-click would deselect.
    if (!index.isValid())
        return QItemSelectionModel::NoUpdate;
    const QItemSelectionModel::SelectionFlags flags = QTreeWidget::selectionCommand(index, event);
    return flags.testFlag(QItemSelectionModel::Deselect) ? QItemSelectionModel::NoUpdate : flags;
}
