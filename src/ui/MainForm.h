#pragma once

#include "comm/EngineObserver.h"
#include "comm/RefreshSink.h"
#include "core/HealthReport.h"
#include "ui/CommandFeedback.h"
#include "ui/ControlOperations.h"
#include "ui/FleetState.h"
#include "ui/Panels.h"
#include "ui/PollProgress.h"
#include "ui/StatusRows.h"

#include <QDateTime>
#include <QHash>
#include <QMainWindow>
#include <QTimer>

#include <array>
#include <functional>

struct AppState;
class CommEngine;
class ElidedLabel;
class FirstStartGuide;
class HistoryPanel;
class HistoryWriter;
class MessageService;
class ProjectorTreeWidget;
class QAction;
class QLabel;
class QMenu;
class QSplitter;
class QTabWidget;
class QToolButton;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;
class SettingsStore;

// The main window: the projector tree on the left, the "Status", "Control",
// "Schedule" and "History" tabs on the right, menus, pop-up menu and toolbar, and the
// clock. It implements the engine's refresh interface. The schedule panel
// and the mail settings dialog plug in from outside through scheduleHost()
// and the signals below.
class MainForm : public QMainWindow, public RefreshSink {
    Q_OBJECT
  public:
    // The ten commands whose availability follows the view, in flag order.
    enum Command {
        CmdAdd,
        CmdAddGroup,
        CmdAddProjector,
        CmdDelete,
        CmdEdit,
        CmdRefresh,
        CmdPowerOn,
        CmdPowerOff,
        CmdScheduleStart,
        CmdScheduleStop,
        CommandCount
    };
    enum Tab { TabStatus, TabControl, TabSchedule, TabHistory };

    // 9600 by 7425 twips at 15 twips per pixel.
    static constexpr QSize MinimumWindowSize{640, 495};
    // Wide enough for all 13 columns of the fleet overview at the default
    // font (fitted to their texts); capped at the screen's free area.
    static constexpr QSize DefaultWindowSize{1280, 720};
    // The tree's starting width; the operator may widen it.
    static constexpr int TreeWidth = 200;

    MainForm(AppState& state, const SettingsStore& store, CommEngine& engine,
             MessageService& messages, QWidget* parent = nullptr);
    ~MainForm() override;

    // Loads the tree from the settings store and shows it.
    void InitProjectorTree();

    // Node index of the selected node, 0 when none is selected.
    int selectedNode() const;
    void selectNode(int nodeIndex);

    // The container on the Schedule tab that holds the schedule panel.
    QWidget* scheduleHost() const;
    // The writer whose commits the History tab follows; null: none.
    void setHistory(HistoryWriter* writer);
    HistoryPanel* historyPanel() const { return m_history; }
    bool isScheduleRunning() const { return m_scheduleRunning; }

    // RefreshSink
    void statusChanged(int projector, StatusItem item) override;
    void restoreDropDown(int projector, StatusItem item) override;
    void reachabilityChanged(int projector) override;

    // What the window follows of the engine's work besides its refresh, for
    // the engine's observers: command outcomes, the passes, Wake-on-LAN.
    EngineObserver& activity() { return m_activity; }
    void commandFinished(int projector, const QByteArray& frame, CommandOutcome outcome);
    void queueDropped(int projector);
    void pollingPassStarted(int projectorCount);
    void macPassProgress(int done, int total);
    void wakingByLan(int projector);

    // Refusals and time-outs of the operator's commands, oldest first.
    const std::deque<CommandFeedback::Problem>& recentProblems() const {
        return m_feedback.problems();
    }

    // Keeps a projector's PJLink password (empty: none) wherever passwords
    // are kept (false when it could not be kept); set by whoever keeps them. The window holds none
    // itself and reads the stored ones through AppState::PJLinkPassword.
    std::function<bool(int projector, const QString& password)> StorePJLinkPassword;

  public slots:
    void setScheduleRunning(bool running);
    void rebuildView();

    void addGroup();
    void addProjector();
    void findProjectors();
    void editNode();
    void deleteNode();
    void powerOnSelection();
    void powerOffSelection();
    void refreshSelection();
    void showRefreshForm();
    void showAbout();
    void openUserGuide();
    void openProgramFolder();
    // File > "Export Projectors..." and "Import Projectors..." (MainFormImport.cpp).
    void exportProjectors();
    void importProjectors();
    // File > "Service Report...".
    void showServiceReport();

