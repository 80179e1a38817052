#include "status/StatusServer.h"

#include "core/AppState.h"
#include "platform/OpenFiles.h"
#include "history/EventReader.h"
#include "status/GuardedTcpServer.h"
#include "status/GzipBody.h"
#include "status/HistoryAnswers.h"
#include "status/HttpRules.h"
#include "status/RequestAudit.h"
#include "status/StatusTexts.h"
#include "status/TlsTcpServer.h"

#include <QHostAddress>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QHttpServerResponse>
#include <QJsonDocument>
#include <QJsonObject>
#include <QHttpServerRouter>
#include <QLoggingCategory>
#include <QNetworkInterface>
#include <QPointer>
#include <QTcpSocket>
#include <QTimeZone>
#include <QUrlQuery>

Q_LOGGING_CATEGORY(lcStatus, "norvik.status")

namespace {

using Method = QHttpServerRequest::Method;
using Status = QHttpServerResponse::StatusCode;

// A certificate this close to its end is renewed before clients refuse it.
constexpr qint64 ExpiryWarningDays = 14;
constexpr std::chrono::hours ExpiryCheckInterval{1};

// Writes an answer; to HEAD its status and headers only, as to GET.
void Send(QHttpServerResponder& to, const QHttpServerResponse& answer, bool headOnly) {
    if (!headOnly) {
        answer.write(std::move(to));
        return;
    }
    to.writeStatusLine(answer.statusCode());
    for (const QByteArray& name : AnswerHeaderNames())
        for (const QByteArray& value : answer.headers(name))
            to.writeHeader(name, value);
    to.writeHeader("Content-Length", QByteArray::number(answer.data().size()));
    to.writeBody(QByteArray());
}

bool IsHead(const QHttpServerRequest& request) {
    return request.method() == Method::Head;
}

bool IsGetOrHead(const QHttpServerRequest& request) {
    return request.method() == Method::Get || IsHead(request);
}

QHttpServerResponse NotARead() {
    return ErrorResponse(405, QStringLiteral("the route takes GET and HEAD"),
                         AllowedMethods("GET"));
}

} // namespace

bool IsLocalListenAddress(const QString& address) {
    const QHostAddress host(address);
    if (host.isNull())
        return false;
    if (host.isLoopback() || host == QHostAddress::AnyIPv4 || host == QHostAddress::AnyIPv6 ||
        host == QHostAddress::Any)
        return true;
    const QList<QHostAddress> local = QNetworkInterface::allAddresses();
    return local.contains(host);
}

StatusServer::StatusServer(AppState& state, StatusEndpointSettings settings, EndpointLimits limits,
                           QObject* parent)
    : QObject(parent), m_state(state), m_settings(std::move(settings)), m_limits(limits),
      m_tokens(m_settings.tokensFile, m_settings.token),
      m_control(state, m_tokens, QHostAddress(m_settings.address), false) {
    m_quiet.setSingleShot(true);
    m_quiet.setInterval(m_limits.quietPeriod);
    connect(&m_quiet, &QTimer::timeout, this, [this] {
        m_state.Health.clear(HealthCondition::EndpointLimits,
                             QStringLiteral("Status endpoint serving every client again"));
    });
    m_expiryCheck.setInterval(ExpiryCheckInterval);
    connect(&m_expiryCheck, &QTimer::timeout, this, &StatusServer::checkCertificateExpiry);
}

StatusServer::~StatusServer() = default;

bool StatusServer::start() {
    if (!IsLocalListenAddress(m_settings.address)) {
        m_problem = QStringLiteral("Status endpoint off: %1 is not an address of this machine")
                        .arg(m_settings.address);
        qCWarning(lcStatus).noquote() << m_problem;
        return false;
    }
    reloadTokens();
    const EndpointLimits fitted = FittedToOpenFiles(m_limits, CurrentOpenFilesLimit().soft);
    if (fitted.maxConnections < m_limits.maxConnections)
        qCWarning(lcStatus).noquote()
            << QStringLiteral("Status endpoint holds at most %1 connections instead of %2: the "
                              "open-files limit is %3 (raise it with LimitNOFILE= or ulimit -n)")
                   .arg(fitted.maxConnections)
                   .arg(m_limits.maxConnections)
                   .arg(CurrentOpenFilesLimit().soft);
    m_limits = fitted;
    m_http = std::make_unique<QHttpServer>();
    addRoutes();
    if (!listen()) {
        qCWarning(lcStatus).noquote() << m_problem;
        m_http.reset();
        m_tls = false;
        return false;
    }
    m_control.setTls(m_tls);
    connect(m_listener, &GuardedTcpServer::clientRefused, this, &StatusServer::clientRefused);
    if (!m_tokens.required() && !QHostAddress(m_settings.address).isLoopback()) {
        m_warning =
            QStringLiteral("Status endpoint on %1 port %2 has no token: anyone who can "
                           "reach the port reads the fleet; set Setting/StatusHttpToken or add "
                           "a token with norvik3d --add-token")
                .arg(m_settings.address)
                .arg(port());
        qCWarning(lcStatus).noquote() << m_warning;
    }
    return true;
}

