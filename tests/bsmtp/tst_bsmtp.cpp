// BSendMail and NORSEND_SendMail against a real SMTP server on 127.0.0.1.

#include "mail/SmtpSink.h"

#include "NorSend.h"
#include "bsmtp.h"

#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Mail {
    QByteArray server;
    QByteArray recipients = "a@example.com";
    QByteArray from = "norvik@example.com";
    QByteArray subject = "Alert";
    QByteArray body = "Time:1\r\nMessage:x\r\n";
    QByteArray attachment;
};

int32_t send(const Mail& m, int32_t* status = nullptr)
{
    int32_t local = 12345;
    return BSendMail(m.server.constData(), m.recipients.constData(), m.from.constData(),
                     m.subject.constData(), m.body.constData(), m.attachment.constData(),
                     status ? status : &local);
}

QString unixLines(QString text) { return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")); }

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
};

void TestBsmtp::headersAndEnvelopeFollowTheRecipientText()
{
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
    QCOMPARE(mail.rcptTos, QStringList({"a@example.com", "b@example.com", "c@example.com",
                                        "d@example.com"}));
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

void TestBsmtp::nonAsciiSubjectAndBodyArriveDecoded()
{
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
    const QString rawSubject = mail.raw.section(QStringLiteral("Subject: "), 1).section(
        QStringLiteral("\r\n"), 0, 0);
    QVERIFY(rawSubject.startsWith(QStringLiteral("=?UTF-8?B?")));
    for (const QString& line : mail.raw.split(QStringLiteral("\r\n")))
        QVERIFY2(line.size() <= 998, "line too long");
    QVERIFY2(mail.defects.isEmpty(), qPrintable(mail.defects.join(',')));
}

void TestBsmtp::attachmentIsDeliveredByteForByte()
{
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

void TestBsmtp::lineBreaksInHeaderFieldsAreRefusedWithoutSending()
{
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

void TestBsmtp::badArgumentsAreRefused_data()
{
    QTest::addColumn<QByteArray>("server");
    QTest::addColumn<QByteArray>("recipients");
    QTest::addColumn<QByteArray>("from");
    QTest::newRow("no recipients") << QByteArray("127.0.0.1:2525") << QByteArray("") << QByteArray("n@x");
    QTest::newRow("only markers") << QByteArray("127.0.0.1:2525") << QByteArray("\tcc\t\tbcc\t")
                                  << QByteArray("n@x");
    QTest::newRow("empty server") << QByteArray("") << QByteArray("a@x") << QByteArray("n@x");
    QTest::newRow("port not a number") << QByteArray("127.0.0.1:abc") << QByteArray("a@x")
                                       << QByteArray("n@x");
    QTest::newRow("port too large") << QByteArray("127.0.0.1:70000") << QByteArray("a@x")
                                    << QByteArray("n@x");
    QTest::newRow("host with blank") << QByteArray("mail host") << QByteArray("a@x")
                                     << QByteArray("n@x");
    QTest::newRow("host with path") << QByteArray("mail/host:25") << QByteArray("a@x")
                                    << QByteArray("n@x");
    QTest::newRow("other scheme") << QByteArray("http://127.0.0.1:2525") << QByteArray("a@x")
                                  << QByteArray("n@x");
    QTest::newRow("empty sender") << QByteArray("127.0.0.1:2525") << QByteArray("a@x")
                                  << QByteArray("");
    QTest::newRow("bracket in address") << QByteArray("127.0.0.1:2525") << QByteArray("a@x>")
                                        << QByteArray("n@x");
}

void TestBsmtp::badArgumentsAreRefused()
{
    QFETCH(QByteArray, server);
    QFETCH(QByteArray, recipients);
    QFETCH(QByteArray, from);
    Mail m{server, recipients, from, "s", "b", ""};
    int32_t status = 0;
    QCOMPARE(send(m, &status), 0);
    QCOMPARE(status, -1);
}

void TestBsmtp::unreachableOrRefusingServersGiveZero()
{
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

void TestBsmtp::silentServerIsBoundedByTheTimeout()
{
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

void TestBsmtp::norsendPassesThroughUnchanged()
{
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

QTEST_GUILESS_MAIN(TestBsmtp)
#include "tst_bsmtp.moc"
