#pragma once

#include "status/ApiTokens.h"
#include "status/ControlRoutes.h"
#include "status/EndpointLimits.h"
#include "status/StatusEndpointSettings.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class GuardedTcpServer;
class TlsTcpServer;
class EventReader;
class QHttpServerResponder;
class QHttpServer;
class QHttpServerRequest;
class QHttpServerResponse;
struct AppState;

// The read-only status endpoint: /metrics, /api/v1/projectors,
// /api/v1/health and /api/v1/forecast, answered on the event loop from the
// tables, and /api/v1/events, one page of the history file read off the
// event loop within EventsReadBudget and answered when it comes. It never
// stops
// the program: an address that is not this machine's or a port in use is
// logged and leaves the endpoint off. A client refused or cut off at the
// endpoint's limits raises HealthCondition::EndpointLimits, which clears once
// a quiet period passes without another. The health route answers a client
// without a valid token too, with its status and reasons only.
class StatusServer : public QObject {
    Q_OBJECT
  public:
    StatusServer(AppState& state, StatusEndpointSettings settings, EndpointLimits limits = {},
                 QObject* parent = nullptr);
    ~StatusServer() override;

    void setScheduleRunning(std::function<bool()> running) {
        m_scheduleRunning = std::move(running);
    }
    // The parts the control routes act through, and the observer the engine
    // should tell so that commands are followed to their outcome.
    void setControl(ControlParts parts) { m_control.setParts(std::move(parts)); }
    EngineObserver* controlObserver() { return &m_control; }
    // Every route the endpoint has: method and path pattern ("<id>" for a
    // path argument).
    static QList<std::pair<QByteArray, QString>> Routes();
    // How long one page of /api/v1/events may take to read; past it the
    // page holds what was found and a cursor to go on from.
    static constexpr std::chrono::milliseconds EventsReadBudget{200};
    // Starts listening; false (with the reason in problem()) when it cannot.
    bool start();
    bool isListening() const;
    quint16 port() const;
    QString problem() const { return m_problem; }
    // Set by start() when the endpoint listens beyond loopback without a
    // token; empty otherwise.
    QString warning() const { return m_warning; }
    // Serving TLS only (Setting/StatusHttpCertificate and StatusHttpKey).
    bool usesTls() const { return m_tls; }
    // Reads the tokens file again; what was wrong with it is logged.
    void reloadTokens();
    // Serving TLS: takes the certificate and key from these files for the
    // connections from now on, or keeps the ones serving and raises
    // HealthCondition::CertificateRefused with the reason.
    void reloadCertificate(const QString& certificate, const QString& key);

  private:
    // One route: its method, its path ("<id>" for the path argument) and
    // its answer, given the argument (empty without one); none for the
    // route answered later (the events).
    struct Route {
        const char* method;
        const char* path;
        QHttpServerResponse (*answer)(StatusServer&, const QString&, const QHttpServerRequest&);
    };
    static const std::vector<Route>& RouteTable();
    // True without tokens, or for a request with a token the endpoint knows.
    bool authorized(const QHttpServerRequest& request) const;
    // A read route: GET and HEAD only, with a token of any scope when tokens are set.
    QHttpServerResponse
    read(const QHttpServerRequest& request,
         QHttpServerResponse (StatusServer::*answer)(const QHttpServerRequest&));
    QHttpServerResponse metrics(const QHttpServerRequest& request);
    QHttpServerResponse projectors(const QHttpServerRequest& request);
    QHttpServerResponse health(const QHttpServerRequest& request);
    QHttpServerResponse forecast(const QHttpServerRequest& request);
    void addRoutes();
    bool listen();
    void events(const QHttpServerRequest& request, QHttpServerResponder&& responder);
    void clientRefused(RefusalReason reason, const QHostAddress& peer);
    RefusalCounts refusals() const;
    // Raises or clears HealthCondition::CertificateExpiring.
    void checkCertificateExpiry();

    AppState& m_state;
    StatusEndpointSettings m_settings;
    EndpointLimits m_limits;
    QTimer m_quiet;
    std::function<bool()> m_scheduleRunning;
    std::unique_ptr<QHttpServer> m_http;
    std::unique_ptr<EventReader> m_history; // made on the first events request
    GuardedTcpServer* m_listener = nullptr; // owned by m_http once bound
    TlsTcpServer* m_tlsListener = nullptr;  // the same, when serving TLS
    QDateTime m_certificateExpiry;
    QTimer m_expiryCheck;
    QString m_problem;
    QString m_warning;
    ApiTokens m_tokens;
    ControlRoutes m_control;
    bool m_tls = false;
};

// True for an address this machine can listen on: a local interface's
// address, the loopback range or the wildcard addresses.
bool IsLocalListenAddress(const QString& address);