// With a certificate and key set, TLS only: one that cannot be used leaves
// the endpoint off rather than serving the fleet, and its tokens, in clear.
bool StatusServer::listen() {
    GuardedTcpServer* listener = nullptr;
    if (m_settings.usesTls()) {
        QString why = QStringLiteral(
            "Setting/StatusHttpCertificate and Setting/StatusHttpKey are set together");
        std::optional<QSslConfiguration> tls;
        if (!m_settings.certificate.isEmpty() && !m_settings.key.isEmpty())
            tls = ServerTlsConfiguration(m_settings.certificate, m_settings.key,
                                         m_state.clock.now(), &why);
        if (!tls) {
            m_problem = QStringLiteral("Status endpoint off: no HTTPS: ") + why;
            return false;
        }
        auto* tlsListener = new TlsTcpServer(m_limits, *tls, m_http.get());
        connect(tlsListener, &TlsTcpServer::handshakeFailed, this,
                [](const QHostAddress& peer, const QString& reason) {
                    qCDebug(lcStatus).noquote()
                        << "TLS handshake with" << peer.toString() << "failed:" << reason;
                });
        listener = tlsListener;
        m_certificateExpiry = tls->localCertificate().expiryDate();
        m_tls = true;
    } else {
        listener = new GuardedTcpServer(m_limits, m_http.get());
    }
    if (!listener->listen(QHostAddress(m_settings.address), quint16(m_settings.port))) {
        m_problem = QStringLiteral("Status endpoint off: cannot listen on %1 port %2: %3")
                        .arg(m_settings.address)
                        .arg(m_settings.port)
                        .arg(listener->errorString());
        return false;
    }
    m_http->bind(listener);
    m_listener = listener;
    m_tlsListener = qobject_cast<TlsTcpServer*>(listener);
    if (m_tlsListener) {
        checkCertificateExpiry();
        m_expiryCheck.start();
    }
    return true;
}

// A certificate or key that cannot be used leaves the one serving in place:
// clients keep being answered while the operator mends the files.
void StatusServer::reloadCertificate(const QString& certificate, const QString& key) {
    if (!m_tlsListener)
        return;
    QString why =
        QStringLiteral("Setting/StatusHttpCertificate and Setting/StatusHttpKey are set together");
    std::optional<QSslConfiguration> tls;
    if (!certificate.isEmpty() && !key.isEmpty())
        tls = ServerTlsConfiguration(certificate, key, m_state.clock.now(), &why);
    if (!tls) {
        const QString text =
            QStringLiteral("Status endpoint keeps serving its previous certificate %1: %2")
                .arg(m_settings.certificate, why);
        qCWarning(lcStatus).noquote() << text;
        m_state.Health.raise(HealthCondition::CertificateRefused, text);
        return;
    }
    m_settings.certificate = certificate;
    m_settings.key = key;
    m_certificateExpiry = tls->localCertificate().expiryDate();
    m_tlsListener->setConfiguration(*tls);
    m_state.Health.clear(
        HealthCondition::CertificateRefused,
        QStringLiteral("Status endpoint serves the certificate %1").arg(certificate));
    checkCertificateExpiry();
}

void StatusServer::checkCertificateExpiry() {
    const QDateTime now = m_state.clock.now();
    if (now.daysTo(m_certificateExpiry) >= ExpiryWarningDays && m_certificateExpiry > now) {
        m_state.Health.clear(
            HealthCondition::CertificateExpiring,
            QStringLiteral("The endpoint's certificate %1 is valid until %2")
                .arg(m_settings.certificate, CertificateDate(m_certificateExpiry)));
        return;
    }
    const QString text =
        m_certificateExpiry <= now
            ? QStringLiteral("The endpoint's certificate %1 expired on %2: clients refuse it; "
                             "renew it (norvik3d reads it again on SIGHUP)")
            : QStringLiteral("The endpoint's certificate %1 expires on %2; renew it (norvik3d "
                             "reads it again on SIGHUP)");
    m_state.Health.raise(HealthCondition::CertificateExpiring,
                         text.arg(m_settings.certificate, CertificateDate(m_certificateExpiry)));
}

// Stays raised until a reload finds the file sound, so a refused file is
// not only in the log.
void StatusServer::reloadTokens() {
    const QStringList problems = m_tokens.reload();
    for (const QString& problem : problems)
        qCWarning(lcStatus).noquote() << problem;
    if (problems.isEmpty())
        m_state.Health.clear(
            HealthCondition::ApiTokensRefused,
            QStringLiteral("The API tokens file %1 is used again").arg(m_settings.tokensFile));
    else
        m_state.Health.raise(HealthCondition::ApiTokensRefused,
                             problems.join(QStringLiteral("; ")));
}

