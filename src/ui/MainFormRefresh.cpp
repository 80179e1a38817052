#include "ui/MainForm.h"

#include "comm/StatusDisplay.h"
#include "core/AppState.h"
#include "core/Fleet.h"
#include "ui/MessageService.h"
#include "ui/StatusRows.h"
#include "ui/StatusTexts.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>

#include <functional>
#include <memory>
#include <utility>

namespace {

bool IsPictureItem(StatusItem item) {
    return item == StatusItem::Brightness || item == StatusItem::Contrast ||
           item == StatusItem::Color || item == StatusItem::Tint || item == StatusItem::Sharpness;
}

// Calls act for every change of the drop-down's entry, by the operator or by
// code, and when the operator picks the entry already shown; a pick that
// changes the entry acts once. act checks ControlsUpdating and says whether
// it sent anything.
void OnEntryChosen(QComboBox* combo, QObject* context, const std::function<bool(int)>& act) {
    auto justChanged = std::make_shared<bool>(false);
    QObject::connect(combo, &QComboBox::currentIndexChanged, context,
                     [combo, justChanged, act](int index) {
                         if (!act(index))
                             return;
                         // The pick's own "activated" follows at once.
                         *justChanged = true;
                         QTimer::singleShot(0, combo, [justChanged] { *justChanged = false; });
                     });
    QObject::connect(combo, &QComboBox::activated, context, [justChanged, act](int index) {
        if (!std::exchange(*justChanged, false))
            act(index);
    });
}

// Holds AppState::FlushPendingNode on the node while the power question is
// open: the endpoint still serves, and a command it queued meanwhile would
// be cancelled by the flush after "Yes".
class FlushPending {
  public:
    FlushPending(AppState& state, int node) : m_state(state) {
        m_state.FlushPendingNode = qint16(node);
    }
    ~FlushPending() { m_state.FlushPendingNode = -1; }
    FlushPending(const FlushPending&) = delete;
    FlushPending& operator=(const FlushPending&) = delete;

  private:
    AppState& m_state;
};

} // namespace

void MainForm::connectControls() {
    const ControlProjectorPanel& panel = m_controlProjector;
    // While the program itself sets the drop-downs nothing is sent.
    // The operator's caption of a pick is the item and the entry chosen.
    auto onPick = [this](QComboBox* combo, const QString& item, auto action) {
        OnEntryChosen(combo, this, [this, combo, item, action](int index) {
            const int p = controlProjector();
            if (m_state.ControlsUpdating || p < 1 || index < 0)
                return false;
            const FeedbackScope feedback(m_feedback, m_state.Projectors[p].ProjectorName,
                                         item + QLatin1Char(' ') + combo->itemText(index), false);
            action(p, index);
            return true;
        });
    };
    onPick(panel.power, QStringLiteral("Power"),
           [this](int p, int i) { m_controls.setPower(p, i == 1); });
    onPick(panel.inputSource, QStringLiteral("Input"), [this](int p, int i) {
        // A PJLink entry holds its input's code; its shown name may change.
        if (IsPJLink(m_state.Projectors[p]))
            m_controls.setPJLinkInput(p, m_controlProjector.inputSource->itemData(i).toString());
        else
            m_controls.setInput(p, m_controlProjector.inputSource->itemText(i));
    });
    onPick(panel.aspect, QStringLiteral("Aspect"), [this](int p, int i) {
        m_controls.setAspect(p, m_controlProjector.aspect->itemText(i));
    });
    onPick(panel.blank, QStringLiteral("Blank"),
           [this](int p, int i) { m_controls.setBlank(p, i == 1); });
    onPick(panel.mute, QStringLiteral("Mute"),
           [this](int p, int i) { m_controls.setMute(p, i == 1); });
    onPick(panel.whisper, QStringLiteral("Whisper"),
           [this](int p, int i) { m_controls.setWhisper(p, i == 1); });
    onPick(panel.mirror, QStringLiteral("Mirror"),
           [this](int p, int i) { m_controls.setMirror(p, i); });
    onPick(panel.freeze, QStringLiteral("Freeze"),
           [this](int p, int i) { m_controls.setFreeze(p, i == 1); });
    // One operator action on one projector, followed in the status bar.
    auto act = [this](const QString& caption, const std::function<void(int)>& action) {
        const int p = controlProjector();
        if (p < 1)
            return;
        const FeedbackScope feedback(m_feedback, m_state.Projectors[p].ProjectorName, caption,
                                     false);
        action(p);
    };
    const std::array<const char*, 5> pictureNames = {"Brightness", "Contrast", "Color", "Tint",
                                                     "Sharpness"};

    for (int i = 0; i < int(panel.picture.size()); ++i) {
        const auto item = PictureItem(i);
        const QString name = QString::fromLatin1(pictureNames[std::size_t(i)]);
        connect(panel.picture[i].increment, &QPushButton::clicked, this, [this, act, item, name] {
            act(name + QStringLiteral(" +"),
                [this, item](int p) { m_controls.stepPicture(p, item, true); });
        });
        connect(panel.picture[i].decrement, &QPushButton::clicked, this, [this, act, item, name] {
            act(name + QStringLiteral(" -"),
                [this, item](int p) { m_controls.stepPicture(p, item, false); });
        });
    }
    connect(panel.autoAdjust, &QPushButton::clicked, this, [this, act] {
        act(QStringLiteral("Auto Adjust"), [this](int p) { m_controls.autoAdjust(p); });
    });
    connect(panel.lampTimeReset, &QPushButton::clicked, this, [this, act] {
        if (controlProjector() > 0 &&
            m_messages.show(this, MessageKind::Question,
                            QStringLiteral("Are you sure that you want to reset the "
                                           "lamp time?")) == MessageAnswer::Yes)
            act(QStringLiteral("Lamp Time Reset"), [this](int p) { m_controls.resetLampTime(p); });
    });
    connect(panel.filterTimeReset, &QPushButton::clicked, this, [this, act] {
        if (controlProjector() > 0 &&
            m_messages.show(this, MessageKind::Question,
                            QStringLiteral("Are you sure that you want to reset the "
                                           "filter time?")) == MessageAnswer::Yes)
            act(QStringLiteral("Filter Time Reset"),
                [this](int p) { m_controls.resetFilterTime(p); });
    });

    OnEntryChosen(m_controlGroup.power, this, [this](int index) {
        const int group = shownGroup(TabControl);
        if (m_state.ControlsUpdating || group == 0 || index < 0)
            return false;
        const FeedbackScope feedback(
            m_feedback, Node(m_state, group).Text,
            QStringLiteral("Power ") + m_controlGroup.power->itemText(index), true);
        m_controls.groupPower(group, index == 1);
        return true;
    });
}

