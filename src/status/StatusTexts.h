#pragma once

#include "status/EndpointLimits.h"

#include <QByteArray>

#include <string>

struct AppState;

// The answers of the status endpoint, built from the tables alone; nothing
// here touches a projector.

// GET /metrics: the Prometheus text exposition format 0.0.4, each family's
// series in projector order. A projector's value the JSON shows as null is
// absent from the value gauges; the state sets say "not_reported" instead.
// A projector has no norvik3_projector_up until it has answered or failed.
std::string MetricsText(const AppState& state, const RefusalCounts& refusals, bool scheduleRunning);
// GET /api/v1/projectors: one object per projector, in index order; a value
// that is not set or not reported is null. docs/api/status.schema.json
// describes both JSON answers.
QByteArray ProjectorsJson(const AppState& state);
// True when the program cannot do its job: projectors are configured, a
// polling pass has finished, and not one projector answers.
bool HealthFailing(const AppState& state);
// GET /api/v1/health: "ok"; "degraded" while any health condition is
// active, each listed in "reasons"; "failing" as HealthFailing says. "site"
// is Setting/SiteName, null when not set.
QByteArray HealthJson(const AppState& state, bool scheduleRunning);
