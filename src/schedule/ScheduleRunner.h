#pragma once

#include "schedule/ScheduleFileCache.h"
#include "schedule/SchedulePlan.h"
#include "schedule/ScheduleRunRecord.h"

#include "core/SettingsValues.h"

#include <QDate>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <utility>
#include <vector>

struct AppState;
struct PlannedItem;
struct ProjectorPlan;

// One action of the schedule files as it was carried out: the node's section
// and the command, with each projector a command was queued for and how
// many commands were ahead of it in its queue. An entry found too late to be
// run is reported once as missed, with nothing queued.
struct ScheduleActionReport {
    qint16 NodeIndex = 0;
    QString Section;
    QString Command;
    std::vector<std::pair<int, int>> Queued; // projector, commands ahead
    QDateTime Due;                           // the day and time of the entry
    qint64 MinutesLate = 0;                  // 0 when run in its own minute
    bool Missed = false;
};

// Runs the schedule files: once a day (and after every change of a schedule
// section or of the tree) works out which file applies to each node, and once
// a minute queues the commands that fell due since the last look, as the
// command planner plans them (through the program's queueing function, the
// engine's; straight into the command queues until one is set). Each entry
// runs at most once a day, also across restarts and clock changes: what was
// dealt with is kept in ScheduleRuns.json of the program folder. An entry
// that fell due while the program was not running or that a clock step
// jumped over runs late when it is at most Setting/ScheduleCatchUpMinutes
// late, and is recorded as missed otherwise. Entries that fall due while the
// schedule is stopped by the operator are neither run nor missed.
class ScheduleRunner : public QObject {
    Q_OBJECT
  public:
    explicit ScheduleRunner(AppState& state, QObject* parent = nullptr);

    void ScheduleStart();
    // The operator's stop.
    void ScheduleStop();
    // The stop at the program's end: a start in the next run catches up what
    // falls due in between.
    void stopAtProgramEnd();
    bool isRunning() const;

    const std::vector<SchedulePlanEntry>& SchedulePlan() const { return m_plan; }
    const ScheduleFileCache& scheduleFiles() const { return m_files; }
    int SchedulePlanCount() const { return int(m_plan.size()); }
    int catchUpMinutes() const { return m_catchUpMinutes; }

    // One tick of the schedule timer. The timer calls it every 100 ms while
    // the schedule runs; tests call it directly with a set clock.
    void tick();

    // Queues one item for a projector; false when it was refused.
    using Queue = std::function<bool(int projector, const PlannedItem& item)>;
    void setQueue(Queue queue) { m_queue = std::move(queue); }

    // Told of every action carried out and every entry missed (the
    // history's recorder).
    void setActionObserver(std::function<void(const ScheduleActionReport&)> observer) {
        m_actionObserver = std::move(observer);
    }

  public slots:
    // Rebuilds today's plan from the tree and the schedule files and reads
    // Setting/ScheduleCatchUpMinutes again. Called at a change of date,
    // after every save of a section and after every change of the tree, so
    // that the plan never names a node by an old index. Every schedule file
    // is read afresh for it.
    void BuildTodayPlan();

  signals:
    void runningChanged(bool running);

  private:
    void buildPlan();
    void stop(bool byOperator);
    void loadRecord();
    // Deals with every entry that fell due after `from` up to `now`.
    void runDue(qint64 from, qint64 now, const QDate& today);
    // How many days before today a start looks back after the program was
    // down: their entries are recorded as missed, older ones are not.
    static constexpr int LookBackDays = 7;
    void dealWith(const QDate& day, const AgendaItem& item, const SchedulePlanEntry& entry,
                  qint64 now);
    void runEntry(const SchedulePlanEntry& entry, const QString& command,
                  ScheduleActionReport& report);
    // Queues the plan's command, noted in the report when it was taken.
    void queue(const ProjectorPlan& plan, ScheduleActionReport& report);

    AppState& m_state;
    QTimer m_timer;
    ScheduleFileCache m_files;
    std::vector<SchedulePlanEntry> m_plan;
    std::vector<AgendaItem> m_agenda; // today's, in the order they fall due
    QDate m_planDay;
    QDate m_lastScheduleDate; // date of the last plan built by the timer
    qint64 m_lastMinute = -1; // last minute handled (minutes since the epoch)
    ScheduleRunRecord m_record{QString()};
    bool m_recordLoaded = false;
    // Started after the operator's stop: what fell due meanwhile stays undone.
    bool m_resumeNow = false;
    // When the program made the runner: a first start well after it was asked
    // for while the program ran with the schedule off.
    qint64 m_createdAt = 0;
    int m_catchUpMinutes = DefaultScheduleCatchUpMinutes;
    std::function<void(const ScheduleActionReport&)> m_actionObserver;
    Queue m_queue;
};
