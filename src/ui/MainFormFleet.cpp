#include "ui/MainForm.h"

#include "core/AppState.h"
#include "core/Fleet.h"
#include "core/Formatting.h"
#include "core/SettingsStore.h"
#include "ui/ElidedLabel.h"
#include "ui/StatusRows.h"

#include <QAction>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QSettings>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeWidget>

namespace {

constexpr int MarkRole = Qt::UserRole + 1;

} // namespace

void MainForm::buildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar"));
    // The permanent items are as wide as their longest texts whatever they
    // show, so they keep their places; the command result takes the rest.
    m_commandResult = new ElidedLabel(QStringLiteral("lblCommandResult"), QString(), bar);
    m_pollLabel =
        new ElidedLabel(QStringLiteral("lblPollProgress"), PollProgress::widestText(), bar);
    m_macLabel = new ElidedLabel(QStringLiteral("lblMacProgress"),
                                 QStringLiteral("Last MAC pass 88:88 PM: 888 known"), bar);
    m_scheduleLabel = new ElidedLabel(QStringLiteral("lblScheduleState"),
                                      QStringLiteral("Schedule stopped"), bar);
    m_scheduleLabel->setFullText(QStringLiteral("Schedule stopped"));
    // Whether the schedule runs is read at a glance, never guessed from "Sch…".
    m_scheduleLabel->setKeptWhole(true);
    m_problemsButton = new QToolButton(bar);
    m_problemsButton->setObjectName(QStringLiteral("cmdRecentProblems"));
    m_problemsButton->setAutoRaise(true);
    m_problemsButton->setText(QStringLiteral("Problems: 888"));
    m_problemsButton->setMinimumWidth(m_problemsButton->sizeHint().width());
    m_problemsButton->setText(QStringLiteral("Problems: 0"));
    m_problemsButton->setToolTip(
        QStringLiteral("Recent problems of commands (refusals, time-outs) and of the program "
                       "(mail, logs, saves, polling, the status endpoint)"));
    m_problemsButton->setEnabled(false);
    connect(m_problemsButton, &QToolButton::clicked, this, &MainForm::showProblems);
    bar->addWidget(m_commandResult, 1);
    bar->addPermanentWidget(m_macLabel);
    bar->addPermanentWidget(m_pollLabel);
    bar->addPermanentWidget(m_problemsButton);
    bar->addPermanentWidget(m_scheduleLabel);
}

bool MainForm::storedScheduleAutoStart() const {
    const QSettings settings(m_store.filePath(), QSettings::IniFormat);
    return settings.value(QStringLiteral("Setting/ScheduleAutoStart")).toString() ==
           QLatin1String("1");
}

void MainForm::setCommandResult(const QString& text) {
    m_commandResult->setFullText(text);
    updateProblemsButton();
}

void MainForm::healthChanged(HealthCondition condition, bool active, const QString& text) {
    QString& raised = m_raisedHealth[std::size_t(condition)];
    if (active) {
        raised = text;
        m_feedback.addProblem(text);
    } else {
        m_feedback.addProblem(text.isEmpty() ? QStringLiteral("Resolved: ") + raised : text);
        raised.clear();
    }
    updateProblemsButton();
}

void MainForm::updateProblemsButton() {
    const std::size_t count = m_feedback.problems().size();
    m_problemsButton->setText(QStringLiteral("Problems: %1").arg(count));
    m_problemsButton->setEnabled(count > 0);
}

