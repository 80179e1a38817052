#pragma once

#include "schedule/ScheduleFileCache.h"

#include <QDate>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <functional>
#include <utility>
#include <vector>

struct AppState;
struct CommandFrame;

// One node of today's plan and the file it follows today.
struct SchedulePlanEntry {
    qint16 NodeIndex = 0;
    QString KeyName;
    QString Section;     // node text = section name
    qint16 FileKind = 0; // 2 date file, 1 weekday file, 0 default file
    QString FileBase;    // "YYYYMMDD", the weekday name or "default"
};

// One action of the schedule files as it was carried out: the node's section
// and the command, with each projector a command was queued for and how
// many commands were ahead of it in its queue.
struct ScheduleActionReport {
    qint16 NodeIndex = 0;
    QString Section;
    QString Command;
    std::vector<std::pair<int, int>> Queued; // projector, commands ahead
};

inline constexpr qint16 FileKindDefault = 0;
inline constexpr qint16 FileKindWeekday = 1;
inline constexpr qint16 FileKindDate = 2;

// Runs the schedule files: once a day (and after every change of a schedule
// section or of the tree) works out which file applies to each node, and once
// a minute queues that minute's commands (straight into the command queues,
// which the engine's dispatcher sends).
class ScheduleRunner : public QObject {
    Q_OBJECT
  public:
    explicit ScheduleRunner(AppState& state, QObject* parent = nullptr);

    void ScheduleStart();
    void ScheduleStop();
    bool isRunning() const;

    const std::vector<SchedulePlanEntry>& SchedulePlan() const { return m_plan; }
    const ScheduleFileCache& scheduleFiles() const { return m_files; }
    int SchedulePlanCount() const { return int(m_plan.size()); }

    // One tick of the schedule timer. The timer calls it every 100 ms while
    // the schedule runs; tests call it directly with a set clock.
    void tick();

    // Told of every action carried out (the history's recorder).
    void setActionObserver(std::function<void(const ScheduleActionReport&)> observer) {
        m_actionObserver = std::move(observer);
    }

  public slots:
    // Rebuilds today's plan from the tree and the schedule files. Called at a
    // change of date, after every save of a section and after every change of
    // the tree, so that the plan never names a node by an old index. Every
    // schedule file is read afresh for it.
    void BuildTodayPlan();

  signals:
    void runningChanged(bool running);

  private:
    // The three files of today, most specific first.
    std::array<std::pair<qint16, QString>, 3> todaysFiles() const;
    void buildPlan();
    void runEntry(const SchedulePlanEntry& entry, const QString& command);
    void runProjectorCommand(int projector, const QString& command, ScheduleActionReport& report);
    // Selects the input of that display name among the PJLink projector's
    // inputs, followed by the input query.
    void runPJLinkInput(int projector, const QString& name, ScheduleActionReport& report);
    // Queues the frame, noted in the report when it was taken.
    void queue(int projector, const CommandFrame& frame, ScheduleActionReport& report);

    AppState& m_state;
    QTimer m_timer;
    ScheduleFileCache m_files;
    std::vector<SchedulePlanEntry> m_plan;
    QDate m_lastScheduleDate;       // date of the last plan built by the timer
    QDateTime m_lastScheduleMinute; // last minute handled, date included
    std::function<void(const ScheduleActionReport&)> m_actionObserver;
};
