// The alert sender against a real SMTP server, with the test clock.

#include "mail/MailTestState.h"
#include "mail/SmtpSink.h"

#include "comm/AlertQueue.h"
#include "core/Fleet.h"
#include "mail/AlertSender.h"
#include "mail/NorSendLibrary.h"

#include <QtTest>

namespace {

const QString Success = QStringLiteral("Mail Send Success");
const QString Failure = QStringLiteral("Mail Send Error!!");

QString unixLines(QString text) { return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")); }

void setRecipients(MailSettings& mail, const QStringList& entries)
{
    for (int i = 1; i <= 10; ++i)
        mail.SendAddress[i] = i <= entries.size() ? entries[i - 1] : QString();
}

} // namespace

class TestAlertSender : public QObject {
    Q_OBJECT

private slots:
    void oneAlertGivesOneMail();
    void refusingServerIsRetriedThreeTimesThenRests();
    void missingAddressKeepsTheAlerts();
    void missingLibraryIsAFailedSend();
    void headerInjectionIsAFailedSend();
    void alertsFollowTheirProjectorAfterDeletion();
};

void TestAlertSender::oneAlertGivesOneMail()
{
    SmtpSink sink;
    QVERIFY2(sink.isReady(), qPrintable(sink.errorString()));
    MailTestState t;
    AppState& state = t.state;
    state.Mail.SMTPServer = sink.server();
    state.Mail.Subject = QStringLiteral("Störung – Projektor");
    setRecipients(state.Mail, {"a@example.com;TO", "b@example.com;TO", "c@example.com;CC",
                               "d@example.com;BCC"});
    NorSendLibrary library; // found beside the test program, like beside Norvik3
    AlertSender sender(state, library);

    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("2026/12/08 10:00;1;Lamp isn't OK; call Bob")));
    sender.StartAlertSender();
    QVERIFY(sender.isTimerActive());
    QTRY_VERIFY_WITH_TIMEOUT(!sender.isTimerActive() && !sender.mailSending(), 30000);

    QCOMPARE(sink.mails().size(), 1);
    const ReceivedMail mail = sink.mails().first();
    QCOMPARE(unixLines(mail.text), QStringLiteral("Time:2026/12/08 10:00\nProjector Name:Hall A\n"
                                                  "Model:VX-100\nConnection:COM1\n"
                                                  "Message:Lamp isn't OK; call Bob\n"));
    QCOMPARE(mail.header("To"), QStringList{"a@example.com, b@example.com"});
    QCOMPARE(mail.header("Cc"), QStringList{"c@example.com"});
    QVERIFY(!mail.hasHeader("Bcc"));
    QVERIFY(mail.rcptTos.contains(QStringLiteral("d@example.com")));
    QCOMPARE(mail.header("Subject"), QStringList{state.Mail.Subject});
    QCOMPARE(mail.mailFrom, QStringLiteral("norvik@example.com"));
    QCOMPARE(t.mailLog(),
             QStringList({"Time:2026/12/08 10:00,Projector Name:Hall A,Model:VX-100,"
                          "Connection:COM1,Message:Lamp isn't OK; call Bob",
                          Success}));
    QVERIFY(IsAlertQueueEmpty(state));
    QCOMPARE(sender.mailRetryCount(), qint16(0));

    // Several alerts in one pass, the LAN one with its MAC address, and the
    // attachment setting.
    QTemporaryDir dir;
    QFile attachment(dir.filePath(QStringLiteral("report.txt")));
    QVERIFY(attachment.open(QIODevice::WriteOnly));
    attachment.write("lamp hours 2000\n");
    attachment.close();
    state.Mail.FilePath = attachment.fileName();
    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("2026/12/08 10:01;2;Disconnect")));
    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("2026/12/08 10:02;1;FilterTime Alarm (2000h)")));
    sender.StartAlertSender();
    sender.RunSendPass();
    QVERIFY(sink.waitForMails(3));
    const auto mails = sink.mails();
    QVERIFY(mails[1].text.contains(QStringLiteral("Connection:192.168.0.20 (00:1A:2B:3C:4D:5E)")));
    QVERIFY(mails[2].text.contains(QStringLiteral("Message:FilterTime Alarm (2000h)")));
    QCOMPARE(mails[2].attachments.size(), 1);
    QCOMPARE(mails[2].attachments.first().data, QByteArray("lamp hours 2000\n"));
    QCOMPARE(t.mailLog().count(Success), 3);
    QVERIFY(IsAlertQueueEmpty(state));
    QVERIFY(!sender.isTimerActive());
}

