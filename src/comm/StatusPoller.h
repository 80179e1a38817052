#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>

struct AppState;
struct CommandTable;
class RefreshSink;

// StatusCheckTimer: every StatusCheckInterval seconds queues the five status
// queries for every configured projector. Ticks once a second after the
// first; a null LastStatusCheck forces a pass at the next tick.
class StatusPoller : public QObject {
    Q_OBJECT
public:
    StatusPoller(AppState& state, const CommandTable& commands, QObject* parent = nullptr);

    void start(std::chrono::milliseconds firstTick);
    void stop();
    bool isActive() const { return m_timer.isActive(); }
    void tick();
    void setRefreshSink(RefreshSink* sink) { m_sink = sink; }

private:
    AppState& m_state;
    const CommandTable& m_commands;
    QTimer m_timer;
    RefreshSink* m_sink = nullptr;
};
