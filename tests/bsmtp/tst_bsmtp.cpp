// BSendMail and NORSEND_SendMail against a real SMTP server on 127.0.0.1.

#include "support/SmtpSink.h"
#include "support/TestCertificates.h"

#include "NorSend.h"
#include "bsmtp.h"

#include <QTcpServer>

#include <QTemporaryDir>
#include <QtTest>
#include <cstring>

namespace {

struct Mail {
    QByteArray server;
    QByteArray recipients = "a@example.com";
    QByteArray from = "norvik@example.com";
    QByteArray subject = "Alert";
    QByteArray body = "Time:1\r\nMessage:x\r\n";
    QByteArray attachment;
};

int32_t send(const Mail& m, int32_t* status = nullptr) {
    int32_t local = 12345;
    return BSendMail(m.server.constData(), m.recipients.constData(), m.from.constData(),
                     m.subject.constData(), m.body.constData(), m.attachment.constData(),
                     status ? status : &local);
}

struct Login {
    QByteArray user;
    QByteArray password;
    QByteArray security;
    QByteArray port;
    QByteArray caFile;
};

struct Sent {
    int32_t result = -1;
    BSmtpReport report{};
    QString reason() const { return QString::fromUtf8(report.text); }
    QStringList refused() const {
        return QString::fromUtf8(report.refused).split('\t', Qt::SkipEmptyParts);
    }
};

Mail basic(const QByteArray& server, const QByteArray& recipients = "a@x",
           const QByteArray& from = "n@x") {
    return {server, recipients, from, "s", "b", ""};
}

Sent sendEx(const Mail& m, const Login& login = {}) {
    const BSmtpSettings settings{login.user.constData(), login.password.constData(),
                                 login.security.constData(), login.port.constData(),
                                 login.caFile.constData()};
    Sent sent;
    std::memset(&sent.report, 0x55, sizeof sent.report); // every field must be written
    sent.result = BSendMailEx(m.server.constData(), m.recipients.constData(), m.from.constData(),
                              m.subject.constData(), m.body.constData(), m.attachment.constData(),
                              &settings, &sent.report);
    return sent;
}

QStringList tlsOptions(const TestCertificates& certs, const QString& cert) {
    return {QStringLiteral("--cert"), cert, QStringLiteral("--key"), certs.key()};
}

QString unixLines(QString text) {
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

} // namespace

class TestBsmtp : public QObject {
    Q_OBJECT

