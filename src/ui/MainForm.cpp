#include "ui/MainForm.h"

#include "comm/CommEngine.h"
#include "core/AppState.h"
#include "core/Formatting.h"
#include "core/SettingsStore.h"
#include "ui/AboutForm.h"
#include "ui/ElidedLabel.h"
#include "ui/FirstStartGuide.h"
#include "ui/HelpLinks.h"
#include "ui/HistoryPanel.h"
#include "ui/Icons.h"
#include "ui/MessageService.h"
#include "ui/ProjectorTreeWidget.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>
#include <QSplitter>
#include <QTabWidget>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

using namespace std::chrono_literals;

namespace {

constexpr int TreeMinimumWidth = 120;

QAction* NamedAction(const QString& name, const QString& text, QObject* parent) {
    auto* action = new QAction(text, parent);
    action->setObjectName(name);
    return action;
}

} // namespace

MainForm::MainForm(AppState& state, const SettingsStore& store, CommEngine& engine,
                   MessageService& messages, QWidget* parent)
    : QMainWindow(parent), m_state(state), m_store(store), m_engine(engine), m_messages(messages),
      m_controls(state, engine), m_feedback(state), m_poll(state) {
    m_engine.addObserver(&m_activity);
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Lumora Application"));
    setWindowIcon(ProgramIcon(IconKind::Projector));
    setMinimumSize(MinimumWindowSize);

    buildActions();
    buildMenus();
    buildToolBar();
    buildCentralArea();
    buildStatusBar();
    connectControls();
    m_controls.setFeedback(&m_feedback);
    m_feedback.setReporter([this](const QString& line) { setCommandResult(line); });
    m_poll.setReporter([this](const QString& text) { m_pollLabel->setFullText(text); });
    connect(&m_state.Health, &HealthReport::changed, this, &MainForm::healthChanged);
    // Conditions raised before the window existed (a start-up check) are
    // listed too.
    for (int c = 0; c < int(HealthCondition::Count); ++c) {
        const HealthReport::Entry& entry = m_state.Health.entry(HealthCondition(c));
        if (entry.active)
            healthChanged(HealthCondition(c), true, entry.text);
    }
    updateMinimumSize();
    // Never larger than the screen the window opens on.
    resize(DefaultWindowSize.boundedTo(screenRoom()).expandedTo(minimumSize()));
    // Laid out first at a smaller size, the splitter took the tree's share.
    m_splitter->setSizes({TreeWidth, width() - TreeWidth});
    restoreWindowLayout();

    m_clockTimer.setInterval(10ms);
    m_clockTimer.setSingleShot(true);
    connect(&m_clockTimer, &QTimer::timeout, this, &MainForm::clockTick);
    m_clockTimer.start();
    m_initialisationTimer.setInterval(10ms);
    m_initialisationTimer.setSingleShot(true);
    connect(&m_initialisationTimer, &QTimer::timeout, this, &MainForm::initialisationTick);
    m_initialisationTimer.start();
    clockTick();
    rebuildView();
}

MainForm::~MainForm() {
    m_engine.removeObserver(&m_activity);
    // A change of the layout still waiting for its save is kept.
    if (m_layoutSave.isActive())
        saveWindowLayout();
}

