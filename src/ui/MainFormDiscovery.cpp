#include "ui/MainForm.h"

#include "comm/CommEngine.h"
#include "discovery/AddFinds.h"
#include "ui/FindProjectorsDialog.h"

// The ticked finds are added like projectors from the projector dialog:
// polling pauses, one save stores them all, and their MAC addresses are
// learnt by the next pass.
void MainForm::findProjectors() {
    if (refuseWhileAcquiring())
        return;
    auto* dialog = new FindProjectorsDialog(
        m_state, m_messages,
        [this](const QList<DiscoveryFind>& finds, const AddFindsPlan& plan) {
            pausePolling();
            QString error;
            const int added = AddFoundProjectors(m_state, finds, plan, &error);
            if (added > 0)
                saveTreeAndProjectors();
            resumePolling();
            if (added > 0) {
                m_engine.startMacAddressPass();
                afterTreeEdit();
            }
            return error;
        },
        DiscoveryOptions{}, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}
