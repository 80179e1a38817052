#include "ui/MainForm.h"

#include "comm/CommEngine.h"
#include "core/AppState.h"
#include "core/SettingsStore.h"
#include "fleetcsv/FleetCsv.h"
#include "fleetcsv/FleetImport.h"
#include "fleetcsv/FleetImportApply.h"
#include "platform/SafeFile.h"
#include "ui/ImportPreviewDialog.h"
#include "ui/MessageService.h"

#include <QFileDialog>

namespace {

const QString CsvFilter = QStringLiteral("CSV files (*.csv);;All files (*)");

} // namespace

// The projector an added row became: no two added ones share an address and
// port.
int MainForm::projectorAt(const ProjectorInfo& config) const {
    for (int p = m_state.ProjectorCount; p >= 1; --p) {
        const ProjectorInfo& info = m_state.Projectors[p];
        if (IsPJLink(info) && info.IPAddress == config.IPAddress && info.PortNo == config.PortNo)
            return p;
    }
    return 0;
}

namespace {} // namespace

void MainForm::exportProjectors() {
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export Projectors"),
                                                      QStringLiteral("projectors.csv"), CsvFilter);
    if (path.isEmpty())
        return;
    if (const FileOutcome written = WriteFileAtomically(path, ExportFleetCsv(m_state), 0644);
        !written)
        m_messages.show(
            this, MessageKind::Warning,
            QStringLiteral("The projectors could not be exported: %1").arg(written.error));
}

void MainForm::importProjectors() {
    if (refuseWhileAcquiring())
        return;
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Import Projectors"),
                                                      QString(), CsvFilter);
    if (path.isEmpty())
        return;
    QString error;
    const std::optional<QByteArray> bytes = ReadRegularFile(path, &error);
    if (!bytes) {
        m_messages.show(this, MessageKind::Warning,
                        QStringLiteral("%1 cannot be read: %2")
                            .arg(path, error.isEmpty() ? QStringLiteral("no such file") : error));
        return;
    }
    ImportPreviewDialog preview(path, PlanImport(m_state, *bytes), this);
    if (preview.exec() != QDialog::Accepted)
        return;
    // Planned again: polling may have changed nothing in the tree, but the
    // plan applied must be the one of this very table.
    const ImportPlan plan = PlanImport(m_state, *bytes);
    if (!plan.ok() || refuseWhileAcquiring())
        return;
    pausePolling();
    const ImportOutcome outcome = ApplyImport(m_state, m_store, plan);
    for (const int p : outcome.reconnected)
        m_engine.projectorEdited(p);
    if (outcome.applied) {
        reportSave(outcome.saved);
        for (const ImportRow& row : plan.rows) {
            if (!row.password.isEmpty())
                storePJLinkPassword(row.projector > 0 ? row.projector : projectorAt(row.config),
                                    row.password);
        }
    } else {
        m_messages.show(this, MessageKind::Warning, outcome.error);
    }
    resumePolling();
    m_engine.startMacAddressPass();
    afterTreeEdit();
}
