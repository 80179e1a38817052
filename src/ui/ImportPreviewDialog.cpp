#include "ui/ImportPreviewDialog.h"

#include "fleetcsv/FleetImport.h"
#include "ui/DialogButtons.h"
#include "ui/DialogPlacement.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

enum Column { ColumnLine, ColumnAction, ColumnGroup, ColumnName, ColumnDetails };

QString actionText(const ImportRow& row) {
    switch (row.action) {
    case ImportRow::Action::Add:
        return QStringLiteral("Add");
    case ImportRow::Action::Change:
        return QStringLiteral("Change");
    case ImportRow::Action::Same:
        break;
    }
    return QStringLiteral("Left alone");
}

QString detailsOf(const ImportRow& row) {
    QStringList details = row.changes;
    if (row.newGroup)
        details.prepend(QStringLiteral("new group"));
    if (row.action == ImportRow::Action::Add && !row.password.isEmpty())
        details << QStringLiteral("with a password");
    return details.join(QStringLiteral("; "));
}

} // namespace

ImportPreviewDialog::ImportPreviewDialog(const QString& fileName, const ImportPlan& plan,
                                         QWidget* parent)
    : QDialog(parent), m_summary(new QLabel(this)), m_rows(new QTreeWidget(this)) {
    setObjectName(QStringLiteral("ImportPreviewDialog"));
    setWindowTitle(QStringLiteral("Import Projectors"));
    m_summary->setObjectName(QStringLiteral("lblImportSummary"));
    m_summary->setWordWrap(true);
    m_rows->setObjectName(QStringLiteral("lstImportRows"));
    m_rows->setRootIsDecorated(false);
    m_rows->setUniformRowHeights(true);
    m_rows->setHeaderLabels({QStringLiteral("Line"), QStringLiteral("Action"),
                             QStringLiteral("Group"), QStringLiteral("Name"),
                             QStringLiteral("Details")});
    m_rows->header()->setStretchLastSection(true);
    m_rows->setMinimumSize(640, 320);

    const auto [ok, cancel, buttons] = AddOkCancelButtons(this);
    m_ok = ok;
    const QString name = QFileInfo(fileName).fileName();
    if (plan.ok()) {
        m_summary->setText(
            QStringLiteral("%1: %2. Press OK to import.").arg(name, ImportSummary(plan)));
        listRows(plan);
    } else {
        m_summary->setText(
            QStringLiteral("%1: %2 errors. Nothing will be imported; correct the file and "
                           "import it again.")
                .arg(name)
                .arg(plan.errors.size()));
        listErrors(plan);
    }
    m_ok->setEnabled(plan.ok());
    for (int c = ColumnLine; c < ColumnDetails; ++c)
        m_rows->resizeColumnToContents(c);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_summary);
    layout->addWidget(m_rows, 1);
    layout->addWidget(buttons);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    CenterOnMainWindow(this, parent);
}

void ImportPreviewDialog::listRows(const ImportPlan& plan) {
    for (const ImportRow& row : plan.rows) {
        auto* item = new QTreeWidgetItem(m_rows);
        item->setText(ColumnLine, QString::number(row.line));
        item->setText(ColumnAction, row.groupOnly && row.action == ImportRow::Action::Add
                                        ? QStringLiteral("Add group")
                                        : actionText(row));
        item->setText(ColumnGroup, row.group);
        item->setText(ColumnName, row.config.ProjectorName);
        item->setText(ColumnDetails, detailsOf(row));
        item->setToolTip(ColumnDetails, item->text(ColumnDetails));
    }
}

void ImportPreviewDialog::listErrors(const ImportPlan& plan) {
    for (const ImportError& error : plan.errors) {
        auto* item = new QTreeWidgetItem(m_rows);
        item->setText(ColumnLine, error.line > 0 ? QString::number(error.line) : QString());
        item->setText(ColumnAction, QStringLiteral("Error"));
        item->setText(ColumnGroup, error.group);
        item->setText(ColumnName, error.name);
        item->setText(ColumnDetails, error.text);
        item->setToolTip(ColumnDetails, error.text);
    }
}
