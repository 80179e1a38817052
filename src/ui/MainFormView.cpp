#include "ui/MainForm.h"

#include "comm/StatusDisplay.h"
#include "core/AppState.h"
#include "core/Fleet.h"
#include "core/ModelFile.h"
#include "ui/FirstStartGuide.h"
#include "ui/HistoryPanel.h"
#include "ui/StatusRows.h"
#include "ui/StatusTexts.h"

#include <QAction>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QTabWidget>
#include <QTreeWidget>

namespace {

// Keeps ControlsUpdating set while code fills the drop-downs, so that their
// handlers send nothing.
class ControlsUpdatingScope {
  public:
    explicit ControlsUpdatingScope(AppState& state) : m_state(state) {
        m_state.ControlsUpdating = true;
    }
    ~ControlsUpdatingScope() { m_state.ControlsUpdating = false; }
    ControlsUpdatingScope(const ControlsUpdatingScope&) = delete;
    ControlsUpdatingScope& operator=(const ControlsUpdatingScope&) = delete;

  private:
    AppState& m_state;
};

} // namespace

void MainForm::hideAllPanels() {
    for (QFrame* frame :
         {m_statusGroup.frame, m_statusProjector.frame, m_statusFleet.frame,
          static_cast<QFrame*>(m_firstStart), m_controlGroup.frame, m_controlProjector.frame,
          m_scheduleGroup.frame, m_scheduleProjector.frame, m_frameSchedule})
        frame->setVisible(false);
}

void MainForm::rebuildView() {
    const int node = selectedNode();
    const int tab = m_tabs->currentIndex();
    if (tab == TabHistory) {
        // The scope first, so that the tab reads the file once.
        showHistory(node);
        m_history->setActive(true);
        const QChar kind = node == 0 ? QChar() : NodeKind(m_state, node);
        const int count = kind == QLatin1Char('g') ? int(GroupMembers(m_state, node).size()) : 0;
        setCommandAvailability(availabilityFor(kind, count, tab));
        return;
    }
    m_history->setActive(false);
    if (node == 0) {
        // Nothing to act on yet: only the schedule can be started or stopped.
        setCommandAvailability(availabilityFor(QChar(), 0, tab));
        return;
    }
    const QChar kind = NodeKind(m_state, node);
    int projectorCount = 0;
    // A fleet without projectors shows what to do first instead of an
    // empty overview.
    const bool firstStart = m_state.ProjectorCount == 0 && kind == QLatin1Char('r');
    m_firstStart->setVisible(false);
    if (kind == QLatin1Char('r')) {
        for (QLabel* message : m_selectMessage)
            message->setVisible(true);
        hideAllPanels();
        if (tab == TabStatus && !firstStart)
            showFleet();
        m_firstStart->setVisible(firstStart);
        m_selectMessage[TabStatus]->setVisible(!firstStart && tab != TabStatus);
    } else if (kind == QLatin1Char('g')) {
        projectorCount = int(GroupMembers(m_state, node).size());
        showGroup(node, tab);
    } else if (kind == QLatin1Char('p')) {
        showProjector(node, tab);
    }
    setCommandAvailability(availabilityFor(kind, projectorCount, tab));
    if (tab == TabSchedule && (kind == QLatin1Char('g') || kind == QLatin1Char('p')))
        emit scheduleNodeShown(node);
    // The texts just filled in may need more room than the window has.
    updateMinimumSize();
}

void MainForm::showHistory(int node) {
    HistoryScope scope;
    const QChar kind = node == 0 ? QChar() : NodeKind(m_state, node);
    if (kind == QLatin1Char('g')) {
        scope.everything = false;
        for (int member : GroupMembers(m_state, node))
            if (const int p = ProjectorOfNode(m_state, member); p >= 1)
                scope.projectorIds << m_state.Projectors[p].ProjectorId;
    } else if (kind == QLatin1Char('p')) {
        scope.everything = false;
        if (const int p = ProjectorOfNode(m_state, node); p >= 1) {
            const QString& id = m_state.Projectors[p].ProjectorId;
            if (!id.isEmpty())
                scope.projectorIds << id;
            scope.chartProjectorId = id;
            scope.lampThreshold = m_state.Mail.LampAlarmTime;
            scope.filterThreshold = m_state.Mail.FilterAlarmTime;
        }
    }
    scope.projectorIds.removeAll(QString());
    m_history->setScope(scope);
}