void StatusServer::clientRefused(RefusalReason reason, const QHostAddress& peer) {
    m_quiet.start();
    if (m_state.Health.isActive(HealthCondition::EndpointLimits))
        return;
    const QString client = ConnectionAdmission::normalized(peer).toString();
    QString what;
    switch (reason) {
    case RefusalReason::Connections:
        what = QStringLiteral("all %1 connections were in use").arg(m_limits.maxConnections);
        break;
    case RefusalReason::PerAddress:
        what = QStringLiteral("%1 already had %2 connections").arg(client).arg(m_limits.perAddress);
        break;
    case RefusalReason::Reserved:
        what = QStringLiteral("the last %1 connections are kept for this machine, %2 was turned "
                              "away")
                   .arg(m_limits.loopbackReserve)
                   .arg(client);
        break;
    case RefusalReason::Deadline:
        what = QStringLiteral("%1 did not send its request within %2 s")
                   .arg(client)
                   .arg(double(m_limits.requestDeadline.count()) / 1000.0);
        break;
    case RefusalReason::TooLarge:
        what = QStringLiteral("%1 sent a request over %2 KiB")
                   .arg(client)
                   .arg(m_limits.maxRequestBytes / 1024);
        break;
    case RefusalReason::Count:
        break;
    }
    m_state.Health.raise(HealthCondition::EndpointLimits,
                         QStringLiteral("Status endpoint at its limits: %1").arg(what));
}

RefusalCounts StatusServer::refusals() const {
    return m_listener ? m_listener->refusals() : RefusalCounts{};
}

bool StatusServer::isListening() const {
    return m_listener && m_listener->isListening();
}

quint16 StatusServer::port() const {
    return m_listener ? m_listener->serverPort() : 0;
}

const std::vector<StatusServer::Route>& StatusServer::RouteTable() {
    using Request = QHttpServerRequest;
    static const std::vector<Route> table = {
        {"GET", "/metrics",
         [](StatusServer& s, const QString&, const Request& r) {
             return s.read(r, &StatusServer::metrics);
         }},
        {"GET", "/api/v1/projectors",
         [](StatusServer& s, const QString&, const Request& r) {
             return s.read(r, &StatusServer::projectors);
         }},
        {"GET", "/api/v1/health",
         [](StatusServer& s, const QString&, const Request& r) { return s.health(r); }},
        // Answered by the history reader, later.
        {"GET", "/api/v1/events", nullptr},
        {"GET", "/api/v1/forecast",
         [](StatusServer& s, const QString&, const Request& r) {
             return s.read(r, &StatusServer::forecast);
         }},
        {"POST", "/api/v1/projectors/<id>/commands",
         [](StatusServer& s, const QString& id, const Request& r) {
             return s.m_control.projectorRoute(id, r);
         }},
        {"POST", "/api/v1/groups/<id>/commands",
         [](StatusServer& s, const QString& id, const Request& r) {
             return s.m_control.groupRoute(id, r);
         }},
        {"GET", "/api/v1/commands/<id>",
         [](StatusServer& s, const QString& id, const Request& r) {
             return s.m_control.commandRoute(id, r);
         }},
        {"POST", "/api/v1/schedule/start",
         [](StatusServer& s, const QString&, const Request& r) {
             return s.m_control.scheduleRoute(true, r);
         }},
        {"POST", "/api/v1/schedule/stop",
         [](StatusServer& s, const QString&, const Request& r) {
             return s.m_control.scheduleRoute(false, r);
         }},
    };
    return table;
}

QList<std::pair<QByteArray, QString>> StatusServer::Routes() {
    QList<std::pair<QByteArray, QString>> routes;
    for (const Route& route : RouteTable())
        routes.append({QByteArray(route.method), QString::fromLatin1(route.path)});
    return routes;
}

void StatusServer::addRoutes() {
    // The path comes decoded: a group's name may hold a '/' (sent as %2F),
    // so an argument may too.
    m_http->router()->addConverter(QMetaType::fromType<QString>(), QStringLiteral(".+"));
    for (const Route& route : RouteTable()) {
        const QString path = QString::fromLatin1(route.path);
        const auto answer = route.answer;
        if (!answer)
            m_http->route(
                path, [this](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
                    events(request, std::move(responder));
                });
        else if (path.contains(QLatin1String("<id>")))
            m_http->route(QString(path).replace(QStringLiteral("<id>"), QStringLiteral("<arg>")),
                          [this, answer](const QString& arg, const QHttpServerRequest& request,
                                         QHttpServerResponder&& responder) {
                              Send(responder, answer(*this, arg, request), IsHead(request));
                          });
        else
            m_http->route(path, [this, answer](const QHttpServerRequest& request,
                                               QHttpServerResponder&& responder) {
                Send(responder, answer(*this, QString(), request), IsHead(request));
            });
    }
    m_http->setMissingHandler(
        [](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
            Send(responder,
                 ErrorResponse(404, QStringLiteral("the endpoint has no route %1")
                                        .arg(Shortened(request.url().path(), 64))),
                 IsHead(request));
        });
}