  signals:
    // The Schedule tab now shows this group or projector node.
    void scheduleNodeShown(int nodeIndex);
    // A node was added, renamed or deleted (and the tree saved).
    void treeChanged();
    void scheduleStartRequested();
    void scheduleStopRequested();
    void mailSettingsRequested();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    // MainForm.cpp
    void buildActions();
    void buildMenus();
    void buildToolBar();
    void buildCentralArea();
    void clockTick();
    void initialisationTick();
    void buildStatusBar();

    // MainFormLayout.cpp
    // The larger of the least size of the window and what the panels need,
    // the Control panel's rows scrolling where the screen is too low.
    void updateMinimumSize();
    QSize pagesMinimumSize();
    // Room for the window on its screen, its frame taken off.
    QSize screenRoom() const;
    // The tree's width and the overview's sort and columns, as the operator
    // left them.
    void restoreWindowLayout();
    void saveWindowLayout();
    // Widens the overview's columns that are narrower than their texts,
    // of all columns or of those given.
    void fitFleetColumns(StatusColumns columns = ~StatusColumns(0));
    void widenNotedColumns();
    // Schedule > "Start Schedule at Launch" as stored in the settings file.
    bool storedScheduleAutoStart() const;
    // Opens a file or folder with the desktop's program for it.
    void openLocal(const QString& path);

    // MainFormTree.cpp
    void rebuildTree();
    // Shows only the nodes the search finds (all without a text), in the
    // tree and the fleet overview; the selection stays as it is.
    void applySearch();
    QString searchText() const;
    void saveTreeAndProjectors();
    void reportSave(bool saved);
    void pausePolling();
    void resumePolling();
    bool refuseWhileAcquiring();
    QStringList groupNames(int exceptNode) const;
    void afterTreeEdit();
    QString storedPJLinkPassword(int projector) const;
    void storePJLinkPassword(int projector, const QString& password);
    int projectorAt(const ProjectorInfo& config) const;

    // MainFormView.cpp
    void setCommandAvailability(const std::array<bool, CommandCount>& flags);
    std::array<bool, CommandCount> availabilityFor(QChar kind, int projectorCount, int tab) const;
    void showGroup(int groupNode, int tab);
    void showProjector(int projectorNode, int tab);
    void fillGroupStatusList(int groupNode);
    void showProjectorStatus(int projector);
    void fillProjectorStatusLabels(int projector);
    void showProjectorControls(int projector);
    void fillModelDropDowns(int projector);
    // The input entries of a PJLink projector, each holding its code.
    void fillPJLinkInputs(int projector);
    // A reply may have told a PJLink projector's class, inputs, freeze or
    // identity: the Control panel and information showing it follow.
    void refreshPJLinkViews(int projector);
    void hideAllPanels();
    // The History tab's events: the fleet's, a group's or a projector's.
    void showHistory(int node);

    // MainFormRefresh.cpp
    void connectControls();
    void setDropDown(int projector, StatusItem item);
    void setFreezeDropDown(int projector);
    int shownProjector(int tab) const;
    int shownGroup(int tab) const;
    int controlProjector() const;
    // The power question naming what it acts on: "Turn on the projector
    // Hall 3?", "Turn on the 4 projectors of Main Hall?".
    QString powerQuestion(bool on) const;

    // MainFormFleet.cpp
    void showFleet();
    bool fleetShown() const;
    // The status list on screen (group list or fleet overview), if any.
    QTreeWidget* shownStatusList() const;
    StatusRow* shownRowOf(int projector) const;
    // Brings the projector's row of the shown list up to date after a reply
    // to item (none: any reply or change of contact); false when no shown
    // list holds it.
    bool refreshShownRow(int projector, std::optional<StatusItem> item = std::nullopt);
    // The overview's columns whose new texts are wider than the column are
    // fitted a moment later, once for a whole burst of replies.
    void noteWiderTexts(const StatusRow& row, StatusColumns changed);
    void updateTreeMarks(int projector);
    void setNodeMark(QTreeWidgetItem* item, IconKind kind, FleetState state, const QString& tip);
    void updateAllTreeMarks();
    QTreeWidgetItem* treeItemOfNode(int nodeIndex) const;
    void showProblems();
    void setCommandResult(const QString& text);
    void updateProblemsButton();
    void healthChanged(HealthCondition condition, bool active, const QString& text);

