#pragma once

#include "schedule/ScheduleFiles.h"

#include <QWidget>

#include <vector>

struct AppState;
class MessageService;
class QComboBox;
class QPushButton;
class QTimeEdit;
class QTreeWidget;
class ScheduleCalendar;
class ScheduleRunner;

// The Schedule tab's editor: the month calendar, the list of entries of the
// selected node for the chosen default, weekday or date file, the time picker,
// the command selector and the "Set" and "Delete" buttons. Every change is
// written to the schedule file at once and today's plan is rebuilt.
class SchedulePanel : public QWidget {
    Q_OBJECT
  public:
    SchedulePanel(AppState& state, ScheduleRunner& runner, MessageService& messages,
                  QWidget* parent = nullptr);

    int nodeIndex() const { return m_nodeIndex; }
    ScheduleCalendar* calendar() const { return m_calendar; }

  public slots:
    // Shows the schedule of a group or projector node; any other node empties
    // the editor.
    void showNode(int nodeIndex);
    void RefreshMarks();
    void LoadScheduleList();
    void AddScheduleEntry();
    void DeleteScheduleEntries();

  private:
    void fillCommands();
    bool SaveScheduleSection();
    QString sectionName() const;
    std::vector<ScheduleEntry> listEntries() const;
    void insertRow(int position, const ScheduleEntry& entry);
    void updateButtons();

    AppState& m_state;
    ScheduleRunner& m_runner;
    MessageService& m_messages;
    ScheduleCalendar* m_calendar = nullptr;
    QTreeWidget* m_list = nullptr;
    QTimeEdit* m_time = nullptr;
    QComboBox* m_commands = nullptr;
    QPushButton* m_set = nullptr;
    QPushButton* m_delete = nullptr;
    int m_nodeIndex = 0;
};
