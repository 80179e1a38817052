#include "ui/MainForm.h"

#include "comm/CommEngine.h"
#include "core/AppState.h"
#include "core/Fleet.h"
#include "core/SettingsStore.h"
#include "ui/AddGroupForm.h"
#include "ui/AddPJForm.h"
#include "ui/HistoryPanel.h"
#include "ui/Icons.h"
#include "ui/MessageService.h"
#include "ui/ProjectorTreeWidget.h"
#include "ui/RefreshForm.h"
#include "ui/StatusRows.h"
#include "ui/TreeFilter.h"

#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QTreeWidgetItem>

#include <algorithm>

namespace {

const QString AcquiringMessage = QStringLiteral("During the MAC address acquisition.") +
                                 QStringLiteral("\n") + QStringLiteral("Wait for a while.");

constexpr int KeyRole = Qt::UserRole;

} // namespace

void MainForm::InitProjectorTree() {
    m_store.LoadTree(m_state);
    rebuildTree();
    // The window opens on the overview of the whole fleet.
    if (selectedNode() == 0)
        selectNode(1);
    rebuildView();
}

void MainForm::rebuildTree() {
    const int selected = selectedNode();
    const QString selectedKey = selected > 0 ? Node(m_state, selected).KeyName : QString();
    {
        const QSignalBlocker blocker(m_tree);
        m_tree->clear();
        QHash<QString, QTreeWidgetItem*> items;
        QTreeWidgetItem* root = nullptr;
        for (const TreeNode& node : m_state.Nodes) {
            QTreeWidgetItem* item = nullptr;
            const QChar kind = NodeKind(node);
            if (kind == QLatin1Char('r')) {
                item = new QTreeWidgetItem(m_tree);
                item->setIcon(0, ProgramIcon(IconKind::Root));
                root = item;
            } else {
                // A stored node whose parent is unknown is shown under the root.
                QTreeWidgetItem* parent = items.value(node.ParentKey, root);
                item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(m_tree);
                item->setIcon(0, ProgramIcon(kind == QLatin1Char('g') ? IconKind::Group
                                                                      : IconKind::Projector));
            }
            item->setText(0, node.Text);
            item->setData(0, KeyRole, node.KeyName);
            items.insert(node.KeyName, item);
        }
        m_tree->expandAll();
        if (QTreeWidgetItem* item = items.value(selectedKey))
            m_tree->setCurrentItem(item);
        m_treeItems = items;
    }
    updateAllTreeMarks();
    applySearch();
    rebuildView();
}

QString MainForm::searchText() const {
    return m_treeSearch ? m_treeSearch->text().trimmed() : QString();
}

void MainForm::applySearch() {
    m_searchRefresh.stop();
    m_history->setSearchText(searchText());
    const std::vector<bool> shown = NodesShown(m_state, searchText());
    {
        // Hiding an item must not count as a new selection.
        const QSignalBlocker blocker(m_tree);
        for (int node = 1; node < int(shown.size()); ++node) {
            if (QTreeWidgetItem* item = m_treeItems.value(Node(m_state, node).KeyName))
                item->setHidden(!shown[std::size_t(node)]);
        }
    }
    const bool none = std::find(shown.begin() + 1, shown.end(), true) == shown.end();
    m_treeNoMatch->setText(QStringLiteral("Nothing matches \"%1\".").arg(searchText()));
    m_treeNoMatch->setVisible(none && !searchText().isEmpty());
    if (fleetShown()) {
        QTreeWidget* list = m_statusFleet.list;
        const QString text = searchText();
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            QTreeWidgetItem* row = list->topLevelItem(i);
            row->setHidden(
                !ProjectorMatches(m_state, row->data(0, StatusRow::ProjectorRole).toInt(), text));
        }
    }
}

int MainForm::selectedNode() const {
    const QTreeWidgetItem* item = m_tree->currentItem();
    if (!item || !item->isSelected())
        return 0;
    return NodeIndexOfKey(m_state, item->data(0, KeyRole).toString());
}

void MainForm::selectNode(int nodeIndex) {
    if (nodeIndex < 1 || nodeIndex > NodeCount(m_state))
        return;
    const QString key = Node(m_state, nodeIndex).KeyName;
    for (QTreeWidgetItemIterator it(m_tree); *it; ++it) {
        if ((*it)->data(0, KeyRole).toString() == key) {
            m_tree->setCurrentItem(*it);
            return;
        }
    }
}

