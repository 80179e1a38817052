#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

struct AppState;
struct CommandFrame;

// What the operator, a schedule entry or a client asks of one projector or
// of every projector directly under a group: {"blank", "on"}, {"input",
// "HDMI"}, {"brightness", "up"}, {"lamp-reset", ""}.
struct CommandRequest {
    QString command;
    QString value;
    int projector = 0; // a projector's index, or
    int group = 0;     // a group's node
};

// One item of a projector's queue: a frame of the command table (queued as
// its PJLink line for a PJLink projector) or a PJLink line.
struct PlannedItem {
    const CommandFrame* frame = nullptr;
    QByteArray line;
};

struct ProjectorPlan {
    int projector = 0;
    // The command itself, then the queries that show its effect. With an
    // error only those queries, so that a control showing the projector
    // goes back to what it is.
    std::vector<PlannedItem> items;
    QString error; // the command or value this projector cannot take
};

// The items the request becomes for each of its projectors; none for a node
// that is no group.
std::vector<ProjectorPlan> PlanCommand(const AppState& state, const CommandRequest& request);

// Queues one item straight into the projector's queue (CommEngine adds the
// reports); false when it was refused.
bool EnqueuePlanned(AppState& state, int projector, const PlannedItem& item);
