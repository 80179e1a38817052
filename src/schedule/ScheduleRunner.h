#pragma once

#include <QObject>
#include <QTimer>

struct AppState;
class CommEngine;

// Runs the schedule files: once a day (and after every change of a schedule
// section or of the tree) works out which file applies to each node, and once
// a minute queues that minute's commands.
class ScheduleRunner : public QObject {
    Q_OBJECT
public:
    ScheduleRunner(AppState& state, CommEngine& engine, QObject* parent = nullptr);

    void ScheduleStart();
    void ScheduleStop();
    bool isRunning() const;
    void BuildTodayPlan();

signals:
    void runningChanged(bool running);

private:
    void tick();

    AppState& m_state;
    CommEngine& m_engine;
    QTimer m_timer;
};
