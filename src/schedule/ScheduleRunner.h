#pragma once

#include <QObject>
#include <QTimer>

struct AppState;

// Runs the schedule files: once a day (and after every change of a schedule
// section or of the tree) works out which file applies to each node, and once
// a minute queues that minute's commands (straight into the command queues,
// which the engine's dispatcher sends).
class ScheduleRunner : public QObject {
    Q_OBJECT
public:
    ScheduleRunner(AppState& state, QObject* parent = nullptr);

    void ScheduleStart();
    void ScheduleStop();
    bool isRunning() const;
    void BuildTodayPlan();

signals:
    void runningChanged(bool running);

private:
    void tick();

    AppState& m_state;
    QTimer m_timer;
};