void MainForm::buildActions() {
    struct Spec {
        Command command;
        const char* name;
        const char* text;
        void (MainForm::*slot)();
    };
    const std::array<Spec, CommandCount> menu = {{
        {CmdAdd, "menuAdd", "&Add", nullptr},
        {CmdAddGroup, "menuAddGroup", "&Group...", &MainForm::addGroup},
        {CmdAddProjector, "menuAddProjector", "&Projector...", &MainForm::addProjector},
        {CmdDelete, "menuDelete", "&Delete", &MainForm::deleteNode},
        {CmdEdit, "menuEdit", "&Edit...", &MainForm::editNode},
        {CmdRefresh, "menuRefresh", "&Refresh", &MainForm::refreshSelection},
        {CmdPowerOn, "menuPowerON", "&Power ON", &MainForm::powerOnSelection},
        {CmdPowerOff, "menuPowerOFF", "P&ower OFF", &MainForm::powerOffSelection},
        {CmdScheduleStart, "menuScheduleStart", "&Start", nullptr},
        {CmdScheduleStop, "menuScheduleStop", "S&top", nullptr},
    }};
    const std::array<const char*, CmdPowerOff + 1> popupTexts = {
        "&Add",     "&Group...", "&Projector...", "&Delete",
        "&Edit...", "&Refresh",  "Power O&N",     "Power OF&F"};
    const std::array<const char*, CommandCount> toolTips = {
        nullptr,   "Add Group", "Add Projector", "Delete",         "Edit",
        "Refresh", "Power ON",  "Power OFF",     "Schedule Start", "Schedule Stop"};
    const std::array<QIcon, CommandCount> icons = {QIcon(),
                                                   AddIcon(IconKind::Group),
                                                   AddIcon(IconKind::Projector),
                                                   ProgramIcon(IconKind::Delete),
                                                   ProgramIcon(IconKind::Edit),
                                                   ProgramIcon(IconKind::Refresh),
                                                   ProgramIcon(IconKind::PowerOn),
                                                   ProgramIcon(IconKind::PowerOff),
                                                   ProgramIcon(IconKind::ScheduleStart),
                                                   ProgramIcon(IconKind::ScheduleStop)};

    for (const Spec& spec : menu) {
        // "Add" is the entry of a sub-menu, made with the menus.
        if (spec.command == CmdAdd)
            continue;
        const QString name = QString::fromLatin1(spec.name);
        const QString text = QString::fromLatin1(spec.text);
        QAction* action = NamedAction(name, text, this);
        m_menuActions[spec.command] = action;
        if (spec.command <= CmdPowerOff) {
            m_popupActions[spec.command] =
                NamedAction(QStringLiteral("popup") + name.mid(4),
                            QString::fromLatin1(popupTexts[spec.command]), this);
        }
        if (toolTips[spec.command]) {
            QAction* tool = NamedAction(QStringLiteral("tb") + name.mid(4),
                                        QString::fromLatin1(toolTips[spec.command]), this);
            tool->setToolTip(QString::fromLatin1(toolTips[spec.command]));
            tool->setIcon(icons[spec.command]);
            m_toolActions[spec.command] = tool;
        }
        if (spec.slot) {
            for (QAction* twin :
                 {action, m_popupActions[spec.command], m_toolActions[spec.command]})
                if (twin)
                    connect(twin, &QAction::triggered, this, spec.slot);
        }
    }
    for (QAction* start : {m_menuActions[CmdScheduleStart], m_toolActions[CmdScheduleStart]})
        connect(start, &QAction::triggered, this, &MainForm::scheduleStartRequested);
    for (QAction* stop : {m_menuActions[CmdScheduleStop], m_toolActions[CmdScheduleStop]})
        connect(stop, &QAction::triggered, this, &MainForm::scheduleStopRequested);

    m_exitAction = NamedAction(QStringLiteral("menuExit"), QStringLiteral("&Exit"), this);
    connect(m_exitAction, &QAction::triggered, this, &QWidget::close);
    m_intervalAction = NamedAction(QStringLiteral("menuStatusCheckInterval"),
                                   QStringLiteral("&Status Check Interval..."), this);
    connect(m_intervalAction, &QAction::triggered, this, &MainForm::showRefreshForm);
    m_mailAction =
        NamedAction(QStringLiteral("menuMailSettings"), QStringLiteral("&Mail Settings..."), this);
    connect(m_mailAction, &QAction::triggered, this, &MainForm::mailSettingsRequested);
    m_aboutAction = NamedAction(QStringLiteral("menuAbout"), QStringLiteral("&About..."), this);
    connect(m_aboutAction, &QAction::triggered, this, &MainForm::showAbout);
    m_guideAction =
        NamedAction(QStringLiteral("menuUserGuide"), QStringLiteral("&User Guide"), this);
    connect(m_guideAction, &QAction::triggered, this, &MainForm::openUserGuide);
    m_folderAction =
        NamedAction(QStringLiteral("menuProgramFolder"), QStringLiteral("Program &Folder"), this);
    connect(m_folderAction, &QAction::triggered, this, &MainForm::openProgramFolder);
    m_autoStartAction = NamedAction(QStringLiteral("menuScheduleAutoStart"),
                                    QStringLiteral("Start Schedule at Launch"), this);
    m_autoStartAction->setCheckable(true);
    m_autoStartAction->setChecked(storedScheduleAutoStart());
    // Only the operator's click writes; the program's own setChecked above does not.
    connect(m_autoStartAction, &QAction::triggered, this, [this](bool on) {
        reportSave(m_store.writeSetting(QStringLiteral("ScheduleAutoStart"),
                                        on ? QStringLiteral("1") : QStringLiteral("0")));
    });
}