  private slots:
    void headersAndEnvelopeFollowTheRecipientText();
    void nonAsciiSubjectAndBodyArriveDecoded();
    void attachmentIsDeliveredByteForByte();
    void lineBreaksInHeaderFieldsAreRefusedWithoutSending();
    void badArgumentsAreRefused_data();
    void badArgumentsAreRefused();
    void unreachableOrRefusingServersGiveZero();
    void silentServerIsBoundedByTheTimeout();
    void norsendPassesThroughUnchanged();
    void refusedRecipientDoesNotStopTheMail();
    void unreadableAttachmentIsLeftOutAndNoted();
    void reasonsOfFailuresBeforeAndDuringTheDialogue();
    void startTlsWithLoginDelivers();
    void untrustedCertificatesAreRefused();
    void implicitTlsOnItsOwnPort();
    void securitySettingsAreHonoured();
    void droppedConnectionsAreConnectionLost();
};

void TestBsmtp::headersAndEnvelopeFollowTheRecipientText() {
    SmtpSink sink;
    QVERIFY2(sink.isReady(), qPrintable(sink.errorString()));
    Mail m;
    m.server = sink.server().toLatin1();
    m.recipients = "a@example.com\tb@example.com\tcc\tc@example.com\tbcc\td@example.com";
    m.from = "Norvik <norvik@example.com>";
    m.body = "Time:2026/12/08 01:00\r\n.\r\nline with LF only\nMessage:end\r\n";
    int32_t status = -99;
    QCOMPARE(send(m, &status), 1);
    QCOMPARE(status, 0);
    QVERIFY(sink.waitForMails(1));
    const ReceivedMail mail = sink.mails().first();
    QCOMPARE(mail.mailFrom, QStringLiteral("norvik@example.com"));
    QCOMPARE(mail.rcptTos,
             QStringList({"a@example.com", "b@example.com", "c@example.com", "d@example.com"}));
    QCOMPARE(mail.header("To"), QStringList{"a@example.com, b@example.com"});
    QCOMPARE(mail.header("Cc"), QStringList{"c@example.com"});
    QVERIFY(!mail.hasHeader("Bcc"));
    // The blind copy address appears nowhere in the message (a Message-ID
    // may end in "...d@example.com", hence the word boundary).
    QVERIFY2(!mail.raw.contains(QRegularExpression(QStringLiteral("\\bd@example\\.com"))),
             qPrintable(mail.raw));
    QCOMPARE(mail.header("From"), QStringList{"Norvik <norvik@example.com>"});
    QCOMPARE(mail.header("Date").size(), 1);
    QCOMPARE(mail.header("Message-ID").size(), 1);
    QVERIFY(mail.header("Message-ID").first().endsWith(QStringLiteral("@example.com>")));
    // A lone "." line survives the SMTP end-of-data marker.
    QCOMPARE(unixLines(mail.text),
             QStringLiteral("Time:2026/12/08 01:00\n.\nline with LF only\nMessage:end\n"));
    QVERIFY2(mail.defects.isEmpty(), qPrintable(mail.defects.join(',')));

    // Only Cc addresses: no To header, still sent.
    m.recipients = "\tcc\tc@example.com";
    QCOMPARE(send(m), 1);
    QVERIFY(sink.waitForMails(2));
    const ReceivedMail second = sink.mails().at(1);
    QVERIFY(!second.hasHeader("To"));
    QCOMPARE(second.header("Cc"), QStringList{"c@example.com"});
}

void TestBsmtp::nonAsciiSubjectAndBodyArriveDecoded() {
    SmtpSink sink;
    QVERIFY2(sink.isReady(), qPrintable(sink.errorString()));
    Mail m;
    m.server = sink.server().toLatin1();
    const QString subject = QStringLiteral("Störung Projektor Süd – 投影机故障 ") +
                            QString(QStringLiteral("ÄÖÜ")).repeated(20);
    const QString body = QStringLiteral("Message:Lampe défectueuse ✓\r\n");
    m.subject = subject.toUtf8();
    m.body = body.toUtf8();
    QCOMPARE(send(m), 1);
    QVERIFY(sink.waitForMails(1));
    const ReceivedMail mail = sink.mails().first();
    QCOMPARE(mail.header("Subject"), QStringList{subject});
    QCOMPARE(unixLines(mail.text), unixLines(body));
    const QString rawSubject =
        mail.raw.section(QStringLiteral("Subject: "), 1).section(QStringLiteral("\r\n"), 0, 0);
    QVERIFY(rawSubject.startsWith(QStringLiteral("=?UTF-8?B?")));
    for (const QString& line : mail.raw.split(QStringLiteral("\r\n")))
        QVERIFY2(line.size() <= 998, "line too long");
    QVERIFY2(mail.defects.isEmpty(), qPrintable(mail.defects.join(',')));
}

void TestBsmtp::attachmentIsDeliveredByteForByte() {
    SmtpSink sink;
    QVERIFY2(sink.isReady(), qPrintable(sink.errorString()));
    QTemporaryDir dir;
    QByteArray content;
    for (int i = 0; i < 5000; ++i)
        content.append(char(i * 7 % 256));
    for (const QString& name : {QStringLiteral("status.bin"), QStringLiteral("Bericht März.txt")}) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        Mail m;
        m.server = sink.server().toLatin1();
        m.attachment = file.fileName().toUtf8();
        QCOMPARE(send(m), 1);
    }
    QVERIFY(sink.waitForMails(2));
    const auto mails = sink.mails();
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(mails[i].attachments.size(), 1);
        QCOMPARE(mails[i].attachments.first().data, content);
        QCOMPARE(unixLines(mails[i].text), QStringLiteral("Time:1\nMessage:x\n"));
    }
    QCOMPARE(mails[0].attachments.first().fileName, QStringLiteral("status.bin"));
    QCOMPARE(mails[1].attachments.first().fileName, QStringLiteral("Bericht März.txt"));

    // Missing file and a folder: refused, nothing sent.
    Mail m;
    m.server = sink.server().toLatin1();
    int32_t status = 0;
    m.attachment = dir.filePath(QStringLiteral("missing.txt")).toUtf8();
    QCOMPARE(send(m, &status), 0);
    QCOMPARE(status, -2);
    m.attachment = dir.path().toUtf8();
    QCOMPARE(send(m, &status), 0);
    QCOMPARE(status, -2);
    QCOMPARE(sink.mails().size(), 2);
}