void MainForm::saveTreeAndProjectors() {
    reportSave(m_store.SaveTreeAndProjectors(m_state));
}

// A failed save keeps the change for this run; the operator is told so that
// a full disk or a read-only settings file does not lose it unnoticed.
void MainForm::reportSave(bool saved) {
    if (!saved)
        m_messages.show(this, MessageKind::Warning,
                        QStringLiteral("The settings could not be saved to %1.\n"
                                       "The change stays in effect until the program ends.")
                            .arg(m_store.filePath()));
}

void MainForm::pausePolling() {
    m_engine.stopPolling();
    m_engine.stopDispatcher();
}

// Polling resumes at once so that the changed table is seen without delay.
void MainForm::resumePolling() {
    m_state.LastStatusCheck = QDateTime();
    m_engine.startPolling(10);
    m_engine.startDispatcher();
}

bool MainForm::refuseWhileAcquiring() {
    if (!m_state.MacAcquiring)
        return false;
    m_messages.show(this, MessageKind::Information, AcquiringMessage);
    return true;
}

QStringList MainForm::groupNames(int exceptNode) const {
    QStringList names;
    for (int n = 1; n <= NodeCount(m_state); ++n) {
        if (n != exceptNode && NodeKind(m_state, n) == QLatin1Char('g'))
            names.append(Node(m_state, n).Text);
    }
    return names;
}

void MainForm::afterTreeEdit() {
    rebuildTree();
    emit treeChanged();
}

QString MainForm::storedPJLinkPassword(int projector) const {
    if (!m_state.PJLinkPassword || !IsPJLink(m_state.Projectors[projector]))
        return QString();
    return m_state.PJLinkPassword(projector);
}

void MainForm::storePJLinkPassword(int projector, const QString& password) {
    if (StorePJLinkPassword) {
        if (!StorePJLinkPassword(projector, password))
            m_messages.show(this, MessageKind::Warning,
                            QStringLiteral("The PJLink password could not be kept: it may hold "
                                           "no line break, and the passwords file must be "
                                           "writable."));
        return;
    }
    if (!password.isEmpty())
        m_messages.show(this, MessageKind::Warning,
                        QStringLiteral("The PJLink password could not be kept: no password "
                                       "store is available."));
}

void MainForm::addGroup() {
    const int parent = selectedNode();
    if (NodeKind(m_state, parent) != QLatin1Char('r'))
        return;
    m_state.GroupDialogMode = -1;
    auto* dialog = new AddGroupForm(m_messages, {true, QString(), groupNames(0)}, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        QString error;
        if (AddGroupNode(m_state, dialog->groupName(), &error) == 0)
            m_messages.show(this, MessageKind::Information, error);
        reportSave(m_store.SaveTree(m_state));
        afterTreeEdit();
    });
    dialog->open();
}

void MainForm::addProjector() {
    const int parent = selectedNode();
    const QChar kind = NodeKind(m_state, parent);
    if (kind != QLatin1Char('r') && kind != QLatin1Char('g'))
        return;
    if (refuseWhileAcquiring())
        return;
    // The tables are fixed; say so before the operator fills in the dialog.
    if (m_state.ProjectorCount >= MaxProjectors) {
        m_messages.show(
            this, MessageKind::Information,
            QStringLiteral("No more than %1 projectors can be registered.").arg(MaxProjectors));
        return;
    }
    if (NodeCount(m_state) >= MaxNodes) {
        m_messages.show(this, MessageKind::Information,
                        QStringLiteral("The tree cannot hold more than %1 entries.").arg(MaxNodes));
        return;
    }
    m_state.ProjectorDialogMode = -1;
    const QString parentKey = Node(m_state, parent).KeyName;
    auto* dialog = new AddPJForm(m_state, m_messages, true, {}, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog, parentKey] {
        pausePolling();
        ProjectorInfo config;
        ApplyDialogData(dialog->result(), config);
        QString error;
        const int added =
            AddProjectorNode(m_state, NodeIndexOfKey(m_state, parentKey), config, &error);
        if (added == 0)
            m_messages.show(this, MessageKind::Information, error);
        saveTreeAndProjectors();
        const int p = added == 0 ? 0 : ProjectorOfNode(m_state, added);
        if (p >= 1 && IsPJLink(config) && !dialog->pjlinkPassword().isEmpty())
            storePJLinkPassword(p, dialog->pjlinkPassword());
        resumePolling();
        m_engine.startMacAddressPass();
        afterTreeEdit();
    });
    dialog->open();
}