void MainForm::buildMenus() {
    QMenuBar* bar = menuBar();
    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    file->addAction(QStringLiteral("Export Projectors..."), this, &MainForm::exportProjectors)
        ->setObjectName(QStringLiteral("menuExportProjectors"));
    file->addAction(QStringLiteral("Import Projectors..."), this, &MainForm::importProjectors)
        ->setObjectName(QStringLiteral("menuImportProjectors"));
    file->addSeparator();
    file->addAction(QStringLiteral("Service Report..."), this, &MainForm::showServiceReport)
        ->setObjectName(QStringLiteral("menuServiceReport"));
    file->addSeparator();
    file->addAction(m_exitAction);

    QMenu* edit = bar->addMenu(QStringLiteral("&Edit"));
    auto* add = new QMenu(QStringLiteral("&Add"), this);
    add->addAction(m_menuActions[CmdAddGroup]);
    add->addAction(m_menuActions[CmdAddProjector]);
    // The sub-menu's own entry carries the "Add" flag.
    QAction* addEntry = add->menuAction();
    addEntry->setObjectName(QStringLiteral("menuAdd"));
    m_menuActions[CmdAdd] = addEntry;
    edit->addAction(addEntry);
    edit->addAction(m_menuActions[CmdDelete]);
    edit->addAction(m_menuActions[CmdEdit]);
    edit->addSeparator();
    edit->addAction(QStringLiteral("Find Projectors..."), this, &MainForm::findProjectors)
        ->setObjectName(QStringLiteral("menuFindProjectors"));

    bar->addMenu(QStringLiteral("&Status"))->addAction(m_menuActions[CmdRefresh]);
    QMenu* control = bar->addMenu(QStringLiteral("&Control"));
    control->addAction(m_menuActions[CmdPowerOn]);
    control->addAction(m_menuActions[CmdPowerOff]);
    QMenu* schedule = bar->addMenu(QStringLiteral("Sc&hedule"));
    schedule->addAction(m_menuActions[CmdScheduleStart]);
    schedule->addAction(m_menuActions[CmdScheduleStop]);
    schedule->addSeparator();
    schedule->addAction(m_autoStartAction);
    QMenu* option = bar->addMenu(QStringLiteral("&Option"));
    option->addAction(m_intervalAction);
    option->addAction(m_mailAction);
    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    help->addAction(m_guideAction);
    help->addAction(m_folderAction);
    help->addSeparator();
    help->addAction(m_aboutAction);

    m_popup = new QMenu(this);
    m_popup->setObjectName(QStringLiteral("PopupMenu"));
    auto* popupAdd = new QMenu(QStringLiteral("&Add"), m_popup);
    popupAdd->addAction(m_popupActions[CmdAddGroup]);
    popupAdd->addAction(m_popupActions[CmdAddProjector]);
    m_popupActions[CmdAdd] = popupAdd->menuAction();
    m_popupActions[CmdAdd]->setObjectName(QStringLiteral("popupAdd"));
    m_popup->addAction(m_popupActions[CmdAdd]);
    m_popup->addAction(m_popupActions[CmdDelete]);
    m_popup->addAction(m_popupActions[CmdEdit]);
    m_popup->addSeparator();
    m_popup->addAction(m_popupActions[CmdRefresh]);
    m_popup->addSeparator();
    m_popup->addAction(m_popupActions[CmdPowerOn]);
    m_popup->addAction(m_popupActions[CmdPowerOff]);
}

