#pragma once

#include <QByteArray>

#include <string>

struct AppState;

// The answers of the status endpoint, built from the tables alone; nothing
// here touches a projector.

// GET /metrics: the Prometheus text exposition format 0.0.4.
std::string MetricsText(const AppState& state);
// GET /api/v1/projectors: one object per projector, in index order.
QByteArray ProjectorsJson(const AppState& state);
// GET /api/v1/health.
QByteArray HealthJson(const AppState& state, bool scheduleRunning);
