#include "status/StatusServer.h"

#include "status/GuardedTcpServer.h"
#include "status/StatusTexts.h"

#include <QHostAddress>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QLoggingCategory>
#include <QNetworkInterface>

Q_LOGGING_CATEGORY(lcStatus, "norvik.status")

namespace {

using Method = QHttpServerRequest::Method;
using Status = QHttpServerResponse::StatusCode;

QHttpServerResponse plain(Status status, const QByteArray& text) {
    return QHttpServerResponse("text/plain; charset=utf-8", text + '\n', status);
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

StatusServer::StatusServer(const AppState& state, StatusEndpointSettings settings, QObject* parent)
    : QObject(parent), m_state(state), m_settings(std::move(settings)) {}

StatusServer::~StatusServer() = default;

bool StatusServer::start() {
    if (!IsLocalListenAddress(m_settings.address)) {
        m_problem = QStringLiteral("Status endpoint off: %1 is not an address of this machine")
                        .arg(m_settings.address);
        qCWarning(lcStatus).noquote() << m_problem;
        return false;
    }
    m_http = std::make_unique<QHttpServer>();
    addRoutes();
    auto* listener = new GuardedTcpServer(m_http.get());
    if (!listener->listen(QHostAddress(m_settings.address), quint16(m_settings.port))) {
        m_problem = QStringLiteral("Status endpoint off: cannot listen on %1 port %2: %3")
                        .arg(m_settings.address)
                        .arg(m_settings.port)
                        .arg(listener->errorString());
        qCWarning(lcStatus).noquote() << m_problem;
        m_http.reset();
        return false;
    }
    m_http->bind(listener);
    m_listener = listener;
    return true;
}

bool StatusServer::isListening() const {
    return m_listener && m_listener->isListening();
}

quint16 StatusServer::port() const {
    return m_listener ? m_listener->serverPort() : 0;
}

void StatusServer::addRoutes() {
    // Every route checks the method and the token itself: GET only, and
    // "Authorization: Bearer <token>" when a token is set.
    const auto guarded = [this](auto answer) {
        return [this, answer](const QHttpServerRequest& request) {
            if (request.method() != Method::Get)
                return plain(Status::MethodNotAllowed, "method not allowed");
            if (!m_settings.token.isEmpty() &&
                request.value("Authorization") != "Bearer " + m_settings.token.toUtf8()) {
                QHttpServerResponse denied = plain(Status::Unauthorized, "unauthorized");
                denied.setHeader("WWW-Authenticate", "Bearer");
                return denied;
            }
            return answer();
        };
    };
    m_http->route(QStringLiteral("/metrics"), guarded([this] {
                      const std::string text = MetricsText(m_state);
                      return QHttpServerResponse("text/plain; version=0.0.4; charset=utf-8",
                                                 QByteArray::fromStdString(text));
                  }));
    m_http->route(QStringLiteral("/api/v1/projectors"), guarded([this] {
                      return QHttpServerResponse("application/json", ProjectorsJson(m_state));
                  }));
    m_http->route(QStringLiteral("/api/v1/health"), guarded([this] {
                      const bool running = m_scheduleRunning && m_scheduleRunning();
                      return QHttpServerResponse("application/json", HealthJson(m_state, running));
                  }));
}
