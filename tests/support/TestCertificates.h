#pragma once

// Certificates for TLS tests, made with openssl in a temporary folder: a test
// CA, a server certificate for 127.0.0.1 signed by it, one for another name,
// an expired one and a self-signed one.
//
//   TestCertificates certs;
//   QVERIFY2(certs.isReady(), qPrintable(certs.errorString()));
//   SmtpSink sink(SmtpSink::Accept, {"--cert", certs.serverCert(), "--key", certs.key(), ...});

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class TestCertificates {
  public:
    TestCertificates() {
        const QString cnf = m_dir.filePath(QStringLiteral("ext.cnf"));
        QFile ext(cnf);
        if (!ext.open(QIODevice::WriteOnly)) {
            fail(QStringLiteral("cannot write ext.cnf"));
            return;
        }
        ext.write("[ip]\nsubjectAltName=IP:127.0.0.1\n"
                  "[other]\nsubjectAltName=DNS:mail.example.com\n");
        ext.close();
        const bool ok =
            run({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", path("ca.key"), "-out",
                 path("ca.pem"), "-days", "2", "-subj", "/CN=Norvik3 Test CA"}) &&
            run({"req", "-newkey", "rsa:2048", "-nodes", "-keyout", path("server.key"), "-out",
                 path("server.csr"), "-subj", "/CN=127.0.0.1"}) &&
            sign("server.pem", "ip", "2") && sign("other.pem", "other", "2") &&
            run({"req", "-x509", "-key", path("server.key"), "-out", path("self.pem"), "-days", "2",
                 "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"}) &&
            expired();
        m_ready = ok;
    }

    bool isReady() const { return m_ready; }
    QString errorString() const { return m_error; }
    QString caCert() const { return path("ca.pem"); }
    QString key() const { return path("server.key"); }
    QString serverCert() const { return path("server.pem"); }
    QString otherNameCert() const { return path("other.pem"); }
    QString selfSignedCert() const { return path("self.pem"); }
    QString expiredCert() const { return path("expired.pem"); }

  private:
    QString path(const char* name) const { return m_dir.filePath(QLatin1String(name)); }

    bool sign(const char* out, const char* section, const char* days) {
        return run({"x509", "-req", "-in", path("server.csr"), "-CA", path("ca.pem"), "-CAkey",
                    path("ca.key"), "-CAcreateserial", "-out", path(out), "-days", days, "-extfile",
                    path("ext.cnf"), "-extensions", section});
    }

    // A certificate whose validity ended yesterday (openssl x509 has no
    // start date option; the CA's "ca" command has one).
    bool expired() {
        QFile conf(path("ca.cnf"));
        if (!conf.open(QIODevice::WriteOnly))
            return false;
        conf.write(QStringLiteral("[ca]\ndefault_ca=test\n[test]\ndatabase=%1\nnew_certs_dir=%2\n"
                                  "serial=%3\ndefault_md=sha256\npolicy=any\ncopy_extensions=none\n"
                                  "[any]\ncommonName=supplied\n[ip]\nsubjectAltName=IP:127.0.0.1\n")
                       .arg(path("index.txt"), m_dir.path(), path("serial"))
                       .toUtf8());
        conf.close();
        QFile index(path("index.txt"));
        QFile serial(path("serial"));
        if (!index.open(QIODevice::WriteOnly) || !serial.open(QIODevice::WriteOnly))
            return false;
        serial.write("1000\n");
        index.close();
        serial.close();
        return run({"ca", "-batch", "-config", path("ca.cnf"), "-in", path("server.csr"), "-out",
                    path("expired.pem"), "-cert", path("ca.pem"), "-keyfile", path("ca.key"),
                    "-startdate", "20200101000000Z", "-enddate", "20200201000000Z", "-extensions",
                    "ip", "-notext"});
    }

    bool run(const QStringList& arguments) {
        QProcess openssl;
        openssl.setProcessChannelMode(QProcess::MergedChannels);
        openssl.start(QStringLiteral("openssl"), arguments);
        if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0) {
            fail(QStringLiteral("openssl %1: %2")
                     .arg(arguments.join(' '), QString::fromLocal8Bit(openssl.readAll())));
            return false;
        }
        return true;
    }

    void fail(const QString& error) { m_error = error; }

    QTemporaryDir m_dir;
    bool m_ready = false;
    QString m_error;
};