void MainForm::buildToolBar() {
    QToolBar* tools = addToolBar(QStringLiteral("Toolbar"));
    tools->setObjectName(QStringLiteral("Toolbar1"));
    tools->setMovable(false);
    tools->setIconSize(QSize(16, 16));
    tools->addAction(m_toolActions[CmdAddGroup]);
    tools->addAction(m_toolActions[CmdAddProjector]);
    tools->addAction(m_toolActions[CmdDelete]);
    tools->addAction(m_toolActions[CmdEdit]);
    tools->addSeparator();
    tools->addAction(m_toolActions[CmdRefresh]);
    tools->addSeparator();
    tools->addAction(m_toolActions[CmdPowerOn]);
    tools->addAction(m_toolActions[CmdPowerOff]);
    tools->addSeparator();
    tools->addAction(m_toolActions[CmdScheduleStart]);
    tools->addAction(m_toolActions[CmdScheduleStop]);

    auto* spacer = new QWidget(tools);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    tools->addWidget(spacer);
    m_today = new QLabel(tools);
    m_today->setObjectName(QStringLiteral("lblToday"));
    m_time = new QLabel(tools);
    m_time->setObjectName(QStringLiteral("lblTime"));
    m_time->setContentsMargins(12, 0, 8, 0);
    tools->addWidget(m_today);
    tools->addWidget(m_time);
}

