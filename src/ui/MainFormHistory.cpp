#include "ui/MainForm.h"

#include "ui/ServiceReport.h"

void MainForm::showServiceReport() {
    auto* report = new ServiceReportDialog(m_state, m_messages, this);
    report->setAttribute(Qt::WA_DeleteOnClose);
    report->open();
}