void MainForm::showGroup(int groupNode, int tab) {
    const int count = int(GroupMembers(m_state, groupNode).size());
    const bool any = count > 0;
    const QString name = Node(m_state, groupNode).Text;
    m_selectMessage[tab]->setVisible(!any);
    switch (tab) {
    case TabStatus:
        m_statusProjector.frame->setVisible(false);
        m_statusFleet.frame->setVisible(false);
        m_statusGroup.frame->setVisible(any);
        m_statusGroup.info.fill(name, count);
        if (any)
            fillGroupStatusList(groupNode);
        break;
    case TabControl:
        m_controlProjector.frame->setVisible(false);
        m_controlGroup.frame->setVisible(any);
        m_controlGroup.info.fill(name, count);
        if (any) {
            const ControlsUpdatingScope updating(m_state);
            m_controlGroup.power->setCurrentIndex(0);
        }
        break;
    case TabSchedule:
        m_scheduleProjector.frame->setVisible(false);
        m_scheduleGroup.frame->setVisible(any);
        m_frameSchedule->setVisible(any);
        m_scheduleGroup.info.fill(name, count);
        break;
    }
}

void MainForm::showProjector(int projectorNode, int tab) {
    const int p = ProjectorOfNode(m_state, projectorNode);
    m_selectMessage[tab]->setVisible(false);
    if (p < 1)
        return;
    const ProjectorInfo& projector = m_state.Projectors[p];
    switch (tab) {
    case TabStatus:
        m_statusGroup.frame->setVisible(false);
        m_statusFleet.frame->setVisible(false);
        m_statusProjector.frame->setVisible(true);
        m_statusProjector.info.fill(projector);
        showProjectorStatus(p);
        break;
    case TabControl:
        m_controlGroup.frame->setVisible(false);
        m_controlProjector.frame->setVisible(true);
        m_controlProjector.info.fill(projector);
        fillModelDropDowns(p);
        showProjectorControls(p);
        break;
    case TabSchedule:
        m_scheduleGroup.frame->setVisible(false);
        m_scheduleProjector.frame->setVisible(true);
        m_frameSchedule->setVisible(true);
        m_scheduleProjector.info.fill(projector);
        break;
    }
}

std::array<bool, MainForm::CommandCount> MainForm::availabilityFor(QChar kind, int projectorCount,
                                                                   int tab) const {
    std::array<bool, CommandCount> on{};
    const bool stopped = !m_scheduleRunning;
    on[CmdScheduleStart] = stopped;
    on[CmdScheduleStop] = !stopped;
    if (kind == QLatin1Char('r')) {
        on[CmdAdd] = on[CmdAddGroup] = on[CmdAddProjector] = stopped;
    } else if (kind == QLatin1Char('g')) {
        on[CmdAdd] = on[CmdAddProjector] = on[CmdDelete] = on[CmdEdit] = stopped;
        if (projectorCount > 0) {
            on[CmdRefresh] = tab == TabStatus;
            on[CmdPowerOn] = on[CmdPowerOff] = true;
        }
    } else if (kind == QLatin1Char('p')) {
        on[CmdDelete] = on[CmdEdit] = stopped;
        on[CmdRefresh] = tab == TabStatus;
        on[CmdPowerOn] = on[CmdPowerOff] = true;
    }
    return on;
}

