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
