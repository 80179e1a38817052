// The endpoint over TLS with certificates the test makes with openssl: a
// client trusting the test CA is answered, one that does not fails its
// handshake, plain HTTP to the port gets nothing, only strong suites are
// offered, the connection limits still hold, a certificate near its end is
// a health warning, one that cannot be used leaves the endpoint off with its
// reason instead of serving in clear, and a broken renewal leaves the
// working certificate serving.

#include "core/AppState.h"
#include "status/ApiTokens.h"
#include "status/StatusServer.h"

#include "status/EndpointFetch.h"

#include <QDeadlineTimer>
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

    // A CA and a certificate it signed for 127.0.0.1, valid for `days`.
    bool makeAuthority(const QString& name, int days = 2) {
        const QString ec = QStringLiteral("ec:") + path("curve.pem");
        const QString valid = QString::number(days);
        return openssl({"req", "-x509", "-newkey", ec, "-nodes", "-keyout", name + "-ca.key",
                        "-out", name + "-ca.pem", "-days", valid, "-subj",
                        "/CN=" + name + " CA"}) &&
               openssl({"req", "-newkey", ec, "-nodes", "-keyout", name + "-server.key", "-out",
                        name + "-server.csr", "-subj", "/CN=127.0.0.1"}) &&
               openssl({"x509", "-req", "-in", name + "-server.csr", "-CA", name + "-ca.pem",
                        "-CAkey", name + "-ca.key", "-CAcreateserial", "-days", valid, "-out",
                        name + "-server.pem", "-extfile", "san.ext"}) &&
               QFile::setPermissions(path(name + "-server.key"),
                                     QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }

    // Whether openssl s_client completes a handshake with these options,
    // run without blocking the endpoint's event loop.
    bool handshakes(quint16 port, const QStringList& options) {
        QProcess client;
        client.setProcessChannelMode(QProcess::MergedChannels);
        client.start(QStringLiteral("openssl"),
                     QStringList{"s_client", "-brief", "-connect",
                                 QStringLiteral("127.0.0.1:%1").arg(port)} +
                         options);
        client.closeWriteChannel();
        QDeadlineTimer deadline(20000);
        while (client.state() != QProcess::NotRunning && !deadline.hasExpired())
            QTest::qWait(10);
        m_error = QString::fromLocal8Bit(client.readAll());
        return client.exitStatus() == QProcess::NormalExit && client.exitCode() == 0 &&
               m_error.contains(QLatin1String("Ciphersuite"));
    }

    QStringList reasonTexts(const AppState& state, HealthCondition condition) const {
        const HealthReport::Entry& entry = state.Health.entry(condition);
        return entry.active ? QStringList{entry.text} : QStringList{};
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
        QVERIFY(QFile::setPermissions(path("rsa.key"),
                                      QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        QVERIFY2(openssl({"req", "-x509", "-key", "rsa.key", "-out", "rsa.pem", "-days", "2",
                          "-subj", "/CN=127.0.0.1"}),
                 qPrintable(m_error));
        QVERIFY2(makeAuthority("long", 60), qPrintable(m_error));
        QVERIFY(QFile::copy(path("test-server.pem"), path("certificate-as.key")));
        QVERIFY(QFile::setPermissions(path("certificate-as.key"), QFileDevice::ReadOwner));
        QVERIFY(QFile::copy(path("test-server.key"), path("open.key")));
        QVERIFY(QFile::setPermissions(path("open.key"), QFileDevice::ReadOwner |
                                                            QFileDevice::WriteOwner |
                                                            QFileDevice::ReadOther));
    }

    // Only TLS 1.2 with an ephemeral elliptic-curve exchange and an AEAD
    // cipher, and TLS 1.3: no static RSA, no CBC, no older protocol.
    void offersStrongSuitesOnly_data() {
        QTest::addColumn<QString>("certificate");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("accepted");
        const auto tls12 = [](const char* cipher) {
            return QStringList{"-tls1_2", "-cipher", QString::fromLatin1(cipher)};
        };
        QTest::newRow("static RSA, CBC-SHA1") << "rsa" << tls12("AES128-SHA") << false;
        QTest::newRow("static RSA, GCM") << "rsa" << tls12("AES256-GCM-SHA384") << false;
        QTest::newRow("ECDHE-RSA, CBC-SHA1") << "rsa" << tls12("ECDHE-RSA-AES128-SHA") << false;
        QTest::newRow("ECDHE-RSA, CBC-SHA384")
            << "rsa" << tls12("ECDHE-RSA-AES256-SHA384") << false;
        QTest::newRow("DHE-RSA, GCM") << "rsa" << tls12("DHE-RSA-AES128-GCM-SHA256") << false;
        QTest::newRow("ECDHE-RSA, GCM") << "rsa" << tls12("ECDHE-RSA-AES128-GCM-SHA256") << true;
        QTest::newRow("ECDHE-RSA, ChaCha20")
            << "rsa" << tls12("ECDHE-RSA-CHACHA20-POLY1305") << true;
        QTest::newRow("ECDHE-ECDSA, CBC-SHA1") << "ec" << tls12("ECDHE-ECDSA-AES128-SHA") << false;
        QTest::newRow("ECDHE-ECDSA, GCM") << "ec" << tls12("ECDHE-ECDSA-AES256-GCM-SHA384") << true;
        QTest::newRow("TLS 1.3") << "ec" << QStringList{"-tls1_3"} << true;
        QTest::newRow("TLS 1.1") << "ec" << QStringList{"-tls1_1", "-cipher", "DEFAULT@SECLEVEL=0"}
                                 << false;
    }

    void offersStrongSuitesOnly() {
        QFETCH(QString, certificate);
        QFETCH(QStringList, options);
        QFETCH(bool, accepted);
        AppState state;
        StatusServer server(state, certificate == "rsa"
                                       ? tlsSettings("rsa.pem", "rsa.key")
                                       : tlsSettings("test-server.pem", "test-server.key"));
        QVERIFY2(server.start(), qPrintable(server.problem()));
        QVERIFY2(handshakes(server.port(), options) == accepted, qPrintable(m_error));
    }

    // Near its end a certificate serves with a warning in the health; past
    // it, the endpoint stays off and says so.
    void certificateExpiry_data() {
        QTest::addColumn<QString>("authority");
        QTest::addColumn<int>("daysAhead");
        QTest::addColumn<QString>("problem");
        QTest::addColumn<QString>("warning");
        QTest::newRow("60 days left") << "long" << 0 << ""
                                      << "";
        QTest::newRow("2 days left") << "test" << 0 << ""
                                     << "test-server.pem expires on";
        QTest::newRow("10 days left") << "long" << 50 << ""
                                      << "long-server.pem expires on";
        QTest::newRow("expired") << "test" << 3 << "test-server.pem expired on"
                                 << "";
    }

    void certificateExpiry() {
        QFETCH(QString, authority);
        QFETCH(int, daysAhead);
        QFETCH(QString, problem);
        QFETCH(QString, warning);
        AppState state;
        state.clock.set(QDateTime::currentDateTime().addDays(daysAhead));
        StatusServer server(state,
                            tlsSettings(authority + "-server.pem", authority + "-server.key"));
        QCOMPARE(server.start(), problem.isEmpty());
        QVERIFY2(server.problem().contains(problem), qPrintable(server.problem()));
        const QStringList expiring = reasonTexts(state, HealthCondition::CertificateExpiring);
        QCOMPARE(expiring.size(), warning.isEmpty() ? 0 : 1);
        if (!warning.isEmpty())
            QVERIFY2(expiring[0].contains(warning), qPrintable(expiring[0]));
    }

    // A renewed certificate is taken for the next connections; a broken one
    // leaves the old one serving and says why.
    void reloadKeepsAWorkingCertificate() {
        AppState state;
        StatusServer server(state, tlsSettings("test-server.pem", "test-server.key"));
        QVERIFY2(server.start(), qPrintable(server.problem()));
        const quint16 port = server.port();
        const auto status = [&](const char* ca) {
            return Fetch("https", port, "/api/v1/health", Token, trusting(path(ca))).status;
        };
        for (const QString& broken : {QStringLiteral("garbage.pem"), QStringLiteral("none.pem")}) {
            server.reloadCertificate(path(broken), path("test-server.key"));
            QCOMPARE(status("test-ca.pem"), 200);
            const QStringList refused = reasonTexts(state, HealthCondition::CertificateRefused);
            QCOMPARE(refused.size(), 1);
            QVERIFY2(refused[0].contains("keeps serving its previous certificate") &&
                         refused[0].contains(broken),
                     qPrintable(refused[0]));
        }
        server.reloadCertificate(path("test-server.pem"), path("open.key"));
        QVERIFY(
            reasonTexts(state, HealthCondition::CertificateRefused).value(0).contains("chmod 600"));
        server.reloadCertificate(path("long-server.pem"), path("long-server.key"));
        QCOMPARE(reasonTexts(state, HealthCondition::CertificateRefused), QStringList());
        QCOMPARE(reasonTexts(state, HealthCondition::CertificateExpiring), QStringList());
        QCOMPARE(status("long-ca.pem"), 200);
        QCOMPARE(status("test-ca.pem"), 0);
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
        QCOMPARE(Fetch("https", port, "/metrics", "wrong", trusting(path("test-ca.pem"))).status,
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
        QTest::newRow("key readable by others") << "test-server.pem"
                                                << "open.key"
                                                << "chmod 600";
        QTest::newRow("a certificate as key") << "test-server.pem"
                                              << "certificate-as.key"
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