void TestBsmtp::lineBreaksInHeaderFieldsAreRefusedWithoutSending() {
    SmtpSink sink;
    QVERIFY2(sink.isReady(), qPrintable(sink.errorString()));
    const QByteArray server = sink.server().toLatin1();
    const QList<Mail> injected = {
        {server, "a@example.com", "n@example.com", "Alert\r\nBcc: evil@example.com", "x", ""},
        {server, "a@example.com", "n@example.com", "Alert\nX-Evil: 1", "x", ""},
        {server, "a@example.com", "n@example.com\r\nBcc: evil@example.com", "Alert", "x", ""},
        {server, "a@example.com\r\nevil@example.com", "n@example.com", "Alert", "x", ""},
        {server, "a@example.com\tcc\tb@example.com\rX", "n@example.com", "Alert", "x", ""},
        {server + "\r\n", "a@example.com", "n@example.com", "Alert", "x", ""},
    };
    for (const Mail& m : injected) {
        int32_t status = 0;
        QCOMPARE(send(m, &status), 0);
        QCOMPARE(status, -1);
    }
    // The server works: one good mail is the only one that arrives.
    Mail good;
    good.server = server;
    QCOMPARE(send(good), 1);
    QVERIFY(sink.waitForMails(1));
    QCOMPARE(sink.mails().size(), 1);
    QVERIFY(!sink.mails().first().raw.contains(QStringLiteral("evil")));
}

void TestBsmtp::badArgumentsAreRefused_data() {
    QTest::addColumn<QByteArray>("server");
    QTest::addColumn<QByteArray>("recipients");
    QTest::addColumn<QByteArray>("from");
    QTest::newRow("no recipients")
        << QByteArray("127.0.0.1:2525") << QByteArray("") << QByteArray("n@x");
    QTest::newRow("only markers") << QByteArray("127.0.0.1:2525") << QByteArray("\tcc\t\tbcc\t")
                                  << QByteArray("n@x");
    QTest::newRow("empty server") << QByteArray("") << QByteArray("a@x") << QByteArray("n@x");
    QTest::newRow("port not a number")
        << QByteArray("127.0.0.1:abc") << QByteArray("a@x") << QByteArray("n@x");
    QTest::newRow("port too large")
        << QByteArray("127.0.0.1:70000") << QByteArray("a@x") << QByteArray("n@x");
    QTest::newRow("host with blank")
        << QByteArray("mail host") << QByteArray("a@x") << QByteArray("n@x");
    QTest::newRow("host with path")
        << QByteArray("mail/host:25") << QByteArray("a@x") << QByteArray("n@x");
    QTest::newRow("other scheme") << QByteArray("http://127.0.0.1:2525") << QByteArray("a@x")
                                  << QByteArray("n@x");
    QTest::newRow("empty sender") << QByteArray("127.0.0.1:2525") << QByteArray("a@x")
                                  << QByteArray("");
    QTest::newRow("bracket in address")
        << QByteArray("127.0.0.1:2525") << QByteArray("a@x>") << QByteArray("n@x");
}

void TestBsmtp::badArgumentsAreRefused() {
    QFETCH(QByteArray, server);
    QFETCH(QByteArray, recipients);
    QFETCH(QByteArray, from);
    Mail m{server, recipients, from, "s", "b", ""};
    int32_t status = 0;
    QCOMPARE(send(m, &status), 0);
    QCOMPARE(status, -1);
}

