#pragma once

#include <QTreeWidget>

// The projector tree. A right click opens the pop-up menu for the node that
// is already selected; it never changes the selection. Once a node is
// selected one stays selected, so the panels always belong to a node.
class ProjectorTreeWidget : public QTreeWidget {
    Q_OBJECT
public:
    explicit ProjectorTreeWidget(QWidget* parent);

signals:
    void popupRequested(const QPoint& globalPosition);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override;
};