    AppState& m_state;
    const SettingsStore& m_store;
    CommEngine& m_engine;
    MessageService& m_messages;
    ControlOperations m_controls;
    bool m_scheduleRunning = false;
    class Activity : public EngineObserver {
      public:
        explicit Activity(MainForm& form) : m_form(form) {}
        void commandFinished(int p, const QByteArray& frame, CommandOutcome outcome) override {
            m_form.commandFinished(p, frame, outcome);
        }
        void queueDropped(int p) override { m_form.queueDropped(p); }
        void pollingPassStarted(int count) override { m_form.pollingPassStarted(count); }
        void macPassProgress(int done, int total) override { m_form.macPassProgress(done, total); }
        void wakingByLan(int p) override { m_form.wakingByLan(p); }

      private:
        MainForm& m_form;
    };
    Activity m_activity{*this};
    CommandFeedback m_feedback;
    // The text each program problem was raised with, for its recovery line.
    std::array<QString, std::size_t(HealthCondition::Count)> m_raisedHealth{};
    PollProgress m_poll;

    QTimer m_clockTimer;
    QTimer m_initialisationTimer;
    // Saves the layout a moment after the operator stops changing it.
    QTimer m_layoutSave;
    bool m_fittingColumns = false;
    QTimer m_fitColumns;
    StatusColumns m_fitPending = 0;
    // Per overview column, the widest text noted since the list was filled.
    std::array<int, ListColumnCount> m_notedWidths{};
    // The labels only change with the minute; formatting waits for it.
    QDateTime m_shownMinute;
    QString m_shownDate;
    QString m_shownTime;
    QLabel* m_today = nullptr;
    QLabel* m_time = nullptr;

    QSplitter* m_splitter = nullptr;
    ProjectorTreeWidget* m_tree = nullptr;
    // The search above the tree, and the timer that gathers the replies of
    // a pass into one new filtering while a text is entered.
    QLineEdit* m_treeSearch = nullptr;
    QLabel* m_treeNoMatch = nullptr;
    QTimer m_searchRefresh;
    // Tree items by node key, for the state marks.
    QHash<QString, QTreeWidgetItem*> m_treeItems;
    // Each projector's tree item and its group's, found once per tree built
    // (and again after projectors were renumbered).
    struct TreeMark {
        QTreeWidgetItem* item = nullptr;
        QTreeWidgetItem* groupItem = nullptr;
        int groupNode = 0;
    };
    std::array<TreeMark, MaxProjectors + 1> m_treeMarks{};
    quint64 m_marksNumbering = 0;
    // Painting a mark costs more than a reply: each kind and state once.
    QHash<int, QIcon> m_markIcons;
    GroupStates m_groupStates;
    // The rows of the group list and of the overview by projector.
    StatusRowIndex m_groupRows;
    StatusRowIndex m_fleetRows;
    QTabWidget* m_tabs = nullptr;
    std::array<QLabel*, 3> m_selectMessage{};
    StatusGroupPanel m_statusGroup{};
    StatusProjectorPanel m_statusProjector{};
    StatusFleetPanel m_statusFleet{};
    // In place of the overview while the fleet has no projector.
    FirstStartGuide* m_firstStart = nullptr;
    ControlGroupPanel m_controlGroup{};
    ControlProjectorPanel m_controlProjector{};
    ScheduleGroupPanel m_scheduleGroup{};
    ScheduleProjectorPanel m_scheduleProjector{};
    QFrame* m_frameSchedule = nullptr;
    HistoryPanel* m_history = nullptr;

    std::array<QAction*, CommandCount> m_menuActions{};
    std::array<QAction*, CmdPowerOff + 1> m_popupActions{};
    std::array<QAction*, CommandCount> m_toolActions{}; // no button for CmdAdd
    QAction* m_exitAction = nullptr;
    QAction* m_intervalAction = nullptr;
    QAction* m_mailAction = nullptr;
    QAction* m_aboutAction = nullptr;
    QAction* m_guideAction = nullptr;
    QAction* m_folderAction = nullptr;
    QAction* m_autoStartAction = nullptr;
    ElidedLabel* m_commandResult = nullptr;
    ElidedLabel* m_pollLabel = nullptr;
    ElidedLabel* m_macLabel = nullptr;
    ElidedLabel* m_scheduleLabel = nullptr;
    QToolButton* m_problemsButton = nullptr;
    QMenu* m_popup = nullptr;
};
