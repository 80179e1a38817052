#pragma once

#include "status/GuardedTcpServer.h"

#include <QSslConfiguration>
#include <QString>

#include <optional>

// The endpoint's certificate (with any chain after it) and private key from
// two PEM files, checked against each other. Nothing, with the reason in
// `problem`, when either cannot be read or they do not belong together.
std::optional<QSslConfiguration> ServerTlsConfiguration(const QString& certificateFile,
                                                        const QString& keyFile, QString* problem);

// A GuardedTcpServer that speaks TLS only: each admitted connection does
// its handshake first and reaches the HTTP server once encrypted. The
// handshake counts against the request's deadline, so a client that never
// finishes it holds its slot no longer than one that never sends a request;
// one that fails it (plain HTTP, a client not trusting the certificate) is
// closed without an answer.
class TlsTcpServer : public GuardedTcpServer {
    Q_OBJECT
  public:
    TlsTcpServer(const EndpointLimits& limits, QSslConfiguration configuration,
                 QObject* parent = nullptr);

  signals:
    void handshakeFailed(const QHostAddress& peer, const QString& reason);

  protected:
    std::unique_ptr<QTcpSocket> makeSocket() override;
    void admitted(QTcpSocket* socket) override;

  private:
    QSslConfiguration m_configuration;
};
