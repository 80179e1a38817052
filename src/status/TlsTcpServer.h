#pragma once

#include "status/GuardedTcpServer.h"

#include <QDateTime>
#include <QSslConfiguration>
#include <QString>

#include <optional>

// The suites the endpoint offers: TLS 1.3's, and TLS 1.2's with an
// ephemeral elliptic-curve key exchange and an AEAD cipher (GCM or
// ChaCha20-Poly1305). Static RSA and CBC suites are left out.
bool IsStrongCipher(const QString& name, QSsl::SslProtocol protocol);

// A certificate's date as its messages give it.
QString CertificateDate(const QDateTime& moment);

// The endpoint's certificate (with any chain after it) and private key from
// two PEM files, checked against each other, offering only strong suites.
// Nothing, with the reason in `problem`, when either cannot be read, the
// key is open to others, the certificate has expired by `now`, or they do
// not belong together.
std::optional<QSslConfiguration> ServerTlsConfiguration(const QString& certificateFile,
                                                        const QString& keyFile,
                                                        const QDateTime& now, QString* problem);

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

    // For the connections that start from now on; those under way keep theirs.
    void setConfiguration(QSslConfiguration configuration);

  signals:
    void handshakeFailed(const QHostAddress& peer, const QString& reason);

  protected:
    std::unique_ptr<QTcpSocket> makeSocket() override;
    void admitted(QTcpSocket* socket) override;

  private:
    QSslConfiguration m_configuration;
};