void MainForm::showProblems() {
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("RecentProblems"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const auto& problems = m_feedback.problems();
    // Newest first.
    for (auto it = problems.rbegin(); it != problems.rend(); ++it)
        menu->addAction(FormatDateTime(m_state, it->time) + QStringLiteral("  ") + it->text);
    menu->popup(m_problemsButton->mapToGlobal(QPoint(0, 0)) - QPoint(0, menu->sizeHint().height()));
}

void MainForm::showFleet() {
    m_selectMessage[TabStatus]->setVisible(false);
    m_statusFleet.frame->setVisible(true);
    QTreeWidget* list = m_statusFleet.list;
    // Filling only reads the records: the overview queries nothing, so no
    // projector's commands in flight are dropped.
    list->setSortingEnabled(false);
    list->clear();
    m_fleetRows.clear();
    for (int node = 1; node <= NodeCount(m_state); ++node) {
        const int p = ProjectorOfNode(m_state, node);
        if (p < 1)
            continue;
        const QString parentKey = Node(m_state, node).ParentKey;
        const int parent = NodeIndexOfKey(m_state, parentKey);
        const QString group =
            NodeKind(m_state, parent) == QLatin1Char('g') ? Node(m_state, parent).Text : QString();
        auto* row = new StatusRow(list, p);
        FillStatusRow(*row, m_state, group);
        m_fleetRows.add(row);
    }
    list->setSortingEnabled(true);
    m_notedWidths.fill(0);
    fitFleetColumns();
    if (!searchText().isEmpty())
        applySearch();
}

bool MainForm::fleetShown() const {
    return m_tabs->currentIndex() == TabStatus &&
           NodeKind(m_state, selectedNode()) == QLatin1Char('r') &&
           m_statusFleet.frame->isVisibleTo(this);
}

QTreeWidget* MainForm::shownStatusList() const {
    if (shownGroup(TabStatus) != 0)
        return m_statusGroup.list;
    if (fleetShown())
        return m_statusFleet.list;
    return nullptr;
}

bool MainForm::refreshShownRow(int projector, std::optional<StatusItem> item) {
    StatusRow* row = shownRowOf(projector);
    if (!row)
        return false;
    const StatusColumns changed = RefreshStatusRow(*row, m_state, item);
    if (changed != 0 && row->treeWidget() == m_statusFleet.list)
        noteWiderTexts(*row, changed);
    return true;
}

StatusRow* MainForm::shownRowOf(int projector) const {
    if (shownGroup(TabStatus) != 0)
        return m_groupRows.find(projector);
    if (fleetShown())
        return m_fleetRows.find(projector);
    return nullptr;
}

void MainForm::noteWiderTexts(const StatusRow& row, StatusColumns changed) {
    QTreeWidget* list = m_statusFleet.list;
    const QFontMetrics metrics = list->fontMetrics();
    // The item view's margins around a cell's text.
    const int margins =
        2 * (list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1);
    for (int c = 0; c < ListColumnCount; ++c) {
        if ((changed & (StatusColumns(1) << c)) == 0)
            continue;
        const int need = metrics.horizontalAdvance(row.text(c)) + margins;
        int& noted = m_notedWidths[std::size_t(c)];
        if (need <= noted || need <= list->header()->sectionSize(c))
            continue;
        noted = need;
        m_fitPending |= StatusColumns(1) << c;
    }
    if (m_fitPending != 0 && !m_fitColumns.isActive())
        m_fitColumns.start();
}

QTreeWidgetItem* MainForm::treeItemOfNode(int nodeIndex) const {
    if (nodeIndex < 1 || nodeIndex > NodeCount(m_state))
        return nullptr;
    return m_treeItems.value(Node(m_state, nodeIndex).KeyName);
}

void MainForm::setNodeMark(QTreeWidgetItem* item, IconKind kind, FleetState state,
                           const QString& tip) {
    item->setToolTip(0, tip);
    const QVariant shown = item->data(0, MarkRole);
    if (shown.isValid() && shown.toInt() == int(state))
        return;
    item->setData(0, MarkRole, int(state));
    const int key = int(kind) * 64 + int(state);
    auto icon = m_markIcons.constFind(key);
    if (icon == m_markIcons.constEnd())
        icon = m_markIcons.insert(key, MarkedIcon(kind, state));
    item->setIcon(0, *icon);
}

void MainForm::updateTreeMarks(int projector) {
    if (projector < 1 || projector > MaxProjectors)
        return;
    if (m_marksNumbering != m_state.ProjectorNumbering) {
        updateAllTreeMarks();
        return;
    }
    const TreeMark& mark = m_treeMarks[std::size_t(projector)];
    if (!mark.item)
        return;
    const ProjectorInfo& info = m_state.Projectors[projector];
    const FleetState state = StateOf(info);
    // The tree elides long names; the tip gives the whole name and state.
    setNodeMark(mark.item, IconKind::Projector, state, StateToolTip(info));
    if (!mark.groupItem || !m_groupStates.set(projector, mark.groupNode, state))
        return;
    const FleetState worst = m_groupStates.worst(mark.groupNode);
    setNodeMark(mark.groupItem, IconKind::Group, worst,
                QStringLiteral("%1: %2 (%3 of %4 projectors)")
                    .arg(Node(m_state, mark.groupNode).Text, StateText(worst))
                    .arg(m_groupStates.count(mark.groupNode, worst))
                    .arg(m_groupStates.members(mark.groupNode)));
}

void MainForm::updateAllTreeMarks() {
    m_groupStates.clear();
    m_treeMarks.fill(TreeMark{});
    m_marksNumbering = m_state.ProjectorNumbering;
    QHash<QString, int> nodeOfKey;
    for (int node = 1; node <= NodeCount(m_state); ++node)
        nodeOfKey.insert(Node(m_state, node).KeyName, node);
    for (int node = 1; node <= NodeCount(m_state); ++node) {
        const int p = ProjectorOfNode(m_state, node);
        if (p < 1 || p > MaxProjectors)
            continue;
        TreeMark& mark = m_treeMarks[std::size_t(p)];
        mark.item = treeItemOfNode(node);
        const int parent = nodeOfKey.value(Node(m_state, node).ParentKey);
        if (NodeKind(m_state, parent) == QLatin1Char('g')) {
            mark.groupItem = treeItemOfNode(parent);
            mark.groupNode = parent;
        }
    }
    for (int p = 1; p <= MaxProjectors; ++p)
        if (m_treeMarks[std::size_t(p)].item)
            updateTreeMarks(p);
}

void MainForm::commandFinished(int projector, const QByteArray& /*frame*/, CommandOutcome outcome) {
    if (projector < 1 || projector > MaxProjectors)
        return;
    m_feedback.finished(projector, outcome);
    m_poll.finished(projector, outcome);
    updateTreeMarks(projector);
    refreshShownRow(projector);
    // A state the search finds may have come or gone.
    if (!searchText().isEmpty() && !m_searchRefresh.isActive())
        m_searchRefresh.start();
    // What a PJLink projector tells of itself comes with no status item.
    refreshPJLinkViews(projector);
}

void MainForm::queueDropped(int projector) {
    m_feedback.dropped(projector);
    m_poll.dropped(projector);
}

void MainForm::pollingPassStarted(int projectorCount) {
    m_poll.passStarted(projectorCount);
}

// Until the power-on is answered, which reports as any command does.
void MainForm::wakingByLan(int projector) {
    if (projector >= 1 && projector <= MaxProjectors)
        setCommandResult(
            QStringLiteral("Waking %1 by LAN...").arg(m_state.Projectors[projector].ProjectorName));
}

void MainForm::macPassProgress(int done, int total) {
    if (done < total) {
        m_macLabel->setFullText(QStringLiteral("MAC pass: %1 of %2 done").arg(done).arg(total));
        return;
    }
    int known = 0;
    for (int p = 1; p <= std::min<int>(m_state.ProjectorCount, MaxProjectors); ++p)
        known += m_state.Projectors[p].MACAddress.isEmpty() ? 0 : 1;
    m_macLabel->setFullText(QStringLiteral("Last MAC pass %1: %2 known")
                                .arg(FormatShortTime(m_state, m_state.clock.now().time()))
                                .arg(known));
}