void TestAlertSender::refusingServerIsRetriedThreeTimesThenRests()
{
    SmtpSink refusing(SmtpSink::Refuse);
    SmtpSink accepting;
    QVERIFY2(refusing.isReady(), qPrintable(refusing.errorString()));
    QVERIFY2(accepting.isReady(), qPrintable(accepting.errorString()));
    MailTestState t;
    AppState& state = t.state;
    state.Mail.SMTPServer = refusing.server();
    setRecipients(state.Mail, {"a@example.com;TO"});
    NorSendLibrary library;
    AlertSender sender(state, library);
    state.clock.set(QDateTime(QDate(2026, 12, 8), QTime(10, 0, 30)));

    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t1;1;first")));
    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t2;2;second")));
    sender.StartAlertSender();
    sender.RunSendPass();
    QCOMPARE(t.mailLog().count(Failure), 1);
    QCOMPARE(sender.mailRetryCount(), qint16(1));
    QCOMPARE(sender.lastMailFailure(), state.clock.now());
    QVERIFY(sender.isTimerActive());

    // Each retry waits for the fifth minute boundary: 10:05:00 after 10:00:30.
    const QTime retries[] = {QTime(10, 5, 0), QTime(10, 10, 0), QTime(10, 15, 0)};
    int failures = 1;
    for (const QTime& due : retries) {
        state.clock.set(QDateTime(QDate(2026, 12, 8), due.addSecs(-1)));
        sender.RunSendPass();
        sender.StartAlertSender(); // a new alert meanwhile changes nothing
        QCOMPARE(t.mailLog().count(Failure), failures);
        QVERIFY(sender.isTimerActive());
        state.clock.set(QDateTime(QDate(2026, 12, 8), due));
        sender.RunSendPass();
        QCOMPARE(t.mailLog().count(Failure), ++failures);
    }
    // Four attempts in all; then the sender rests with the alerts kept.
    QCOMPARE(failures, 4);
    QCOMPARE(sender.mailRetryCount(), qint16(0));
    QVERIFY(!sender.isTimerActive());
    QCOMPARE(AlertQueueLength(state), 2);
    QVERIFY(t.mailLog().filter(QStringLiteral("Message:second")).isEmpty());

    // The next alarm starts afresh with the oldest alert.
    state.Mail.SMTPServer = accepting.server();
    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t3;1;third")));
    sender.StartAlertSender();
    QVERIFY(sender.isTimerActive());
    sender.RunSendPass();
    QVERIFY(accepting.waitForMails(3));
    const auto mails = accepting.mails();
    QVERIFY(mails[0].text.contains(QStringLiteral("Message:first")));
    QVERIFY(mails[1].text.contains(QStringLiteral("Message:second")));
    QVERIFY(mails[2].text.contains(QStringLiteral("Message:third")));
    QVERIFY(IsAlertQueueEmpty(state));

    // A clock set back while a retry waits still retries within five minutes.
    state.Mail.SMTPServer = refusing.server();
    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t4;1;fourth")));
    sender.StartAlertSender();
    sender.RunSendPass();
    QCOMPARE(sender.mailRetryCount(), qint16(1));
    state.clock.set(QDateTime(QDate(2026, 12, 8), QTime(9, 0, 0)));
    sender.RunSendPass();
    state.clock.set(QDateTime(QDate(2026, 12, 8), QTime(9, 5, 0)));
    sender.RunSendPass();
    QCOMPARE(sender.mailRetryCount(), qint16(2));
}

void TestAlertSender::missingAddressKeepsTheAlerts()
{
    SmtpSink sink;
    QVERIFY2(sink.isReady(), qPrintable(sink.errorString()));
    MailTestState t;
    AppState& state = t.state;
    state.Mail.SMTPServer = sink.server();
    NorSendLibrary library;
    AlertSender sender(state, library);

    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t1;1;old alert")));
    sender.StartAlertSender();
    sender.RunSendPass();
    QCOMPARE(t.commLog(), QStringList{"MailSend Error!!:An address isn't specified."});
    QVERIFY(t.mailLog().isEmpty());
    QCOMPARE(AlertQueueLength(state), 1);
    QVERIFY(!sender.isTimerActive());
    QCOMPARE(sender.mailRetryCount(), qint16(0));

    // With the communication log off the line is not written anywhere.
    state.CommLogEnabled = 0;
    sender.StartAlertSender();
    sender.RunSendPass();
    QCOMPARE(t.commLog().size(), 1);

    // Once an address is there, the next alarm sends the old alert first.
    setRecipients(state.Mail, {"only-cc@example.com;CC"});
    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t2;2;new alert")));
    sender.StartAlertSender();
    sender.RunSendPass();
    QVERIFY(sink.waitForMails(2));
    QVERIFY(sink.mails()[0].text.contains(QStringLiteral("Message:old alert")));
    QVERIFY(sink.mails()[1].text.contains(QStringLiteral("Message:new alert")));
    QVERIFY(!sink.mails()[0].hasHeader("To"));
}