int MainForm::shownProjector(int tab) const {
    if (m_tabs->currentIndex() != tab)
        return 0;
    const int node = selectedNode();
    if (NodeKind(m_state, node) != QLatin1Char('p'))
        return 0;
    return qMax(0, int(ProjectorOfNode(m_state, node)));
}

int MainForm::shownGroup(int tab) const {
    if (m_tabs->currentIndex() != tab)
        return 0;
    const int node = selectedNode();
    return NodeKind(m_state, node) == QLatin1Char('g') ? node : 0;
}

int MainForm::controlProjector() const {
    return shownProjector(TabControl);
}

QString MainForm::powerQuestion(bool on) const {
    const int node = selectedNode();
    const QString verb = on ? QStringLiteral("Turn on") : QStringLiteral("Turn off");
    if (NodeKind(m_state, node) != QLatin1Char('g'))
        return QStringLiteral("%1 the projector %2?").arg(verb, Node(m_state, node).Text);
    const std::size_t count = GroupMembers(m_state, node).size();
    if (count == 1)
        return QStringLiteral("%1 the projector of %2?").arg(verb, Node(m_state, node).Text);
    return QStringLiteral("%1 the %2 projectors of %3?")
        .arg(verb)
        .arg(count)
        .arg(Node(m_state, node).Text);
}

void MainForm::powerOnSelection() {
    const FlushPending pending(m_state, selectedNode());
    if (m_messages.show(this, MessageKind::Question, powerQuestion(true)) == MessageAnswer::Yes) {
        const int node = selectedNode();
        const FeedbackScope feedback(m_feedback, Node(m_state, node).Text,
                                     QStringLiteral("Power ON"),
                                     NodeKind(m_state, node) == QLatin1Char('g'));
        m_controls.powerSelection(node, true);
    }
}

void MainForm::powerOffSelection() {
    const FlushPending pending(m_state, selectedNode());
    if (m_messages.show(this, MessageKind::Question, powerQuestion(false)) == MessageAnswer::Yes) {
        const int node = selectedNode();
        const FeedbackScope feedback(m_feedback, Node(m_state, node).Text,
                                     QStringLiteral("Power OFF"),
                                     NodeKind(m_state, node) == QLatin1Char('g'));
        m_controls.powerSelection(node, false);
    }
}