void TestBsmtp::unreachableOrRefusingServersGiveZero() {
    qputenv("BSMTP_TIMEOUT_MS", "5000");
    int32_t status = 0;
    Mail m;
    m.server = "nonexistent-host.invalid";
    QCOMPARE(send(m, &status), 0);
    QVERIFY(status > 0);

    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 unusedPort = closed.serverPort();
    closed.close();
    m.server = QByteArray("127.0.0.1:") + QByteArray::number(unusedPort);
    QCOMPARE(send(m, &status), 0);
    QVERIFY(status > 0);
    qunsetenv("BSMTP_TIMEOUT_MS");

    SmtpSink refusing(SmtpSink::Refuse);
    QVERIFY2(refusing.isReady(), qPrintable(refusing.errorString()));
    m.server = QByteArray("smtp://") + refusing.server().toLatin1();
    QCOMPARE(send(m, &status), 0);
    QVERIFY(status > 0);
}

void TestBsmtp::silentServerIsBoundedByTheTimeout() {
    // Accepts the connection (the kernel does) and never greets.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    qputenv("BSMTP_TIMEOUT_MS", "1500");
    Mail m;
    m.server = QByteArray("127.0.0.1:") + QByteArray::number(silent.serverPort());
    int32_t status = 0;
    QCOMPARE(send(m, &status), 0);
    qunsetenv("BSMTP_TIMEOUT_MS");
    QCOMPARE(status, 28); // the transfer's "operation timed out"
}

void TestBsmtp::norsendPassesThroughUnchanged() {
    SmtpSink sink;
    QVERIFY2(sink.isReady(), qPrintable(sink.errorString()));
    const QByteArray server = sink.server().toLatin1();
    QCOMPARE(NORSEND_SendMail(server.constData(), "\tcc\tc@example.com", "n@example.com", "",
                              "This is test mail.", ""),
             1);
    QCOMPARE(NORSEND_SendMail(server.constData(), "", "n@example.com", "s", "b", ""), 0);
    QVERIFY(sink.waitForMails(1));
    const ReceivedMail mail = sink.mails().first();
    QCOMPARE(mail.header("Subject"), QStringList{QString()});
    QCOMPARE(mail.rcptTos, QStringList{"c@example.com"});
    QCOMPARE(unixLines(mail.text), QStringLiteral("This is test mail.\n"));
}

void TestBsmtp::refusedRecipientDoesNotStopTheMail() {
    SmtpSink sink(SmtpSink::Accept,
                  {QStringLiteral("--refuse-rcpt"), QStringLiteral("c@example.com"),
                   QStringLiteral("--refuse-rcpt"), QStringLiteral("d@example.com")});
    QVERIFY2(sink.isReady(), qPrintable(sink.errorString()));
    Mail m;
    m.server = sink.server().toLatin1();
    m.recipients = "a@example.com\tcc\tc@example.com\tbcc\td@example.com";
    const Sent sent = sendEx(m);
    QCOMPARE(sent.result, 1);
    QCOMPARE(sent.report.reason, int32_t(BSMTP_SENT));
    QCOMPARE(sent.refused(), QStringList({"c@example.com", "d@example.com"}));
    QVERIFY(sink.waitForMails(1));
    QCOMPARE(sink.mails().first().rcptTos, QStringList{"a@example.com"});
    // The header still names the Cc the server refused: it is the mail as written.
    QCOMPARE(sink.mails().first().header("Cc"), QStringList{"c@example.com"});

    // The old export keeps delivering too.
    QCOMPARE(send(m), 1);

    // Nobody accepted: a failure, and a permanent one (every refusal was 5xx).
    m.recipients = "c@example.com\tcc\td@example.com";
    const Sent none = sendEx(m);
    QCOMPARE(none.result, 0);
    QCOMPARE(none.report.reason, int32_t(BSMTP_RECIPIENT_REFUSED));
    QCOMPARE(none.reason(), QStringLiteral("recipient refused"));
    QCOMPARE(none.report.permanent, 1);
    QCOMPARE(none.report.replyCode, 550);
    QCOMPARE(none.refused(), QStringList({"c@example.com", "d@example.com"}));
    QCOMPARE(sink.mails().size(), 2);
}