void MainForm::buildCentralArea() {
    // The operator can widen the tree for long names; it starts 200 wide.
    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setObjectName(QStringLiteral("splitterMain"));
    m_splitter->setChildrenCollapsible(false);
    QWidget* central = m_splitter;

    auto* treeSide = new QWidget(central);
    auto* treeLayout = new QVBoxLayout(treeSide);
    treeLayout->setContentsMargins(0, 0, 0, 0);
    treeLayout->setSpacing(2);
    m_treeSearch = new QLineEdit(treeSide);
    m_treeSearch->setObjectName(QStringLiteral("txtTreeSearch"));
    m_treeSearch->setPlaceholderText(QStringLiteral("Find"));
    m_treeSearch->setClearButtonEnabled(true);
    m_treeSearch->setToolTip(QStringLiteral(
        "Shows the projectors whose name, group, address, MAC address, model or state "
        "contains the text (Ctrl+F; Escape clears it)"));
    treeLayout->addWidget(m_treeSearch);
    // A search that hides every item says so instead of leaving an empty tree.
    m_treeNoMatch = new QLabel(treeSide);
    m_treeNoMatch->setObjectName(QStringLiteral("lblTreeNoMatch"));
    m_treeNoMatch->setTextFormat(Qt::PlainText);
    m_treeNoMatch->setWordWrap(true);
    m_treeNoMatch->setVisible(false);
    treeLayout->addWidget(m_treeNoMatch);
    m_tree = new ProjectorTreeWidget(treeSide);
    m_tree->setMinimumWidth(TreeMinimumWidth);
    treeLayout->addWidget(m_tree, 1);
    connect(m_treeSearch, &QLineEdit::textChanged, this, &MainForm::applySearch);
    auto* find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, [this] {
        m_treeSearch->setFocus(Qt::ShortcutFocusReason);
        m_treeSearch->selectAll();
    });
    auto* clear = new QShortcut(QKeySequence(Qt::Key_Escape), m_treeSearch, nullptr, nullptr,
                                Qt::WidgetShortcut);
    connect(clear, &QShortcut::activated, m_treeSearch, &QLineEdit::clear);
    m_searchRefresh.setSingleShot(true);
    m_searchRefresh.setInterval(200);
    connect(&m_searchRefresh, &QTimer::timeout, this, &MainForm::applySearch);
    // Measuring a column's texts costs one measure per row: once for a burst
    // of replies, never per reply.
    m_fitColumns.setSingleShot(true);
    m_fitColumns.setInterval(200);
    connect(&m_fitColumns, &QTimer::timeout, this, &MainForm::widenNotedColumns);
    connect(m_tree, &QTreeWidget::itemSelectionChanged, this, &MainForm::rebuildView);
    connect(m_tree, &ProjectorTreeWidget::popupRequested, this,
            [this](const QPoint& at) { m_popup->popup(at); });

    m_tabs = new QTabWidget(central);
    m_tabs->setObjectName(QStringLiteral("SSTab"));
    const std::array<const char*, 3> captions = {"Status", "Control", "Schedule"};
    std::array<QVBoxLayout*, 3> pages{};
    for (int tab = 0; tab < 3; ++tab) {
        auto* page = new QWidget(m_tabs);
        page->setObjectName(QStringLiteral("tabPage%1").arg(tab));
        pages[tab] = new QVBoxLayout(page);
        pages[tab]->setContentsMargins(0, 0, 0, 0);
        m_selectMessage[tab] = new QLabel(QStringLiteral("Select a group or a projector."), page);
        m_selectMessage[tab]->setObjectName(QStringLiteral("lblSelectMessage%1").arg(tab));
        m_selectMessage[tab]->setAlignment(Qt::AlignCenter);
        pages[tab]->addWidget(m_selectMessage[tab], 1);
        m_tabs->addTab(page, QString::fromLatin1(captions[tab]));
    }
    m_statusGroup = BuildStatusGroupPanel(m_tabs->widget(TabStatus));
    m_statusProjector = BuildStatusProjectorPanel(m_tabs->widget(TabStatus));
    m_statusFleet = BuildStatusFleetPanel(m_tabs->widget(TabStatus));
    pages[TabStatus]->addWidget(m_statusFleet.frame, 1);
    m_firstStart = new FirstStartGuide({m_menuActions[CmdAddGroup], m_menuActions[CmdAddProjector],
                                        findChild<QAction*>(QStringLiteral("menuImportProjectors")),
                                        findChild<QAction*>(QStringLiteral("menuFindProjectors"))},
                                       m_tabs->widget(TabStatus));
    pages[TabStatus]->addWidget(m_firstStart, 1);
    pages[TabStatus]->addWidget(m_statusGroup.frame, 1);
    pages[TabStatus]->addWidget(m_statusProjector.frame, 1);
    m_controlGroup = BuildControlGroupPanel(m_tabs->widget(TabControl));
    m_controlProjector = BuildControlProjectorPanel(m_tabs->widget(TabControl));
    pages[TabControl]->addWidget(m_controlGroup.frame, 1);
    pages[TabControl]->addWidget(m_controlProjector.frame, 1);
    m_scheduleGroup = BuildScheduleGroupPanel(m_tabs->widget(TabSchedule));
    m_scheduleProjector = BuildScheduleProjectorPanel(m_tabs->widget(TabSchedule));
    m_frameSchedule = new QFrame(m_tabs->widget(TabSchedule));
    m_frameSchedule->setObjectName(QStringLiteral("frameSchedule"));
    auto* hostLayout = new QVBoxLayout(m_frameSchedule);
    hostLayout->setContentsMargins(8, 0, 8, 8);
    pages[TabSchedule]->addWidget(m_scheduleGroup.frame);
    pages[TabSchedule]->addWidget(m_scheduleProjector.frame);
    pages[TabSchedule]->addWidget(m_frameSchedule, 1);
    m_history = new HistoryPanel(m_state.ProgramFolder + QStringLiteral("/History.sqlite"), m_tabs);
    m_tabs->addTab(m_history, QStringLiteral("History"));
    hideAllPanels();
    connect(m_tabs, &QTabWidget::currentChanged, this, &MainForm::rebuildView);

    m_splitter->addWidget(treeSide);
    m_splitter->addWidget(m_tabs);
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({TreeWidth, DefaultWindowSize.width() - TreeWidth});
    setCentralWidget(m_splitter);
}

