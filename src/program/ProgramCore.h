#pragma once

#include "core/AppState.h"
#include "core/Startup.h"
#include "history/HistoryEvent.h"
#include "status/StatusEndpointSettings.h"

#include <QObject>
#include <QStringList>

#include <memory>
#include <vector>

class AlertSender;
class CommEngine;
class ForecastFeed;
class HistoryRecorder;
class HistoryWriter;
struct ProjectorForecast;
class MailWorker;
class PJLinkPasswords;
class ScheduleRunner;
class StatusServer;
class StopSignals;

// What the window and the headless service share: the start-up session, the
// communication engine, the schedule runner, the alert sender with its mail
// thread, the status endpoint and the stop signals. The window adds its
// widgets on top; the service runs it as it is.
class ProgramCore : public QObject {
    Q_OBJECT
  public:
    ProgramCore();
    ~ProgramCore() override;
    ProgramCore(const ProgramCore&) = delete;
    ProgramCore& operator=(const ProgramCore&) = delete;

    // Which program this is (the window or the service): the source of its
    // start and stop and of the commands given through the engine. Before
    // start().
    void setProgramSource(EventSource source) { m_program = source; }

    // The session (lock, folders, settings), then the engine, the runner,
    // the alert sender and the history, wired together. False when the run
    // cannot go on: session() says why.
    bool start(const QStringList& arguments);
    // After the caller has loaded the tree and set its refresh sink: the
    // dispatcher, the MAC address pass and polling start, the first pass at
    // once.
    void startCommunication();
    // The endpoint as the settings (and the service's command line) ask; off
    // unless a port is set. Problems are logged, never fatal.
    void startStatusEndpoint(const QString& addressOverride = {}, int portOverride = -1);

    // Reads the settings file again without a restart: the projector table,
    // the tree, the mail and timing settings, the PJLink passwords and
    // notifications and the endpoint. Polling and
    // the queued alerts go on; a projector whose connection did not change
    // keeps what it showed, one that changed or went is flushed and starts
    // afresh. A pending mail retry is tried at once with the new settings.
    void reload();
    // SIGHUP reloads instead of stopping (the service; the window stops).
    void setReloadOnHangUp(bool reload) { m_reloadOnHangUp = reload; }

    // Setting/ScheduleAutoStart is "1".
    bool scheduleAutoStart() const;

    // The orderly end: timers stopped, ports and sockets closed, a mail under
    // way given its grace and every alert not mailed written to the mail log.
    // Safe to call more than once.
    void shutdown();

    AppState& state() { return *m_state; }
    const ProgramSession& session() const { return *m_session; }
    const SettingsStore& store() const { return m_session->store(); }
    CommEngine& engine() { return *m_engine; }
    ScheduleRunner& runner() { return *m_runner; }
    MailWorker& mailWorker() { return *m_mailWorker; }
    // The PJLink passwords; the engine's sessions ask them through
    // AppState::PJLinkPassword, the projector dialog stores them here.
    PJLinkPasswords& passwords() { return *m_passwords; }
    // Stores the PJLink password of a projector (empty removes it); false
    // for one that cannot be stored.
    bool storePJLinkPassword(int projector, const QString& password);
    StatusServer* statusServer() { return m_status.get(); }
    // Where the endpoint was last asked to listen.
    const StatusEndpointSettings& endpointSettings() const { return m_endpointSettings; }
    // The history's writer on <ProgramFolder>/History.sqlite while the
    // program runs; nullptr before start() and after shutdown().
    HistoryWriter* history() { return m_history.get(); }
    // What turns the program's doings into events; nullptr when there is no
    // history.
    HistoryRecorder* recorder() { return m_recorder.get(); }

  signals:
    // SIGTERM, SIGINT (or SIGHUP, unless it reloads) arrived; the program
    // should end in order.
    void stopRequested(int signalNumber);
    // SIGHUP arrived and reloads are on: the caller runs reload().
    void reloadRequested();
    // The lamp and filter forecasts of the table were worked out again.
    void forecastsChanged();

  private:
    // Listens for PJLink notifications when Setting/PJLinkNotifications is
    // "1"; a port that cannot be bound is raised as a health condition.
    void applyNotificationSetting();
    // The writer, the recorder and the forecasts, wired to the rest.
    void startHistory();
    void requestForecasts();
    void applyForecasts(const std::vector<ProjectorForecast>& results);
    void stopHistory();

    std::unique_ptr<AppState> m_state; // a few megabytes: on the heap
    std::unique_ptr<ProgramSession> m_session;
    std::unique_ptr<StopSignals> m_stopSignals;
    // Declared before the engine, so that it outlives the sessions that ask it.
    std::unique_ptr<PJLinkPasswords> m_passwords;
    std::unique_ptr<MailWorker> m_mailWorker;
    std::unique_ptr<CommEngine> m_engine;
    std::unique_ptr<ScheduleRunner> m_runner;
    std::unique_ptr<AlertSender> m_alerts;
    std::unique_ptr<StatusServer> m_status;
    std::unique_ptr<HistoryWriter> m_history;
    std::unique_ptr<HistoryRecorder> m_recorder;
    std::unique_ptr<ForecastFeed> m_forecasts;
    EventSource m_program = EventSource::Window;
    // Forecasts are worked out at the next commit: the first one of the run,
    // and after daily hours were recorded.
    bool m_forecastDue = true;
    StatusEndpointSettings m_endpointSettings;
    QString m_endpointAddressOverride;
    int m_endpointPortOverride = -1;
    bool m_reloadOnHangUp = false;
    bool m_shutDown = false;
};

// Raises the soft limit of open files to the hard limit, so that many
// projectors and monitoring connections never run out of descriptors.
void RaiseOpenFileLimit();