void TestAlertSender::missingLibraryIsAFailedSend()
{
    SmtpSink sink;
    QVERIFY2(sink.isReady(), qPrintable(sink.errorString()));
    MailTestState t;
    AppState& state = t.state;
    state.Mail.SMTPServer = sink.server();
    setRecipients(state.Mail, {"a@example.com;TO"});
    const QString binDir = qEnvironmentVariable("NORVIK3_BIN_DIR");

    // No such file, and a library without the export.
    for (const QString& path : {QStringLiteral("/nonexistent/libnorsend.so"),
                                binDir + QStringLiteral("/libbsmtp.so")}) {
        NorSendLibrary library(path);
        AlertSender sender(state, library);
        QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t;1;lost library")));
        sender.StartAlertSender();
        sender.RunSendPass();
        QVERIFY(!library.isLoaded());
        QVERIFY(!library.errorString().isEmpty());
        QCOMPARE(t.mailLog().last(), Failure);
        QCOMPARE(sender.mailRetryCount(), qint16(1));
    }
    QCOMPARE(sink.mails().size(), 0);

    NorSendLibrary library(binDir + QStringLiteral("/libnorsend.so"));
    AlertSender sender(state, library);
    sender.StartAlertSender();
    sender.RunSendPass();
    QVERIFY(library.isLoaded());
    QCOMPARE(t.mailLog().last(), Success);
    QVERIFY(sink.waitForMails(2));
}

void TestAlertSender::headerInjectionIsAFailedSend()
{
    SmtpSink sink;
    QVERIFY2(sink.isReady(), qPrintable(sink.errorString()));
    MailTestState t;
    AppState& state = t.state;
    state.Mail.SMTPServer = sink.server();
    setRecipients(state.Mail, {"a@example.com;TO"});
    NorSendLibrary library;
    AlertSender sender(state, library);
    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t;1;m")));

    state.Mail.Subject = QStringLiteral("Alert\r\nBcc: evil@example.com");
    sender.StartAlertSender();
    sender.RunSendPass();
    state.Mail.Subject = QStringLiteral("Alert");
    state.Mail.FromAddress = QStringLiteral("n@example.com\nBcc: evil@example.com");
    state.clock.set(QDateTime(QDate(2026, 12, 8), QTime(12, 0)));
    sender.RunSendPass();
    state.Mail.FromAddress = QStringLiteral("n@example.com");
    setRecipients(state.Mail, {"a@example.com\r\nevil@example.com;TO"});
    state.clock.set(QDateTime(QDate(2026, 12, 8), QTime(12, 5)));
    sender.RunSendPass();
    QCOMPARE(t.mailLog().count(Failure), 3);
    QCOMPARE(t.mailLog().count(Success), 0);
    QCOMPARE(sink.mails().size(), 0);
    QCOMPARE(AlertQueueLength(state), 1);
}

void TestAlertSender::alertsFollowTheirProjectorAfterDeletion()
{
    SmtpSink sink;
    QVERIFY2(sink.isReady(), qPrintable(sink.errorString()));
    MailTestState t;
    AppState& state = t.state;
    state.ProjectorCount = 0;
    ResetTree(state);
    QString error;
    QStringList names = {"P1", "P2", "P3"};
    for (const QString& name : names) {
        ProjectorInfo p;
        p.ProjectorName = name;
        p.ConnectionKind = ConnectionSerial;
        p.COMPort = 1;
        QVERIFY2(AddProjectorNode(state, 1, p, &error) != 0, qPrintable(error));
    }
    state.Mail.SMTPServer = sink.server();
    setRecipients(state.Mail, {"a@example.com;TO"});
    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t;1;for P1")));
    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t;2;for P2")));
    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t;3;for P3; it's hot")));

    DeleteProjectorNode(state, NodeOfProjector(state, 2));
    QCOMPARE(state.ProjectorCount, qint16(2));

    NorSendLibrary library;
    AlertSender sender(state, library);
    sender.StartAlertSender();
    sender.RunSendPass();
    QVERIFY(sink.waitForMails(2));
    const auto mails = sink.mails();
    QCOMPARE(mails.size(), 2);
    QVERIFY(mails[0].text.contains(QStringLiteral("Projector Name:P1\r\n")) ||
            mails[0].text.contains(QStringLiteral("Projector Name:P1\n")));
    QVERIFY(mails[1].text.contains(QStringLiteral("Projector Name:P3")));
    QVERIFY(mails[1].text.contains(QStringLiteral("Message:for P3; it's hot")));
}

QTEST_GUILESS_MAIN(TestAlertSender)
#include "tst_alertsender.moc"
