#pragma once

#include <QDialog>

struct ImportPlan;
class QLabel;
class QPushButton;
class QTreeWidget;

// What importing a fleet file would do, before anything changes: every row
// it would add, change or leave alone, or every error by its line. "OK" is
// offered only for a file without errors; the caller applies the plan once
// it is accepted.
class ImportPreviewDialog : public QDialog {
    Q_OBJECT
  public:
    ImportPreviewDialog(const QString& fileName, const ImportPlan& plan, QWidget* parent);

  private:
    void listRows(const ImportPlan& plan);
    void listErrors(const ImportPlan& plan);

    QLabel* m_summary;
    QTreeWidget* m_rows;
    QPushButton* m_ok;
};