void MainForm::refreshSelection() {
    const int node = selectedNode();
    if (node < 1)
        return;
    const FeedbackScope feedback(m_feedback, Node(m_state, node).Text, QStringLiteral("Refresh"),
                                 NodeKind(m_state, node) == QLatin1Char('g'));
    m_controls.refreshSelection(node);
}

void MainForm::statusChanged(int projector, StatusItem item) {
    if (projector < 1 || projector > MaxProjectors)
        return;
    updateTreeMarks(projector);
    refreshPJLinkViews(projector);
    if (refreshShownRow(projector, item))
        return;
    if (shownProjector(TabStatus) == projector) {
        fillProjectorStatusLabels(projector);
        return;
    }
    if (shownProjector(TabControl) != projector)
        return;
    if (!IsPictureItem(item)) {
        setDropDown(projector, item);
        return;
    }
    const ProjectorInfo& info = m_state.Projectors[projector];
    const std::array<std::pair<StatusItem, qint16>, 5> values = {{
        {StatusItem::Brightness, info.Brightness},
        {StatusItem::Contrast, info.Contrast},
        {StatusItem::Color, info.Color},
        {StatusItem::Tint, info.Tint},
        {StatusItem::Sharpness, info.Sharpness},
    }};
    for (int i = 0; i < 5; ++i) {
        if (values[i].first == item)
            m_controlProjector.picture[i].value->setText(PictureDisplayText(
                values[i].second,
                item == StatusItem::Sharpness ? SharpnessValueOffset : PictureValueOffset));
    }
}

void MainForm::restoreDropDown(int projector, StatusItem item) {
    if (projector >= 1 && shownProjector(TabControl) == projector)
        setDropDown(projector, item);
}

void MainForm::reachabilityChanged(int projector) {
    if (projector < 1 || projector > MaxProjectors)
        return;
    updateTreeMarks(projector);
    // Only the projector's own row or labels are redrawn from its record: a
    // re-query here would flush every shown queue on every failed ping.
    if (!refreshShownRow(projector) && shownProjector(TabStatus) == projector)
        fillProjectorStatusLabels(projector);
    if (!searchText().isEmpty() && !m_searchRefresh.isActive())
        m_searchRefresh.start();
}

void MainForm::setDropDown(int projector, StatusItem item) {
    const std::array<std::pair<StatusItem, QComboBox*>, 7> combos = {{
        {StatusItem::Power, m_controlProjector.power},
        {StatusItem::Input, m_controlProjector.inputSource},
        {StatusItem::Aspect, m_controlProjector.aspect},
        {StatusItem::Whisper, m_controlProjector.whisper},
        {StatusItem::Blank, m_controlProjector.blank},
        {StatusItem::Mute, m_controlProjector.mute},
        {StatusItem::Mirror, m_controlProjector.mirror},
    }};
    const ProjectorInfo& info = m_state.Projectors[projector];
    for (const auto& [kind, combo] : combos) {
        if (kind != item)
            continue;
        const int entry = item == StatusItem::Input && IsPJLink(info)
                              ? combo->findData(info.PJLink.InputCode)
                              : DropDownIndex(m_state, projector, item);
        const bool wasUpdating = m_state.ControlsUpdating;
        m_state.ControlsUpdating = true;
        combo->setCurrentIndex(entry < combo->count() ? entry : -1);
        m_state.ControlsUpdating = wasUpdating;
    }
}

void MainForm::setFreezeDropDown(int projector) {
    const qint16 freeze = m_state.Projectors[projector].PJLink.FreezeStatus;
    const bool wasUpdating = m_state.ControlsUpdating;
    m_state.ControlsUpdating = true;
    m_controlProjector.freeze->setCurrentIndex(freeze == 0 || freeze == 1 ? int(freeze) : -1);
    m_state.ControlsUpdating = wasUpdating;
}

void MainForm::refreshPJLinkViews(int projector) {
    const ProjectorInfo& info = m_state.Projectors[projector];
    if (!IsPJLink(info))
        return;
    if (shownProjector(TabStatus) == projector) {
        m_statusProjector.info.fill(info);
        fillProjectorStatusLabels(projector);
    }
    if (shownProjector(TabSchedule) == projector)
        m_scheduleProjector.info.fill(info);
    if (shownProjector(TabControl) != projector)
        return;
    m_controlProjector.info.fill(info);
    m_controlProjector.showRowsFor(info);
    fillPJLinkInputs(projector);
    setFreezeDropDown(projector);
}