void TestBsmtp::unreadableAttachmentIsLeftOutAndNoted() {
    SmtpSink sink;
    QVERIFY2(sink.isReady(), qPrintable(sink.errorString()));
    QTemporaryDir dir;
    Mail m;
    m.server = sink.server().toLatin1();
    m.body = "Time:1\r\nMessage:x";
    const QString missing = dir.filePath(QStringLiteral("gone.txt"));
    m.attachment = missing.toUtf8();
    const Sent sent = sendEx(m);
    QCOMPARE(sent.result, 1);
    QCOMPARE(sent.report.attachmentSkipped, 1);
    QVERIFY(sink.waitForMails(1));
    const ReceivedMail mail = sink.mails().first();
    QVERIFY(mail.attachments.isEmpty());
    QCOMPARE(unixLines(mail.text),
             "Time:1\nMessage:x\nAttachment not sent: " + missing + " could not be read.\n");

    // A readable one is sent and not noted.
    QFile file(dir.filePath(QStringLiteral("here.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("data");
    file.close();
    m.attachment = file.fileName().toUtf8();
    const Sent second = sendEx(m);
    QCOMPARE(second.result, 1);
    QCOMPARE(second.report.attachmentSkipped, 0);
    QVERIFY(sink.waitForMails(2));
    QCOMPARE(sink.mails().at(1).attachments.size(), 1);
    QVERIFY(!sink.mails().at(1).text.contains(QStringLiteral("Attachment not sent")));
}

void TestBsmtp::reasonsOfFailuresBeforeAndDuringTheDialogue() {
    struct Case {
        const char* name;
        Mail mail;
        Login login;
        int32_t reason;
        const char* text;
    };
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const QByteArray unused = "127.0.0.1:" + QByteArray::number(closed.serverPort());
    closed.close();
    const QList<Case> cases = {
        {"no server", basic("", "a@x", "n@x"), {}, BSMTP_NO_SERVER, "no server set"},
        {"no sender", basic(unused, "a@x", " "), {}, BSMTP_NO_SENDER, "no sender set"},
        {"port setting not a number",
         basic(unused, "a@x", "n@x"),
         {"", "", "", "25a", ""},
         BSMTP_BAD_PORT,
         "port not valid"},
        {"port in the server text",
         basic("127.0.0.1:x1", "a@x", "n@x"),
         {},
         BSMTP_BAD_PORT,
         "port not valid"},
        {"unknown security",
         basic(unused, "a@x", "n@x"),
         {"", "", "ssl3", "", ""},
         BSMTP_BAD_SECURITY,
         "security setting not valid"},
        {"name not resolved",
         basic("nonexistent-host.invalid", "a@x", "n@x"),
         {},
         BSMTP_NOT_RESOLVED,
         "name not resolved"},
        {"connection refused",
         basic(unused, "a@x", "n@x"),
         {},
         BSMTP_CONNECTION_REFUSED,
         "connection refused"},
    };
    for (const Case& c : cases) {
        const Sent sent = sendEx(c.mail, c.login);
        QVERIFY2(sent.result == 0, c.name);
        QVERIFY2(sent.report.reason == c.reason,
                 qPrintable(QString::fromLatin1(c.name) + ": " + sent.reason()));
        QCOMPARE(sent.reason(), QString::fromLatin1(c.text));
        QCOMPARE(sent.report.permanent, 0);
    }

    // A port in the settings wins over the one in the server text.
    SmtpSink sink;
    QVERIFY2(sink.isReady(), qPrintable(sink.errorString()));
    const Mail viaPort = basic(unused);
    QCOMPARE(sendEx(viaPort, {"", "", "", QByteArray::number(sink.port()), ""}).result, 1);

    // Refusals of the message: 5xx is permanent, 4xx is not.
    SmtpSink refusing(SmtpSink::Refuse);
    SmtpSink busy(SmtpSink::TempFail);
    QVERIFY2(refusing.isReady() && busy.isReady(), "sinks");
    const Sent refused = sendEx(basic(refusing.server().toLatin1(), "a@x", "n@x"));
    QCOMPARE(refused.result, 0);
    QCOMPARE(refused.reason(), QStringLiteral("message refused"));
    QCOMPARE(refused.report.replyCode, 554);
    QCOMPARE(refused.report.permanent, 1);
    const Sent later = sendEx(basic(busy.server().toLatin1(), "a@x", "n@x"));
    QCOMPARE(later.result, 0);
    QCOMPARE(later.reason(), QStringLiteral("message refused"));
    QCOMPARE(later.report.replyCode, 451);
    QCOMPARE(later.report.permanent, 0);

    // A silent server: timed out, not permanent.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    qputenv("BSMTP_TIMEOUT_MS", "1000");
    const Sent timedOut =
        sendEx(basic("127.0.0.1:" + QByteArray::number(silent.serverPort()), "a@x", "n@x"));
    qunsetenv("BSMTP_TIMEOUT_MS");
    QCOMPARE(timedOut.reason(), QStringLiteral("timed out"));
    QCOMPARE(timedOut.report.permanent, 0);
}

void TestBsmtp::startTlsWithLoginDelivers() {
    TestCertificates certs;
    QVERIFY2(certs.isReady(), qPrintable(certs.errorString()));
    // A password with non-ASCII letters, quotes and a colon; a user with '@'.
    const QString password = QStringLiteral("pä\"s's:wört");
    SmtpSink sink(SmtpSink::Accept, tlsOptions(certs, certs.serverCert()) +
                                        QStringList{"--starttls", "--user", "ops@example.com",
                                                    "--password", password});
    QVERIFY2(sink.isReady(), qPrintable(sink.errorString()));
    Mail m;
    m.server = sink.server().toLatin1();
    const Login good{"ops@example.com", password.toUtf8(), "", "", certs.caCert().toUtf8()};
    const Sent sent = sendEx(m, good);
    QVERIFY2(sent.result == 1, qPrintable(sent.reason()));
    QVERIFY(sink.waitForMails(1));
    QCOMPARE(sink.mails().first().rcptTos, QStringList{"a@example.com"});

    Login wrong = good;
    wrong.password = "pä\"s's:wört!";
    const Sent refused = sendEx(m, wrong);
    QCOMPARE(refused.result, 0);
    QCOMPARE(refused.reason(), QStringLiteral("login refused"));
    QCOMPARE(refused.report.permanent, 0);

    // Without the site's CA the server is not trusted, and nothing is sent.
    Login noCa = good;
    noCa.caFile = "";
    QCOMPARE(sendEx(m, noCa).reason(), QStringLiteral("certificate not trusted"));
    Login badCa = good;
    badCa.caFile = certs.key().toUtf8() + ".missing";
    QCOMPARE(sendEx(m, badCa).reason(), QStringLiteral("CA file could not be read"));
    // No login at all: the server wants one before MAIL.
    const Sent anonymous = sendEx(m, {"", "", "", "", certs.caCert().toUtf8()});
    QCOMPARE(anonymous.result, 0);
    QCOMPARE(anonymous.reason(), QStringLiteral("sender refused"));
    QCOMPARE(sink.mails().size(), 1);
}

void TestBsmtp::untrustedCertificatesAreRefused() {
    TestCertificates certs;
    QVERIFY2(certs.isReady(), qPrintable(certs.errorString()));
    for (const QString& cert :
         {certs.otherNameCert(), certs.expiredCert(), certs.selfSignedCert()}) {
        SmtpSink sink(SmtpSink::Accept, tlsOptions(certs, cert) + QStringList{"--starttls"});
        QVERIFY2(sink.isReady(), qPrintable(sink.errorString()));
        Mail m;
        m.server = sink.server().toLatin1();
        const Sent sent = sendEx(m, {"", "", "starttls", "", certs.caCert().toUtf8()});
        QCOMPARE(sent.result, 0);
        QVERIFY2(sent.reason() == QStringLiteral("certificate not trusted"),
                 qPrintable(cert + ": " + sent.reason()));
        QVERIFY(sink.mails().isEmpty());
    }
}

void TestBsmtp::implicitTlsOnItsOwnPort() {
    TestCertificates certs;
    QVERIFY2(certs.isReady(), qPrintable(certs.errorString()));
    SmtpSink sink(SmtpSink::Accept,
                  tlsOptions(certs, certs.serverCert()) +
                      QStringList{"--implicit-tls", "--user", "ops", "--password", "secret"});
    QVERIFY2(sink.isReady(), qPrintable(sink.errorString()));
    Mail m;
    m.server = "127.0.0.1";
    const Login login{"ops", "secret", "tls", QByteArray::number(sink.port()),
                      certs.caCert().toUtf8()};
    const Sent sent = sendEx(m, login);
    QVERIFY2(sent.result == 1, qPrintable(sent.reason()));
    QVERIFY(sink.waitForMails(1));
    // The same through an smtps:// server text with its port.
    Mail url = m;
    url.server = "smtps://127.0.0.1:" + QByteArray::number(sink.port());
    QCOMPARE(sendEx(url, {"ops", "secret", "", "", certs.caCert().toUtf8()}).result, 1);
    QVERIFY(sink.waitForMails(2));
    // Plain SMTP to a TLS port fails without waiting for the full time-out
    // to send anything in clear.
    qputenv("BSMTP_TIMEOUT_MS", "3000");
    const Sent plain = sendEx(
        m, {"ops", "secret", "starttls", QByteArray::number(sink.port()), certs.caCert().toUtf8()});
    qunsetenv("BSMTP_TIMEOUT_MS");
    QCOMPARE(plain.result, 0);
    QCOMPARE(sink.mails().size(), 2);
}

void TestBsmtp::securitySettingsAreHonoured() {
    SmtpSink plain; // offers no STARTTLS
    QVERIFY2(plain.isReady(), qPrintable(plain.errorString()));
    Mail m;
    m.server = plain.server().toLatin1();
    // STARTTLS required, or a login set, and the server does not offer it: no send.
    QCOMPARE(sendEx(m, {"", "", "starttls", "", ""}).reason(), QStringLiteral("TLS failed"));
    QCOMPARE(sendEx(m, {"ops", "secret", "", "", ""}).reason(), QStringLiteral("TLS failed"));
    QVERIFY(plain.mails().isEmpty());
    // Not set, or "none": sent in clear to such a server.
    QCOMPARE(sendEx(m, {"", "", "", "", ""}).result, 1);
    QCOMPARE(sendEx(m, {"", "", "none", "", ""}).result, 1);
    QVERIFY(plain.waitForMails(2));

    // "none" never starts TLS, even where the server demands it.
    TestCertificates certs;
    QVERIFY2(certs.isReady(), qPrintable(certs.errorString()));
    SmtpSink tls(SmtpSink::Accept,
                 tlsOptions(certs, certs.serverCert()) + QStringList{"--starttls"});
    QVERIFY2(tls.isReady(), qPrintable(tls.errorString()));
    m.server = tls.server().toLatin1();
    QCOMPARE(sendEx(m, {"", "", "none", "", ""}).result, 0);
    QCOMPARE(sendEx(m, {"", "", "", "", certs.caCert().toUtf8()}).result, 1);
    QVERIFY(tls.waitForMails(1));
}

void TestBsmtp::droppedConnectionsAreConnectionLost() {
    TestCertificates certs;
    QVERIFY2(certs.isReady(), qPrintable(certs.errorString()));
    for (const QString step : {"ehlo", "auth", "data"}) {
        QStringList options{"--drop-after", step};
        Login login;
        if (step == QStringLiteral("auth")) {
            options += tlsOptions(certs, certs.serverCert()) +
                       QStringList{"--starttls", "--user", "ops", "--password", "pw"};
            login = {"ops", "pw", "", "", certs.caCert().toUtf8()};
        }
        SmtpSink sink(SmtpSink::Accept, options);
        QVERIFY2(sink.isReady(), qPrintable(sink.errorString()));
        Mail m;
        m.server = sink.server().toLatin1();
        const Sent sent = sendEx(m, login);
        QCOMPARE(sent.result, 0);
        QVERIFY2(sent.reason() == QStringLiteral("connection lost"),
                 qPrintable(step + ": " + sent.reason()));
        QCOMPARE(sent.report.permanent, 0);
        QVERIFY(sink.mails().isEmpty());
    }
}

QTEST_GUILESS_MAIN(TestBsmtp)
#include "tst_bsmtp.moc"