bool StatusServer::authorized(const QHttpServerRequest& request) const {
    return !m_tokens.required() || m_tokens.find(request.value("Authorization"));
}

QHttpServerResponse
StatusServer::read(const QHttpServerRequest& request,
                   QHttpServerResponse (StatusServer::*answer)(const QHttpServerRequest&)) {
    if (!IsGetOrHead(request))
        return NotARead();
    if (!authorized(request))
        return ErrorResponse(401, QString::fromLatin1(UnauthorizedText));
    return (this->*answer)(request);
}

QHttpServerResponse StatusServer::metrics(const QHttpServerRequest& request) {
    const bool running = m_scheduleRunning && m_scheduleRunning();
    const QByteArray text = QByteArray::fromStdString(MetricsText(m_state, refusals(), running));
    const auto gzipped =
        AcceptsGzip(request.value("Accept-Encoding")) ? GzipCompressed(text) : std::nullopt;
    QHttpServerResponse response("text/plain; version=0.0.4; charset=utf-8",
                                 gzipped ? *gzipped : text);
    response.setHeader("Vary", "Accept-Encoding");
    if (gzipped)
        response.setHeader("Content-Encoding", "gzip");
    return response;
}

QHttpServerResponse StatusServer::projectors(const QHttpServerRequest&) {
    return QHttpServerResponse("application/json", ProjectorsJson(m_state));
}

// Answered without a token too, so that a refused tokens file can be seen:
// then only the status and its reasons, nothing of the fleet.
QHttpServerResponse StatusServer::health(const QHttpServerRequest& request) {
    if (!IsGetOrHead(request))
        return NotARead();
    const bool running = m_scheduleRunning && m_scheduleRunning();
    QByteArray json = HealthJson(m_state, running);
    if (!authorized(request)) {
        const QJsonObject whole = QJsonDocument::fromJson(json).object();
        const QJsonObject brief{{QStringLiteral("status"), whole[QStringLiteral("status")]},
                                {QStringLiteral("reasons"), whole[QStringLiteral("reasons")]}};
        json = QJsonDocument(brief).toJson(QJsonDocument::Compact);
    }
    // Failing is 503 too, for checks that read only the status code.
    return QHttpServerResponse("application/json", json,
                               HealthFailing(m_state) ? Status::ServiceUnavailable : Status::Ok);
}

QHttpServerResponse StatusServer::forecast(const QHttpServerRequest&) {
    return QHttpServerResponse("application/json",
                               ForecastJson(m_state, QDateTime::currentDateTime()));
}

// The page is read off the event loop; the answer goes out when it comes,
// unless the client has gone meanwhile.
void StatusServer::events(const QHttpServerRequest& request, QHttpServerResponder&& responder) {
    const bool head = IsHead(request);
    if (!IsGetOrHead(request))
        return Send(responder, NotARead(), head);
    if (!authorized(request))
        return Send(responder, ErrorResponse(401, QString::fromLatin1(UnauthorizedText)), head);
    const EventsRequestParse parse =
        ParseEventsRequest(QUrlQuery(request.url()), m_state, QTimeZone::systemTimeZone());
    if (!parse.request)
        return Send(responder, ErrorResponse(400, parse.error), head);
    const EventsRequest& asked = *parse.request;
    if (asked.matchesNothing)
        return Send(responder, QHttpServerResponse("application/json", EventsJson(EventPage{})),
                    head);
    if (!m_history)
        m_history = std::make_unique<EventReader>(
            m_state.ProgramFolder + QStringLiteral("/History.sqlite"), EventsReadBudget);
    auto waiting = std::make_shared<QHttpServerResponder>(std::move(responder));
    // The answer goes only to a connection that is still there.
    QPointer<QTcpSocket> socket = waiting->socket();
    const bool taken = m_history->readPage(
        asked.filter, asked.after, asked.limit, this,
        [waiting, socket, head](const EventPage& page) {
            if (!socket || socket->state() != QAbstractSocket::ConnectedState)
                return;
            if (!page.problem.isEmpty())
                return Send(*waiting, ErrorResponse(503, page.problem), head);
            Send(*waiting, QHttpServerResponse("application/json", EventsJson(page)), head);
        });
    if (!taken)
        Send(*waiting, ErrorResponse(503, QStringLiteral("The history is busy: try again shortly")),
             head);
}
