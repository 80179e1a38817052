// The endpoint over TLS with certificates the test makes with openssl: a
// client trusting the test CA is answered, one that does not fails its
// handshake, plain HTTP to the port gets nothing, the connection limits
// still hold, and a certificate or key that cannot be used leaves the
// endpoint off with its reason instead of serving in clear.

#include "core/AppState.h"
#include "status/ApiTokens.h"
#include "status/StatusServer.h"

#include "status/EndpointFetch.h"

#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QByteArray Token = "tls-token-0123";

} // namespace

class TestStatusTls : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_error;

    QString path(const QString& name) const { return m_dir.filePath(name); }

    bool openssl(const QStringList& arguments) {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setWorkingDirectory(m_dir.path());
        process.start(QStringLiteral("openssl"), arguments);
        if (!process.waitForFinished(60000) || process.exitCode() != 0) {
            m_error = QStringLiteral("openssl %1: %2")
                          .arg(arguments.join(' '), QString::fromLocal8Bit(process.readAll()));
            return false;
        }
        return true;
    }

    // A CA and a certificate it signed for 127.0.0.1.
    bool makeAuthority(const QString& name) {
        const QString ec = QStringLiteral("ec:") + path("curve.pem");
        return openssl({"req", "-x509", "-newkey", ec, "-nodes", "-keyout", name + "-ca.key",
                        "-out", name + "-ca.pem", "-days", "2", "-subj", "/CN=" + name + " CA"}) &&
               openssl({"req", "-newkey", ec, "-nodes", "-keyout", name + "-server.key", "-out",
                        name + "-server.csr", "-subj", "/CN=127.0.0.1"}) &&
               openssl({"x509", "-req", "-in", name + "-server.csr", "-CA", name + "-ca.pem",
                        "-CAkey", name + "-ca.key", "-CAcreateserial", "-days", "2", "-out",
                        name + "-server.pem", "-extfile", "san.ext"});
    }

    QSslConfiguration trusting(const QString& caFile) const {
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setCaCertificates(QSslCertificate::fromPath(caFile));
        return configuration;
    }

    StatusEndpointSettings tlsSettings(const QString& certificate, const QString& key) const {
        StatusEndpointSettings settings{"127.0.0.1", 0, QString::fromLatin1(Token)};
        settings.certificate = certificate.isEmpty() ? QString() : path(certificate);
        settings.key = key.isEmpty() ? QString() : path(key);
        return settings;
    }

  private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QFile ext(path("san.ext"));
        QVERIFY(ext.open(QIODevice::WriteOnly));
        ext.write("subjectAltName=IP:127.0.0.1\n");
        ext.close();
        QFile garbage(path("garbage.pem"));
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        garbage.write("-----BEGIN CERTIFICATE-----\nnot one\n-----END CERTIFICATE-----\n");
        garbage.close();
        QVERIFY2(openssl({"ecparam", "-name", "prime256v1", "-out", "curve.pem"}),
                 qPrintable(m_error));
        QVERIFY2(makeAuthority("test") && makeAuthority("other"), qPrintable(m_error));
        QVERIFY2(openssl({"genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048",
                          "-out", "rsa.key"}),
                 qPrintable(m_error));
    }

    void servesTlsOnly() {
        AppState state;
        StatusServer server(state, tlsSettings("test-server.pem", "test-server.key"));
        QVERIFY2(server.start(), qPrintable(server.problem()));
        QVERIFY(server.usesTls());
        const quint16 port = server.port();

        const Fetched trusted =
            Fetch("https", port, "/api/v1/health", Token, trusting(path("test-ca.pem")));
        QCOMPARE(trusted.status, 200);
        QVERIFY(trusted.body.contains("\"status\""));
        QCOMPARE(
            Fetch("https", port, "/api/v1/health", "wrong", trusting(path("test-ca.pem"))).status,
            401);

        const Fetched untrusting =
            Fetch("https", port, "/api/v1/health", Token, trusting(path("other-ca.pem")));
        QCOMPARE(untrusting.status, 0);
        QCOMPARE(untrusting.error, QNetworkReply::SslHandshakeFailedError);

        // Plain HTTP: closed without a byte of an answer.
        QTcpSocket plain;
        QByteArray heard;
        connect(&plain, &QTcpSocket::readyRead, &plain, [&] { heard += plain.readAll(); });
        connect(&plain, &QTcpSocket::connected, &plain, [&] {
            plain.write("GET /api/v1/health HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " +
                        Token + "\r\n\r\n");
        });
        plain.connectToHost(QHostAddress::LocalHost, port);
        QTRY_COMPARE_WITH_TIMEOUT(plain.state(), QAbstractSocket::UnconnectedState, 20000);
        QVERIFY(!heard.startsWith("HTTP/"));

        // The endpoint still answers after the failed handshakes.
        QCOMPARE(
            Fetch("https", port, "/api/v1/health", Token, trusting(path("test-ca.pem"))).status,
            200);
    }

    // A client that opens connections and never finishes a handshake holds
    // its slots only within the limits; a trusting client is still served.
    void limitsHoldDuringHandshakes() {
        AppState state;
        EndpointLimits limits;
        limits.perAddress = 2;
        limits.requestDeadline = std::chrono::milliseconds(500);
        StatusServer server(state, tlsSettings("test-server.pem", "test-server.key"), limits);
        QVERIFY2(server.start(), qPrintable(server.problem()));
        std::vector<std::unique_ptr<QTcpSocket>> silent;
        for (int i = 0; i < 4; ++i) {
            silent.push_back(std::make_unique<QTcpSocket>());
            silent.back()->bind(QHostAddress(QStringLiteral("127.0.0.2")));
            silent.back()->connectToHost(QHostAddress::LocalHost, server.port());
        }
        // All four end: two refused at once, two at their deadline.
        for (const auto& socket : silent)
            QTRY_COMPARE_WITH_TIMEOUT(socket->state(), QAbstractSocket::UnconnectedState, 20000);
        QVERIFY(state.Health.isActive(HealthCondition::EndpointLimits));
        QCOMPARE(
            Fetch("https", server.port(), "/api/v1/health", Token, trusting(path("test-ca.pem")))
                .status,
            200);
    }

    void unusableStaysOff_data() {
        QTest::addColumn<QString>("certificate");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("reason");
        QTest::newRow("key of another certificate") << "test-server.pem"
                                                    << "other-server.key"
                                                    << "does not fit";
        QTest::newRow("RSA key to an EC certificate") << "test-server.pem"
                                                      << "rsa.key"
                                                      << "does not fit";
        QTest::newRow("missing certificate") << "none.pem"
                                             << "test-server.key"
                                             << "none.pem";
        QTest::newRow("missing key") << "test-server.pem"
                                     << "none.key"
                                     << "none.key";
        QTest::newRow("not a certificate") << "garbage.pem"
                                           << "test-server.key"
                                           << "garbage.pem";
        QTest::newRow("a certificate as key") << "test-server.pem"
                                              << "test-server.pem"
                                              << "no PEM private key";
        QTest::newRow("certificate alone") << "test-server.pem"
                                           << ""
                                           << "set together";
        QTest::newRow("key alone") << ""
                                   << "test-server.key"
                                   << "set together";
    }

    void unusableStaysOff() {
        QFETCH(QString, certificate);
        QFETCH(QString, key);
        QFETCH(QString, reason);
        AppState state;
        StatusServer server(state, tlsSettings(certificate, key));
        QVERIFY(!server.start());
        QVERIFY(!server.isListening());
        QVERIFY2(server.problem().startsWith("Status endpoint off: no HTTPS"),
                 qPrintable(server.problem()));
        QVERIFY2(server.problem().contains(reason), qPrintable(server.problem()));
    }

    void controlAllowed_data() {
        QTest::addColumn<QString>("listen");
        QTest::addColumn<bool>("tls");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("loopback, plain") << "127.0.0.1" << false << true;
        QTest::newRow("other loopback, plain") << "127.0.0.5" << false << true;
        QTest::newRow("IPv6 loopback, plain") << "::1" << false << true;
        QTest::newRow("any, plain") << "0.0.0.0" << false << false;
        QTest::newRow("network, plain") << "192.0.2.1" << false << false;
        QTest::newRow("network, TLS") << "192.0.2.1" << true << true;
        QTest::newRow("any, TLS") << "0.0.0.0" << true << true;
    }

    void controlAllowed() {
        QFETCH(QString, listen);
        QFETCH(bool, tls);
        QFETCH(bool, allowed);
        QCOMPARE(ControlAllowedOn(QHostAddress(listen), tls), allowed);
    }
};

QTEST_GUILESS_MAIN(TestStatusTls)
#include "test_status_tls.moc"