void MainForm::editNode() {
    const int node = selectedNode();
    const QChar kind = NodeKind(m_state, node);
    if (kind == QLatin1Char('g')) {
        m_state.GroupDialogMode = 0;
        const QString key = Node(m_state, node).KeyName;
        auto* dialog =
            new AddGroupForm(m_messages, {false, Node(m_state, node).Text, groupNames(node)}, this);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        connect(dialog, &QDialog::accepted, this, [this, dialog, key] {
            const int edited = NodeIndexOfKey(m_state, key);
            if (edited == 0)
                return;
            m_state.Nodes[edited - 1].Text = dialog->groupName();
            reportSave(m_store.SaveTree(m_state));
            afterTreeEdit();
        });
        dialog->open();
        return;
    }
    if (kind != QLatin1Char('p') || refuseWhileAcquiring())
        return;
    const int projector = ProjectorOfNode(m_state, node);
    if (projector < 1)
        return;
    m_state.ProjectorDialogMode = 0;
    const QString key = Node(m_state, node).KeyName;
    ProjectorDialogData initial = DialogDataOf(m_state.Projectors[projector]);
    initial.hasPassword = !storedPJLinkPassword(projector).isEmpty();
    auto* dialog = new AddPJForm(m_state, m_messages, false, initial, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog, key] {
        const int edited = NodeIndexOfKey(m_state, key);
        const int p = ProjectorOfNode(m_state, edited);
        if (p < 1)
            return;
        pausePolling();
        m_engine.projectorEdited(p);
        ProjectorInfo& record = m_state.Projectors[p];
        const ProjectorDialogData data = dialog->result();
        // Passwords are kept by address and port: the stored one leaves its
        // old place when the projector moves or no longer speaks PJLink, and
        // an unchanged one follows the projector to its new address.
        const QString kept = storedPJLinkPassword(p);
        const bool pjlink = data.protocol == ProtocolPJLink;
        const bool moved = record.IPAddress != data.ipAddress || record.PortNo != data.portNo;
        if (!kept.isEmpty() && (moved || !pjlink))
            storePJLinkPassword(p, QString());
        ApplyDialogData(data, record);
        m_state.Nodes[edited - 1].Text = record.ProjectorName;
        saveTreeAndProjectors();
        if (pjlink && dialog->pjlinkPasswordChanged())
            storePJLinkPassword(p, dialog->pjlinkPassword());
        else if (pjlink && moved && !kept.isEmpty())
            storePJLinkPassword(p, kept);
        resumePolling();
        m_engine.startMacAddressPass();
        afterTreeEdit();
    });
    dialog->open();
}

void MainForm::deleteNode() {
    const int node = selectedNode();
    const QChar kind = NodeKind(m_state, node);
    if (kind != QLatin1Char('p') && kind != QLatin1Char('g'))
        return;
    if (refuseWhileAcquiring())
        return;
    const QString question =
        kind == QLatin1Char('p')
            ? QStringLiteral("Are you sure you want to delete the selected projector?")
            : QStringLiteral("Are you sure you want to delete the selected group?");
    if (m_messages.show(this, MessageKind::Question, question) != MessageAnswer::Yes)
        return;

    pausePolling();
    m_engine.InitializeQueues();
    const QString parentKey = Node(m_state, node).ParentKey;
    if (kind == QLatin1Char('p'))
        DeleteProjectorNode(m_state, node);
    else
        DeleteGroupNode(m_state, node);
    saveTreeAndProjectors();
    resumePolling();
    // The deleted node's parent takes over the selection.
    {
        const QSignalBlocker blocker(m_tree);
        selectNode(NodeIndexOfKey(m_state, parentKey));
    }
    afterTreeEdit();
}

void MainForm::showRefreshForm() {
    auto* dialog = new RefreshForm(m_messages, m_state.Timing.StatusCheckInterval, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        m_engine.stopPolling();
        m_state.Timing.StatusCheckInterval = dialog->seconds();
        reportSave(m_store.writeSetting(QStringLiteral("StatusCheckInterval"), dialog->text()));
        m_state.LastStatusCheck = QDateTime();
        m_engine.startPolling(10);
    });
    dialog->open();
}
