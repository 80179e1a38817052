#include "status/TlsTcpServer.h"

#include "platform/SafeFile.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslCipher>
#include <QSslKey>
#include <QSslSocket>

#include <sys/socket.h>
#include <unistd.h>

namespace {

// A certificate chain or a key is a few KiB.
constexpr qint64 MaxPemBytes = 1024 * 1024;

std::optional<QByteArray> readPem(const QString& path, const QString& what, QString* problem) {
    QString error;
    std::optional<QByteArray> bytes = ReadRegularFile(path, &error, MaxPemBytes);
    if (!bytes)
        *problem = QStringLiteral("the %1 %2 cannot be read: %3")
                       .arg(what, path, error.isEmpty() ? QStringLiteral("no such file") : error);
    return bytes;
}

// A key that others may read is no longer a secret; one they may change is
// not ours.
constexpr QFileDevice::Permissions KeyOpenToOthers =
    QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::WriteGroup;

QSslKey privateKeyOf(const QByteArray& pem) {
    for (const QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
        QSslKey key(pem, algorithm, QSsl::Pem, QSsl::PrivateKey);
        if (!key.isNull())
            return key;
    }
    return {};
}

// The TLS library checks that key and certificate belong together when it
// builds a context, which a server socket does as it starts its handshake.
// A socket over one end of a local pair gets that far at once and reports
// a refusal there; nothing is sent, and nothing waits.
QString contextProblem(const QSslConfiguration& configuration) {
    int ends[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return QStringLiteral("no local socket pair to check the key with");
    QString problem;
    {
        QSslSocket probe;
        QObject::connect(&probe, &QSslSocket::errorOccurred, &probe,
                         [&probe, &problem](QAbstractSocket::SocketError error) {
                             if (error == QAbstractSocket::SslInternalError ||
                                 error == QAbstractSocket::SslInvalidUserDataError)
                                 problem = probe.errorString();
                         });
        if (probe.setSocketDescriptor(ends[0])) {
            probe.setSslConfiguration(configuration);
            probe.startServerEncryption();
            probe.abort();
        } else {
            ::close(ends[0]);
            problem = QStringLiteral("no local socket to check the key with");
        }
    }
    ::close(ends[1]);
    return problem;
}

} // namespace

bool IsStrongCipher(const QString& name, QSsl::SslProtocol protocol) {
    if (protocol == QSsl::TlsV1_3)
        return name.startsWith(QLatin1String("TLS_"));
    if (protocol != QSsl::TlsV1_2 || !name.startsWith(QLatin1String("ECDHE-")))
        return false;
    return name.contains(QLatin1String("-GCM-")) ||
           name.endsWith(QLatin1String("-CHACHA20-POLY1305"));
}

QList<QSslCipher> StrongCiphers() {
    QList<QSslCipher> strong;
    for (const QSslCipher& cipher : QSslConfiguration::supportedCiphers())
        if (IsStrongCipher(cipher.name(), cipher.protocol()))
            strong << cipher;
    return strong;
}

QString CertificateDate(const QDateTime& moment) {
    return moment.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm 'UTC'"));
}

std::optional<QSslConfiguration> ServerTlsConfiguration(const QString& certificateFile,
                                                        const QString& keyFile,
                                                        const QDateTime& now, QString* problem) {
    if (!QSslSocket::supportsSsl()) {
        *problem = QStringLiteral("this machine's Qt has no TLS library");
        return std::nullopt;
    }
    const std::optional<QByteArray> certificatePem =
        readPem(certificateFile, QStringLiteral("certificate"), problem);
    if (!certificatePem)
        return std::nullopt;
    if (QFile::exists(keyFile) && (QFile::permissions(keyFile) & KeyOpenToOthers)) {
        *problem = QStringLiteral("the key %1 is open to others than its owner and is not used; "
                                  "make it readable by its owner only (chmod 600)")
                       .arg(keyFile);
        return std::nullopt;
    }
    const std::optional<QByteArray> keyPem = readPem(keyFile, QStringLiteral("key"), problem);
    if (!keyPem)
        return std::nullopt;
    const QList<QSslCertificate> chain = QSslCertificate::fromData(*certificatePem, QSsl::Pem);
    if (chain.isEmpty() || chain.first().isNull()) {
        *problem = QStringLiteral("%1 holds no PEM certificate").arg(certificateFile);
        return std::nullopt;
    }
    if (const QDateTime expiry = chain.first().expiryDate(); expiry <= now) {
        *problem = QStringLiteral("the certificate %1 expired on %2; renew it")
                       .arg(certificateFile, CertificateDate(expiry));
        return std::nullopt;
    }
    const QSslKey key = privateKeyOf(*keyPem);
    if (key.isNull()) {
        *problem = QStringLiteral("%1 holds no PEM private key (an encrypted key cannot be used)")
                       .arg(keyFile);
        return std::nullopt;
    }
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificateChain(chain);
    configuration.setPrivateKey(key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    configuration.setCiphers(StrongCiphers());
    if (const QString refused = contextProblem(configuration); !refused.isEmpty()) {
        QString detail = refused.trimmed();
        while (detail.endsWith(QLatin1Char(':')))
            detail.chop(1);
        *problem = QStringLiteral("the key %1 does not fit the certificate %2 (%3)")
                       .arg(keyFile, certificateFile, detail);
        return std::nullopt;
    }
    return configuration;
}

TlsTcpServer::TlsTcpServer(const EndpointLimits& limits, QSslConfiguration configuration,
                           QObject* parent)
    : GuardedTcpServer(limits, parent), m_configuration(std::move(configuration)) {}

void TlsTcpServer::setConfiguration(QSslConfiguration configuration) {
    m_configuration = std::move(configuration);
}

std::unique_ptr<QTcpSocket> TlsTcpServer::makeSocket() {
    auto socket = std::make_unique<QSslSocket>(this);
    socket->setSslConfiguration(m_configuration);
    return socket;
}

void TlsTcpServer::admitted(QTcpSocket* plain) {
    auto* socket = static_cast<QSslSocket*>(plain);
    connect(socket, &QSslSocket::encrypted, this, [this, socket] { addPendingConnection(socket); });
    const auto failed = [this, socket] {
        if (socket->isEncrypted())
            return;
        socket->disconnect(this);
        emit handshakeFailed(socket->peerAddress(), socket->errorString());
        socket->abort();
        socket->deleteLater();
    };
    connect(socket, &QSslSocket::errorOccurred, this, failed);
    socket->startServerEncryption();
}
