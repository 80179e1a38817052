#pragma once

#include "status/EndpointLimits.h"

#include <QByteArray>

#include <string>

struct AppState;

// The answers of the status endpoint, built from the tables alone; nothing
// here touches a projector.

// GET /metrics: the Prometheus text exposition format 0.0.4. A projector's
// value the JSON shows as null is absent here.
std::string MetricsText(const AppState& state, const RefusalCounts& refusals);
// GET /api/v1/projectors: one object per projector, in index order.
QByteArray ProjectorsJson(const AppState& state);
// True when the program cannot do its job: projectors are configured, a
// polling pass has finished, and not one projector answers.
bool HealthFailing(const AppState& state);
// GET /api/v1/health: "ok"; "degraded" while any health condition is
// active, each listed in "reasons"; "failing" as HealthFailing says.
QByteArray HealthJson(const AppState& state, bool scheduleRunning);