void MainForm::setCommandAvailability(const std::array<bool, CommandCount>& flags) {
    for (int c = 0; c < CommandCount; ++c) {
        m_menuActions[c]->setEnabled(flags[c]);
        if (c < int(m_popupActions.size()))
            m_popupActions[c]->setEnabled(flags[c]);
        if (m_toolActions[c])
            m_toolActions[c]->setEnabled(flags[c]);
    }
}

void MainForm::fillGroupStatusList(int groupNode) {
    QTreeWidget* list = m_statusGroup.list;
    list->clear();
    m_groupRows.clear();
    const std::vector<int> members = GroupMembers(m_state, groupNode);
    for (int member : members) {
        const int p = ProjectorOfNode(m_state, member);
        if (p < 1)
            continue;
        auto* row = new StatusRow(list, p);
        FillStatusRow(*row, m_state, QString());
        m_groupRows.add(row);
    }
    for (int member : members)
        m_controls.refreshSelection(member);
}

void MainForm::showProjectorStatus(int projector) {
    fillProjectorStatusLabels(projector);
    m_controls.refreshSelection(NodeOfProjector(m_state, projector));
}

void MainForm::fillProjectorStatusLabels(int projector) {
    m_statusProjector.fill(m_state, projector);
}

void MainForm::fillPJLinkInputs(int projector) {
    const ProjectorInfo& info = m_state.Projectors[projector];
    QComboBox* combo = m_controlProjector.inputSource;
    QStringList texts;
    for (const QString& code : info.PJLink.Inputs)
        texts << PJLinkInputEntryText(info, code);
    QStringList shown;
    for (int i = 0; i < combo->count(); ++i)
        shown << combo->itemText(i);
    if (shown == texts)
        return;
    const ControlsUpdatingScope updating(m_state);
    combo->clear();
    for (int i = 0; i < texts.size(); ++i)
        combo->addItem(texts[i], info.PJLink.Inputs[i]);
    setDropDown(projector, StatusItem::Input);
}

void MainForm::fillModelDropDowns(int projector) {
    const ControlsUpdatingScope updating(m_state);
    m_controlProjector.inputSource->clear();
    m_controlProjector.aspect->clear();
    if (IsPJLink(m_state.Projectors[projector]))
        return fillPJLinkInputs(projector);
    const ModelInfo* model = FindModel(m_state, m_state.Projectors[projector].ModelName);
    if (!model)
        return;
    for (int i = 1; i <= qMin<int>(model->InputNum, MaxModelEntries); ++i)
        m_controlProjector.inputSource->addItem(GetField(QStringLiteral(";"), model->Input[i], 2));
    for (int i = 1; i <= qMin<int>(model->AspectNum, MaxModelEntries); ++i)
        m_controlProjector.aspect->addItem(GetField(QStringLiteral(";"), model->Aspect[i], 2));
}

void MainForm::showProjectorControls(int projector) {
    const ProjectorInfo& info = m_state.Projectors[projector];
    m_controlProjector.showRowsFor(info);
    // A PJLink projector needs no model: what it has, it reports.
    if (info.ModelName.isEmpty() && !IsPJLink(info))
        return;
    {
        const ControlsUpdatingScope updating(m_state);
        for (StatusItem item :
             {StatusItem::Power, StatusItem::Input, StatusItem::Aspect, StatusItem::Whisper,
              StatusItem::Blank, StatusItem::Mute, StatusItem::Mirror})
            setDropDown(projector, item);
        setFreezeDropDown(projector);
        const std::array<std::pair<qint16, int>, 5> values = {{
            {info.Brightness, PictureValueOffset},
            {info.Contrast, PictureValueOffset},
            {info.Color, PictureValueOffset},
            {info.Tint, PictureValueOffset},
            {info.Sharpness, SharpnessValueOffset},
        }};
        for (int i = 0; i < 5; ++i) {
            const auto [raw, offset] = values[i];
            m_controlProjector.picture[i].value->setText(
                raw == 0 ? QString() : PictureDisplayText(raw, offset));
        }
    }
    m_controls.requeryControls(projector);
}