QWidget* MainForm::scheduleHost() const {
    return m_frameSchedule;
}

void MainForm::setHistory(HistoryWriter* writer) {
    m_history->setWriter(writer);
}

void MainForm::setScheduleRunning(bool running) {
    m_scheduleRunning = running;
    m_scheduleLabel->setFullText(running ? QStringLiteral("Schedule running")
                                         : QStringLiteral("Schedule stopped"));
    rebuildView();
}

void MainForm::clockTick() {
    m_clockTimer.stop();
    const QDateTime now = m_state.clock.now();
    const QDateTime minute(now.date(), QTime(now.time().hour(), now.time().minute()));
    // The texts change only with the minute: sleep until the next one, but
    // look again at least once a second in case the clock is set or jumps.
    const qint64 toNextMinute = 60'000 - (now.time().second() * 1000 + now.time().msec());
    m_clockTimer.start(std::chrono::milliseconds(std::clamp<qint64>(toNextMinute, 10, 1000)));
    if (minute == m_shownMinute)
        return;
    m_shownMinute = minute;
    const QString date = FormatShortDate(m_state, now.date());
    if (date != m_shownDate) {
        m_today->setText(QStringLiteral("Today : ") + date);
        m_shownDate = date;
    }
    const QString time = FormatShortTime(m_state, now.time());
    if (time != m_shownTime) {
        m_time->setText(time);
        m_shownTime = time;
    }
}

void MainForm::initialisationTick() {
    // A node chosen in the meantime keeps its panels.
    const int tab = m_tabs->currentIndex();
    if (selectedNode() != 0 || tab >= int(m_selectMessage.size()))
        return;
    m_selectMessage[std::size_t(tab)]->setVisible(true);
    m_statusProjector.frame->setVisible(false);
    m_statusGroup.frame->setVisible(false);
    m_statusFleet.frame->setVisible(false);
}

void MainForm::showAbout() {
    auto* about = new AboutForm(this);
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->open();
}

void MainForm::openUserGuide() {
    const QString guide = UserGuidePath(QCoreApplication::applicationDirPath());
    if (guide.isEmpty()) {
        m_messages.show(this, MessageKind::Information,
                        QStringLiteral("The user guide is not installed. It is user-guide.md in "
                                       "the program's documentation (share/doc/norvik3)."));
        return;
    }
    openLocal(guide);
}

void MainForm::openProgramFolder() {
    openLocal(m_state.ProgramFolder);
}

void MainForm::openLocal(const QString& path) {
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        m_messages.show(this, MessageKind::Information,
                        QStringLiteral("No program to open %1 was found.").arg(path));
}

void MainForm::closeEvent(QCloseEvent* event) {
    const MessageAnswer answer =
        m_messages.show(this, MessageKind::Question,
                        QStringLiteral("Are you sure that you want to exit this program?"));
    if (answer != MessageAnswer::Yes) {
        event->ignore();
        return;
    }
    m_clockTimer.stop();
    if (m_layoutSave.isActive()) {
        m_layoutSave.stop();
        saveWindowLayout();
    }
    m_engine.shutdown();
    event->accept();
}

void MainForm::showEvent(QShowEvent* event) {
    updateMinimumSize();
    QMainWindow::showEvent(event);
}

void MainForm::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        updateMinimumSize();
    QMainWindow::changeEvent(event);
}
