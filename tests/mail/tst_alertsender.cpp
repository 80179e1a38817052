// The alert sender against a real SMTP server, with the test clock.

#include "support/MailSenderFixture.h"
#include "support/MailTestState.h"
#include "support/ProjectorRecords.h"
#include "support/SmtpGate.h"
#include "support/SmtpSink.h"
#include "support/TestCertificates.h"

#include "core/Fleet.h"
#include "core/SettingsStore.h"
#include "mail/AlertMail.h"
#include "mail/AlertQueue.h"
#include "mail/AlertSender.h"
#include "mail/MailWorker.h"
#include "mail/SmtpPassword.h"

#include <QtTest>

#include <sys/stat.h>

using namespace std::chrono_literals;

namespace {

const QString Success = QStringLiteral("Mail Send Success");
const QString Failure = QStringLiteral("Mail Send Error!!");

int fileMode(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

// Failed sends in the mail log, whatever their reason.
int failures(const QStringList& log) {
    return int(std::count_if(log.begin(), log.end(),
                             [](const QString& line) { return line.startsWith(Failure); }));
}

QString unixLines(QString text) {
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// One tick of MailSendTimer and the wait for the pass it may start: its
// mails go out on the mail thread while the event loop runs.
[[nodiscard]] bool runPass(AlertSender& sender) {
    sender.RunSendPass();
    return QTest::qWaitFor([&] { return !sender.mailSending(); }, 40000);
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
    void controlCharactersStayInOneLogLine();
    void recipientWithTabIsSkipped();
    void alertsFollowTheirProjectorAfterDeletion();
    void silentServerLeavesTheEventLoopRunning();
    void resultAppliesToTheAlertThatWasMailed();
    void shutdownLogsEveryAlertNotMailed();
    void refusedCcStillDeliversToTo();
    void unreadableAttachmentStillDeliversTheAlert();
    void permanentlyRefusedAlertIsDroppedAfterItsRetries();
    void loginAndTlsComeFromTheSettings();
    void recipientsAsTheSettingsFileHoldsThem();
    void serverWithLoginIsAFailedSend_data();
    void serverWithLoginIsAFailedSend();
};

void TestAlertSender::oneAlertGivesOneMail() {
    MailSenderFixture t(
        {"a@example.com;TO", "b@example.com;TO", "c@example.com;CC", "d@example.com;BCC"});
    QVERIFY2(t.sink.isReady(), qPrintable(t.sink.errorString()));
    AppState& state = t.state;
    state.Mail.Subject = QStringLiteral("Störung – Projektor");

    QVERIFY(
        EnqueueAlertMessage(state, QStringLiteral("2026/12/08 10:00;1;Lamp isn't OK; call Bob")));
    t.sender.StartAlertSender();
    QVERIFY(t.sender.isTimerActive());
    QTRY_VERIFY_WITH_TIMEOUT(!t.sender.isTimerActive() && !t.sender.mailSending(), 30000);

    QCOMPARE(t.sink.mails().size(), 1);
    const ReceivedMail mail = t.sink.mails().first();
    QCOMPARE(unixLines(mail.text), QStringLiteral("Time:2026/12/08 10:00\nProjector Name:Hall A\n"
                                                  "Model:VX-100\nConnection:COM1\n"
                                                  "Message:Lamp isn't OK; call Bob\n"));
    QCOMPARE(mail.header("To"), QStringList{"a@example.com, b@example.com"});
    QCOMPARE(mail.header("Cc"), QStringList{"c@example.com"});
    QVERIFY(!mail.hasHeader("Bcc"));
    QVERIFY(mail.rcptTos.contains(QStringLiteral("d@example.com")));
    QCOMPARE(mail.header("Subject"), QStringList{state.Mail.Subject});
    QCOMPARE(mail.mailFrom, QStringLiteral("norvik@example.com"));
    QCOMPARE(t.mailLog(), QStringList({"Time:2026/12/08 10:00,Projector Name:Hall A,Model:VX-100,"
                                       "Connection:COM1,Message:Lamp isn't OK; call Bob",
                                       Success}));
    QVERIFY(IsAlertQueueEmpty(state));
    QCOMPARE(t.sender.mailRetryCount(), qint16(0));

    // Several alerts in one pass, the LAN one with its MAC address, and the
    // attachment setting.
    QTemporaryDir dir;
    QFile attachment(dir.filePath(QStringLiteral("report.txt")));
    QVERIFY(attachment.open(QIODevice::WriteOnly));
    attachment.write("lamp hours 2000\n");
    attachment.close();
    state.Mail.FilePath = attachment.fileName();
    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("2026/12/08 10:01;2;Disconnect")));
    QVERIFY(
        EnqueueAlertMessage(state, QStringLiteral("2026/12/08 10:02;1;FilterTime Alarm (2000h)")));
    t.sender.StartAlertSender();
    QVERIFY(runPass(t.sender));
    QVERIFY(t.sink.waitForMails(3));
    const auto mails = t.sink.mails();
    QVERIFY(mails[1].text.contains(QStringLiteral("Connection:192.168.0.20 (00:1A:2B:3C:4D:5E)")));
    QVERIFY(mails[2].text.contains(QStringLiteral("Message:FilterTime Alarm (2000h)")));
    QCOMPARE(mails[2].attachments.size(), 1);
    QCOMPARE(mails[2].attachments.first().data, QByteArray("lamp hours 2000\n"));
    QCOMPARE(t.mailLog().count(Success), 3);
    QVERIFY(IsAlertQueueEmpty(state));
    QVERIFY(!t.sender.isTimerActive());
}

void TestAlertSender::refusingServerIsRetriedThreeTimesThenRests() {
    // A server that is busy (4xx) rather than refusing the message for good.
    MailSenderFixture t({"a@example.com;TO"}, SmtpSink::TempFail);
    SmtpSink accepting;
    QVERIFY2(t.sink.isReady(), qPrintable(t.sink.errorString()));
    QVERIFY2(accepting.isReady(), qPrintable(accepting.errorString()));
    AppState& state = t.state;
    state.clock.set(QDateTime(QDate(2026, 12, 8), QTime(10, 0, 30)));

    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t1;1;first")));
    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t2;2;second")));
    t.sender.StartAlertSender();
    QVERIFY(runPass(t.sender));
    QCOMPARE(failures(t.mailLog()), 1);
    QCOMPARE(t.mailLog().last(), Failure + QStringLiteral(" (message refused)"));
    QCOMPARE(t.sender.mailRetryCount(), qint16(1));
    QCOMPARE(t.sender.lastMailFailure(), state.clock.now());
    QVERIFY(t.sender.isTimerActive());

    // Each retry waits for the fifth minute boundary: 10:05:00 after 10:00:30.
    const QTime retries[] = {QTime(10, 5, 0), QTime(10, 10, 0), QTime(10, 15, 0)};
    int failed = 1;
    for (const QTime& due : retries) {
        state.clock.set(QDateTime(QDate(2026, 12, 8), due.addSecs(-1)));
        t.sender.RunSendPass();
        QVERIFY(!t.sender.mailSending());
        t.sender.StartAlertSender(); // a new alert meanwhile changes nothing
        QCOMPARE(failures(t.mailLog()), failed);
        QVERIFY(t.sender.isTimerActive());
        state.clock.set(QDateTime(QDate(2026, 12, 8), due));
        QVERIFY(runPass(t.sender));
        QCOMPARE(failures(t.mailLog()), ++failed);
    }
    // Four attempts in all; then the sender rests with the alerts kept.
    QCOMPARE(failed, 4);
    QCOMPARE(t.sender.mailRetryCount(), qint16(0));
    QVERIFY(!t.sender.isTimerActive());
    QCOMPARE(AlertQueueLength(state), 2);
    QVERIFY(t.mailLog().filter(QStringLiteral("Message:second")).isEmpty());
    // The program's health says mail is failing, and why, until a mail goes.
    const HealthReport::Entry& failing = state.Health.entry(HealthCondition::MailFailing);
    QVERIFY(failing.active);
    QVERIFY2(failing.text.contains(QStringLiteral("message refused")), qPrintable(failing.text));

    // The next alarm starts afresh with the oldest alert.
    state.Mail.SMTPServer = accepting.server();
    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t3;1;third")));
    t.sender.StartAlertSender();
    QVERIFY(t.sender.isTimerActive());
    QVERIFY(runPass(t.sender));
    QVERIFY(accepting.waitForMails(3));
    const auto mails = accepting.mails();
    QVERIFY(mails[0].text.contains(QStringLiteral("Message:first")));
    QVERIFY(mails[1].text.contains(QStringLiteral("Message:second")));
    QVERIFY(mails[2].text.contains(QStringLiteral("Message:third")));
    QVERIFY(IsAlertQueueEmpty(state));
    QVERIFY(!state.Health.isActive(HealthCondition::MailFailing));

    // A clock set back while a retry waits still retries within five minutes.
    state.Mail.SMTPServer = t.sink.server();
    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t4;1;fourth")));
    t.sender.StartAlertSender();
    QVERIFY(runPass(t.sender));
    QCOMPARE(t.sender.mailRetryCount(), qint16(1));
    state.clock.set(QDateTime(QDate(2026, 12, 8), QTime(9, 0, 0)));
    QVERIFY(runPass(t.sender));
    state.clock.set(QDateTime(QDate(2026, 12, 8), QTime(9, 5, 0)));
    QVERIFY(runPass(t.sender));
    QCOMPARE(t.sender.mailRetryCount(), qint16(2));
}

void TestAlertSender::missingAddressKeepsTheAlerts() {
    MailSenderFixture t(QStringList{}); // nobody to mail to
    QVERIFY2(t.sink.isReady(), qPrintable(t.sink.errorString()));
    AppState& state = t.state;

    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t1;1;old alert")));
    t.sender.StartAlertSender();
    QVERIFY(runPass(t.sender));
    QCOMPARE(t.commLog(), QStringList{"MailSend Error!!:An address isn't specified."});
    // Said once, in the mail log and the health report, not at every pass.
    QCOMPARE(t.mailLog(), QStringList{"Mail Not Sent (no recipient is set)"});
    QVERIFY(state.Health.isActive(HealthCondition::NoRecipient));
    QCOMPARE(AlertQueueLength(state), 1);
    QVERIFY(!t.sender.isTimerActive());
    QCOMPARE(t.sender.mailRetryCount(), qint16(0));

    // With the communication log off the line is not written anywhere.
    state.CommLogEnabled = 0;
    t.sender.StartAlertSender();
    QVERIFY(runPass(t.sender));
    QCOMPARE(t.commLog().size(), 1);

    // Once an address is there, the next alarm sends the old alert first.
    SetRecipients(state.Mail, {"only-cc@example.com;CC"});
    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t2;2;new alert")));
    t.sender.StartAlertSender();
    QVERIFY(runPass(t.sender));
    QVERIFY(t.sink.waitForMails(2));
    QVERIFY(t.sink.mails()[0].text.contains(QStringLiteral("Message:old alert")));
    QVERIFY(t.sink.mails()[1].text.contains(QStringLiteral("Message:new alert")));
    QVERIFY(!t.sink.mails()[0].hasHeader("To"));
    QVERIFY(!state.Health.isActive(HealthCondition::NoRecipient));
    QCOMPARE(t.mailLog().count(QStringLiteral("Mail Not Sent (no recipient is set)")), 1);
}

void TestAlertSender::missingLibraryIsAFailedSend() {
    MailServerState t; // with a worker of its own
    QVERIFY2(t.sink.isReady(), qPrintable(t.sink.errorString()));
    AppState& state = t.state;
    const QString binDir = qEnvironmentVariable("NORVIK3_BIN_DIR");

    // No such file, and a library without the export.
    for (const QString& path :
         {QStringLiteral("/nonexistent/libnorsend.so"), binDir + QStringLiteral("/libbsmtp.so")}) {
        MailWorker worker(path);
        AlertSender sender(state, worker);
        QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t;1;lost library")));
        sender.StartAlertSender();
        QVERIFY(runPass(sender));
        QVERIFY(!worker.libraryLoaded());
        QVERIFY(!worker.libraryError().isEmpty());
        QCOMPARE(t.mailLog().last(), Failure + QStringLiteral(" (mail library not loaded)"));
        QCOMPARE(sender.mailRetryCount(), qint16(1));
    }
    QCOMPARE(t.sink.mails().size(), 0);

    MailWorker worker(binDir + QStringLiteral("/libnorsend.so"));
    AlertSender sender(state, worker);
    sender.StartAlertSender();
    QVERIFY(runPass(sender));
    QVERIFY(worker.libraryLoaded());
    QVERIFY(worker.libraryError().isEmpty());
    QCOMPARE(t.mailLog().last(), Success);
    QVERIFY(t.sink.waitForMails(2));
}

void TestAlertSender::headerInjectionIsAFailedSend() {
    MailSenderFixture t;
    QVERIFY2(t.sink.isReady(), qPrintable(t.sink.errorString()));
    AppState& state = t.state;
    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t;1;m")));

    state.Mail.Subject = QStringLiteral("Alert\r\nBcc: evil@example.com");
    t.sender.StartAlertSender();
    QVERIFY(runPass(t.sender));
    state.Mail.Subject = QStringLiteral("Alert");
    state.Mail.FromAddress = QStringLiteral("n@example.com\nBcc: evil@example.com");
    state.clock.set(QDateTime(QDate(2026, 12, 8), QTime(12, 0)));
    QVERIFY(runPass(t.sender));
    QCOMPARE(
        t.mailLog().count(Failure + QStringLiteral(" (invalid address or line break in a field)")),
        2);
    QCOMPARE(t.mailLog().count(Success), 0);
    QCOMPARE(t.sink.mails().size(), 0);
    QCOMPARE(AlertQueueLength(state), 1);
}

void TestAlertSender::controlCharactersStayInOneLogLine() {
    MailSenderFixture t;
    QVERIFY2(t.sink.isReady(), qPrintable(t.sink.errorString()));
    AppState& state = t.state;
    const QString forged = QStringLiteral("\r\n[2026/12/08 10:00:00],Mail Send Success");
    state.Projectors[2].ProjectorName = QStringLiteral("Hall B") + forged;
    state.Projectors[2].IPAddress = QStringLiteral("192.168.0.20\n");

    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t1;2;Lamp\r\nTime:t0,Message:fake\tend")));
    t.sender.StartAlertSender();
    QVERIFY(runPass(t.sender));
    QVERIFY(t.sink.waitForMails(1));
    const QString escaped = QStringLiteral("\\r\\n[2026/12/08 10:00:00],Mail Send Success");
    QCOMPARE(t.mailLog(), QStringList({"Time:t1,Projector Name:Hall B" + escaped +
                                           ",Model:VX-200,Connection:192.168.0.20\\n "
                                           "(00:1A:2B:3C:4D:5E),Message:Lamp\\r\\n"
                                           "Time:t0,Message:fake\\tend",
                                       Success}));
}

void TestAlertSender::recipientWithTabIsSkipped() {
    MailSenderFixture t({"spy@x\tbcc\tspy2@x;TO", "good@example.com;TO"});
    QVERIFY2(t.sink.isReady(), qPrintable(t.sink.errorString()));
    AppState& state = t.state;
    const QString skipped =
        QStringLiteral("Recipient Skipped (control character): spy@x\\tbcc\\tspy2@x");

    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t1;1;first")));
    t.sender.StartAlertSender();
    QVERIFY(runPass(t.sender));
    QVERIFY(t.sink.waitForMails(1));
    const ReceivedMail mail = t.sink.mails().first();
    QCOMPARE(mail.rcptTos, QStringList{"good@example.com"});
    QCOMPARE(mail.header("To"), QStringList{"good@example.com"});
    QVERIFY(!mail.hasHeader("Cc"));
    QCOMPARE(t.mailLog(), QStringList({skipped,
                                       "Time:t1,Projector Name:Hall A,Model:VX-100,"
                                       "Connection:COM1,Message:first",
                                       Success}));

    // With every address skipped there is no recipient: nothing is sent and
    // the alerts wait, as with no address at all.
    SetRecipients(state.Mail, {"spy@x\tbcc\tspy2@x;TO", "cc@example.com\r\n;CC"});
    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t2;1;second")));
    t.sender.StartAlertSender();
    QVERIFY(runPass(t.sender));
    QCOMPARE(t.mailLog().mid(3),
             QStringList({"Mail Not Sent (no recipient is set)", skipped,
                          "Recipient Skipped (control character): cc@example.com\\r\\n"}));
    QCOMPARE(t.commLog(), QStringList{"MailSend Error!!:An address isn't specified."});
    QCOMPARE(AlertQueueLength(state), 1);
    QVERIFY(!t.sender.isTimerActive());
    QCOMPARE(t.sender.mailRetryCount(), qint16(0));
    QCOMPARE(t.sink.mails().size(), 1);
}

void TestAlertSender::alertsFollowTheirProjectorAfterDeletion() {
    MailSenderFixture t;
    QVERIFY2(t.sink.isReady(), qPrintable(t.sink.errorString()));
    AppState& state = t.state;
    state.ProjectorCount = 0;
    ResetTree(state);
    QString error;
    for (const char* name : {"P1", "P2", "P3"})
        QVERIFY2(AddProjector(state, 1, SerialProjector(name, 1, {}), &error) != 0,
                 qPrintable(error));
    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t;1;for P1")));
    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t;2;for P2")));
    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t;3;for P3; it's hot")));

    DeleteProjectorNode(state, NodeOfProjector(state, 2));
    QCOMPARE(state.ProjectorCount, qint16(2));

    t.sender.StartAlertSender();
    QVERIFY(runPass(t.sender));
    QVERIFY(t.sink.waitForMails(2));
    const auto mails = t.sink.mails();
    QCOMPARE(mails.size(), 2);
    QVERIFY(mails[0].text.contains(QStringLiteral("Projector Name:P1\r\n")) ||
            mails[0].text.contains(QStringLiteral("Projector Name:P1\n")));
    QVERIFY(mails[1].text.contains(QStringLiteral("Projector Name:P3")));
    QVERIFY(mails[1].text.contains(QStringLiteral("Message:for P3; it's hot")));
}

void TestAlertSender::silentServerLeavesTheEventLoopRunning() {
    SmtpGate gate; // accepts and never greets until dropped
    QVERIFY(gate.isReady());
    MailSenderFixture t;
    AppState& state = t.state;
    state.Mail.SMTPServer = gate.server();
    state.clock.set(QDateTime(QDate(2026, 12, 8), QTime(10, 0, 30)));
    int ticks = 0; // stands for the dispatcher's and the clock's timers
    QTimer ticker;
    ticker.setInterval(10ms);
    connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
    ticker.start();

    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t1;1;first")));
    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t2;2;second")));
    t.sender.StartAlertSender();
    QTRY_COMPARE(gate.held(), 1); // MailSendTimer fired; the library waits for the greeting
    QVERIFY(t.sender.mailSending());
    const int before = ticks;
    QTRY_VERIFY(ticks >= before + 20);
    QCOMPARE(gate.held(), 1);
    QVERIFY(t.sender.mailSending());
    t.sender.StartAlertSender(); // leaves the running pass alone
    QVERIFY(!t.sender.isTimerActive());
    t.sender.RunSendPass(); // nor does a tick start a second one
    QCOMPARE(gate.accepted(), 1);
    QCOMPARE(t.mailLog(), QStringList{"Time:t1,Projector Name:Hall A,Model:VX-100,"
                                      "Connection:COM1,Message:first"});

    gate.drop();
    QTRY_VERIFY(!t.sender.mailSending());
    QCOMPARE(t.mailLog().last(), Failure + QStringLiteral(" (connection lost)"));
    QCOMPARE(t.sender.mailRetryCount(), qint16(1));
    QCOMPARE(t.sender.lastMailFailure(), state.clock.now());
    QVERIFY(t.sender.isTimerActive());

    // The retries are counted as for any failed mail.
    const QTime retries[] = {QTime(10, 5, 0), QTime(10, 10, 0), QTime(10, 15, 0)};
    for (const QTime& due : retries) {
        state.clock.set(QDateTime(QDate(2026, 12, 8), due.addSecs(-1)));
        t.sender.RunSendPass();
        QVERIFY(!t.sender.mailSending());
        state.clock.set(QDateTime(QDate(2026, 12, 8), due));
        QVERIFY(runPass(t.sender));
    }
    QCOMPARE(gate.accepted(), 4);
    QCOMPARE(failures(t.mailLog()), 4);
    QCOMPARE(t.mailLog().filter(QStringLiteral("Message:first")).size(), 4);
    QVERIFY(t.mailLog().filter(QStringLiteral("Message:second")).isEmpty());
    QCOMPARE(t.sender.mailRetryCount(), qint16(0));
    QVERIFY(!t.sender.isTimerActive());
    QCOMPARE(AlertQueueLength(state), 2);
}

void TestAlertSender::resultAppliesToTheAlertThatWasMailed() {
    MailSenderFixture t;
    QVERIFY2(t.sink.isReady(), qPrintable(t.sink.errorString()));
    SmtpGate gate(t.sink.port());
    QVERIFY(gate.isReady());
    AppState& state = t.state;
    state.ProjectorCount = 0;
    ResetTree(state);
    QString error;
    for (const char* name : {"P1", "P2", "P3", "P4"})
        QVERIFY2(AddProjector(state, 1, SerialProjector(name, 1, {}), &error) != 0,
                 qPrintable(error));
    state.Mail.SMTPServer = gate.server();

    // The projector of the alert under way is deleted, and the subject
    // changed: the mailed alert is gone already, the one behind it is not
    // lost and goes out with the new subject.
    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t;2;for P2")));
    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t;3;for P3")));
    t.sender.RunSendPass();
    QTRY_COMPARE(gate.held(), 1);
    DeleteProjectorNode(state, NodeOfProjector(state, 2));
    QCOMPARE(PeekAlertMessage(state), QStringLiteral("t;2;for P3"));
    state.Mail.Subject = QStringLiteral("Changed meanwhile");
    gate.open();
    QTRY_VERIFY(!t.sender.mailSending());
    QTRY_COMPARE(t.sink.mails().size(), 2);
    auto mails = t.sink.mails();
    QVERIFY(mails[0].text.contains(QStringLiteral("Projector Name:P2")));
    QCOMPARE(mails[0].header("Subject"), QStringList{"Projector alert"});
    QVERIFY(mails[1].text.contains(QStringLiteral("Projector Name:P3")));
    QVERIFY(mails[1].text.contains(QStringLiteral("Message:for P3")));
    QCOMPARE(mails[1].header("Subject"), QStringList{"Changed meanwhile"});
    QVERIFY(IsAlertQueueEmpty(state));

    // A projector below it is deleted: the mailed alert now reads with its
    // new index and still leaves the queue, so it is not mailed twice.
    gate.hold();
    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t;3;for P4")));
    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t;1;for P1")));
    t.sender.RunSendPass();
    QTRY_COMPARE(gate.held(), 1);
    DeleteProjectorNode(state, NodeOfProjector(state, 2)); // P3
    QCOMPARE(PeekAlertMessage(state), QStringLiteral("t;2;for P4"));
    gate.open();
    QTRY_VERIFY(!t.sender.mailSending());
    QTRY_COMPARE(t.sink.mails().size(), 4);
    mails = t.sink.mails();
    QVERIFY(mails[2].text.contains(QStringLiteral("Message:for P4")));
    QVERIFY(mails[3].text.contains(QStringLiteral("Message:for P1")));
    QVERIFY(IsAlertQueueEmpty(state));
    QCOMPARE(t.mailLog().count(Success), 4);
    QCOMPARE(t.sink.mails().size(), 4);
}

void TestAlertSender::shutdownLogsEveryAlertNotMailed() {
    const QString notSent = QStringLiteral(",Mail Not Sent (program ended)");
    const QString kept = QStringLiteral(",Mail Not Sent (program ended, kept for the next start)");
    const QString hallA = QStringLiteral("Projector Name:Hall A,Model:VX-100,Connection:COM1,");
    const QString hallB = QStringLiteral(
        "Projector Name:Hall B,Model:VX-200,Connection:192.168.0.20 (00:1A:2B:3C:4D:5E),");
    MailServerState t; // senders made and ended here
    QVERIFY2(t.sink.isReady(), qPrintable(t.sink.errorString()));
    SmtpGate gate;
    QVERIFY(gate.isReady());
    AppState& state = t.state;

    // Without a spool folder, a mail that comes back within the grace counts
    // as usual and every other alert is logged as not sent.
    {
        MailTestState plain;
        AppState& memoryOnly = plain.state;
        SetRecipients(memoryOnly.Mail, {"a@example.com;TO"});
        memoryOnly.Mail.SMTPServer = t.sink.server();
        MailWorker worker;
        AlertSender sender(memoryOnly, worker);
        QVERIFY(EnqueueAlertMessage(memoryOnly, QStringLiteral("t1;1;quick")));
        QVERIFY(EnqueueAlertMessage(memoryOnly, QStringLiteral("t2;2;queued")));
        sender.RunSendPass();
        QVERIFY(sender.mailSending());
        sender.shutdown(30s);
        QCOMPARE(plain.mailLog(), QStringList({"Time:t1," + hallA + "Message:quick", Success,
                                               "Time:t2," + hallB + "Message:queued" + notSent}));
        QVERIFY(IsAlertQueueEmpty(memoryOnly));
        QVERIFY(!sender.mailSending());
        QCOMPARE(t.sink.mails().size(), 1);

        // Nothing is mailed after the end.
        QVERIFY(EnqueueAlertMessage(memoryOnly, QStringLiteral("t3;1;too late")));
        sender.StartAlertSender();
        QVERIFY(!sender.isTimerActive());
        sender.RunSendPass();
        QVERIFY(!sender.mailSending());
    }

    // A silent server: the mail under way is given up after the grace; it
    // and the queued alerts stay in the spool for the next start.
    state.Mail.SMTPServer = gate.server();
    {
        MailWorker worker;
        AlertSender sender(state, worker);
        sender.openSpool();
        QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t4;1;stuck")));
        QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t5;2;waiting")));
        QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t6;1;last")));
        sender.RunSendPass();
        QTRY_COMPARE(gate.held(), 1);
        sender.shutdown(AlertSender::ShutdownGrace);
        QVERIFY(!sender.mailSending());
        QCOMPARE(AlertQueueLength(state), 3);
        QCOMPARE(QDir(t.home() + QStringLiteral("/MailQueue")).entryList(QDir::Files).size(), 3);
        QCOMPARE(t.mailLog(), QStringList({"Time:t4," + hallA + "Message:stuck",
                                           "Time:t4," + hallA + "Message:stuck" + kept,
                                           "Mail Queue Kept (alerts for the next start: 3)"}));
        // Gone from the spool too, before it closes with its sender.
        while (!IsAlertQueueEmpty(state))
            AdvanceAlertQueue(state);
    } // the worker goes while the library still waits for the server
    QCOMPARE(gate.held(), 1);
    gate.drop(); // the left thread ends on its own
    gate.hold();

    // The alert waits behind another mail (a test mail) at the end: it is
    // logged as not sent and is not mailed when the other one comes back.
    state.Mail.SMTPServer = t.sink.server();
    MailWorker worker;
    AlertSender sender(state, worker);
    sender.openSpool(); // the spool closed with the sender before
    int results = 0;
    connect(&worker, &MailWorker::sent, this, [&results] { ++results; });
    MailMessage test;
    test.server = gate.server();
    test.recipients = QStringLiteral("a@example.com");
    test.from = QStringLiteral("n@example.com");
    test.subject = QStringLiteral("Test");
    test.body = QStringLiteral("This is test mail.");
    worker.send(test);
    QTRY_COMPARE(gate.held(), 1);
    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t7;2;behind")));
    sender.RunSendPass();
    sender.shutdown(AlertSender::ShutdownGrace);
    QCOMPARE(t.mailLog().mid(t.mailLog().size() - 2),
             QStringList({"Time:t7," + hallB + "Message:behind" + kept,
                          "Mail Queue Kept (alerts for the next start: 1)"}));
    gate.drop();
    QTRY_COMPARE(results, 1);
    QTest::qWait(500); // room for the given-up alert mail, which must not go out
    QCOMPARE(t.sink.mails().size(), 1);
    QCOMPARE(results, 1);
}

void TestAlertSender::refusedCcStillDeliversToTo() {
    MailSenderFixture t({"a@example.com;TO", "c@example.com;CC"}, SmtpSink::Accept,
                        {QStringLiteral("--refuse-rcpt"), QStringLiteral("c@example.com")});
    QVERIFY2(t.sink.isReady(), qPrintable(t.sink.errorString()));
    AppState& state = t.state;
    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t1;1;Lamp")));
    t.sender.StartAlertSender();
    QVERIFY(runPass(t.sender));
    QVERIFY(t.sink.waitForMails(1));
    QCOMPARE(t.sink.mails().first().rcptTos, QStringList{"a@example.com"});
    QCOMPARE(t.mailLog().last(), Success + QStringLiteral(",Recipients Refused: c@example.com"));
    QVERIFY(IsAlertQueueEmpty(state));
    QCOMPARE(t.sender.mailRetryCount(), qint16(0));
}

void TestAlertSender::unreadableAttachmentStillDeliversTheAlert() {
    MailSenderFixture t;
    QVERIFY2(t.sink.isReady(), qPrintable(t.sink.errorString()));
    AppState& state = t.state;
    // A file its owner may not read (the tests may run as root, who reads
    // anything: then a missing file stands for it).
    const QString path = t.home() + QStringLiteral("/report.txt");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("x");
    file.close();
    QVERIFY(file.setPermissions(QFileDevice::WriteOwner));
    if (file.open(QIODevice::ReadOnly)) {
        file.close();
        QVERIFY(file.remove());
    }
    state.Mail.FilePath = path;
    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t1;1;Fan")));
    t.sender.StartAlertSender();
    QVERIFY(runPass(t.sender));
    QVERIFY(t.sink.waitForMails(1));
    const ReceivedMail mail = t.sink.mails().first();
    QVERIFY(mail.attachments.isEmpty());
    QVERIFY2(unixLines(mail.text).endsWith("Message:Fan\nAttachment not sent: " + path +
                                           " could not be read.\n"),
             qPrintable(mail.text));
    QCOMPARE(t.mailLog().last(), Success + QStringLiteral(",Attachment Skipped (unreadable)"));
    QVERIFY(IsAlertQueueEmpty(state));
}

void TestAlertSender::permanentlyRefusedAlertIsDroppedAfterItsRetries() {
    MailSenderFixture t({"a@example.com;TO"}, SmtpSink::Accept,
                        {QStringLiteral("--refuse-body"), QStringLiteral("poison")});
    QVERIFY2(t.sink.isReady(), qPrintable(t.sink.errorString()));
    AppState& state = t.state;
    state.clock.set(QDateTime(QDate(2026, 12, 8), QTime(10, 0, 30)));

    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t1;1;poison")));
    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t2;2;second")));
    t.sender.StartAlertSender();
    QVERIFY(runPass(t.sender));
    QCOMPARE(t.mailLog().last(), Failure + QStringLiteral(" (message refused)"));
    QCOMPARE(t.sender.mailRetryCount(), qint16(1));
    for (const QTime& due : {QTime(10, 5, 0), QTime(10, 10, 0)}) {
        state.clock.set(QDateTime(QDate(2026, 12, 8), due));
        QVERIFY(runPass(t.sender));
    }
    // An alert raised while the refused one is retried waits, and is not lost.
    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t3;1;third")));
    t.sender.StartAlertSender();
    QCOMPARE(failures(t.mailLog()), 3);
    QVERIFY(t.sink.mails().isEmpty());

    // The last retry is refused too: the alert is dropped and the others go
    // out in the same pass.
    state.clock.set(QDateTime(QDate(2026, 12, 8), QTime(10, 15, 0)));
    QVERIFY(runPass(t.sender));
    QCOMPARE(failures(t.mailLog()), 4);
    QVERIFY(t.mailLog().contains(QStringLiteral("Time:t1,Projector Name:Hall A,Model:VX-100,"
                                                "Connection:COM1,Message:poison,Mail Dropped "
                                                "(refused by the server)")));
    QCOMPARE(state.Counters.AlertsDroppedRefused, quint64(1));
    QVERIFY(t.sink.waitForMails(2));
    QVERIFY(t.sink.mails().at(0).text.contains(QStringLiteral("Message:second")));
    QVERIFY(t.sink.mails().at(1).text.contains(QStringLiteral("Message:third")));
    QVERIFY(IsAlertQueueEmpty(state));
    QCOMPARE(t.sender.mailRetryCount(), qint16(0));
    QVERIFY(!t.sender.isTimerActive());
}

void TestAlertSender::loginAndTlsComeFromTheSettings() {
    TestCertificates certs;
    QVERIFY2(certs.isReady(), qPrintable(certs.errorString()));
    const QString password = QStringLiteral("Zürich \"1\":'x'");
    MailSenderFixture t({"a@example.com;TO"}, SmtpSink::Accept,
                        {"--cert", certs.serverCert(), "--key", certs.key(), "--starttls", "--user",
                         "ops@example.com", "--password", password});
    QVERIFY2(t.sink.isReady(), qPrintable(t.sink.errorString()));
    AppState& state = t.state;
    state.Mail.SMTPServer = QStringLiteral("127.0.0.1:1");
    state.Mail.SMTPPort = QString::number(t.sink.port()); // wins over the server's port
    state.Mail.SMTPUser = QStringLiteral("ops@example.com");
    state.Mail.SMTPSecurity = QStringLiteral("starttls");
    state.Mail.SMTPCAFile = certs.caCert();
    const QString passwordFile = SmtpPassword::filePath(state);
    QVERIFY(SmtpPassword::writeFile(passwordFile, password));
    QCOMPARE(fileMode(passwordFile), 0600);
    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t1;1;first")));
    t.sender.StartAlertSender();
    QVERIFY(runPass(t.sender));
    QCOMPARE(t.mailLog().last(), Success);
    QVERIFY(t.sink.waitForMails(1));

    // A wrong password: the reason, and the alert kept for its retry.
    QVERIFY(SmtpPassword::writeFile(passwordFile, password + QStringLiteral("!")));
    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t2;1;second")));
    t.sender.StartAlertSender();
    QVERIFY(runPass(t.sender));
    QCOMPARE(t.mailLog().last(), Failure + QStringLiteral(" (login refused)"));
    QCOMPARE(AlertQueueLength(state), 1);

    // The server's certificate without its CA.
    state.Mail.SMTPCAFile.clear();
    state.clock.set(QDateTime(QDate(2026, 12, 8), QTime(11, 0)));
    QVERIFY(runPass(t.sender));
    QCOMPARE(t.mailLog().last(), Failure + QStringLiteral(" (certificate not trusted)"));

    // A password file others may read is not read at all.
    QVERIFY(SmtpPassword::writeFile(passwordFile, password));
    QVERIFY(QFile::setPermissions(passwordFile, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                    QFileDevice::ReadGroup));
    state.Mail.SMTPCAFile = certs.caCert();
    state.clock.set(QDateTime(QDate(2026, 12, 8), QTime(12, 0)));
    QVERIFY(runPass(t.sender));
    QVERIFY(t.mailLog().contains(QStringLiteral("Password File Refused (readable by others): ") +
                                 passwordFile));
    QCOMPARE(t.mailLog().last(), Failure + QStringLiteral(" (login refused)"));

    // Read-only for its owner is fine.
    QVERIFY(QFile::setPermissions(passwordFile, QFileDevice::ReadOwner));
    state.clock.set(QDateTime(QDate(2026, 12, 8), QTime(13, 0)));
    QVERIFY(runPass(t.sender));
    QCOMPARE(t.mailLog().last(), Success);
    QVERIFY(t.sink.waitForMails(2));
    QVERIFY(IsAlertQueueEmpty(state));
}

void TestAlertSender::recipientsAsTheSettingsFileHoldsThem() {
    MailServerState t; // its mail settings come from the file
    QVERIFY2(t.sink.isReady(), qPrintable(t.sink.errorString()));
    const QString conf = t.home() + QStringLiteral("/Norvik3.conf");
    const auto writeConf = [&](const QByteArray& addresses) {
        QFile file(conf);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("[MailSetting]\nMailSend=1\nFromAddress=norvik@example.com\nSMTPServer=" +
                   t.sink.server().toUtf8() + "\n" + addresses);
    };
    // Written by hand the way an operator does: the unquoted ";TO" is a
    // comment to the settings reader, the quoted ";CC" is kept.
    writeConf("SendAddress1=av-team@example.org;TO\nSendAddress2=\"ops@example.org;CC\"\n");
    const auto loaded = std::make_unique<AppState>(); // large; off the stack
    SettingsStore(conf).LoadConfiguration(*loaded);
    AppState& state = t.state;
    state.Mail = loaded->Mail;
    MailWorker worker;
    {
        AlertSender sender(state, worker);
        QVERIFY(!state.Health.isActive(HealthCondition::NoRecipient));
        QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t1;1;Lamp Error")));
        sender.StartAlertSender();
        QVERIFY(runPass(sender));
        QVERIFY(t.sink.waitForMails(1));
        const ReceivedMail mail = t.sink.mails().first();
        QCOMPARE(mail.rcptTos, QStringList({"av-team@example.org", "ops@example.org"}));
        QCOMPARE(mail.header("To"), QStringList{"av-team@example.org"});
        QCOMPARE(mail.header("Cc"), QStringList{"ops@example.org"});
    }

    // Mail on and nobody to send to: said in the mail log and the health
    // report, and cleared once a recipient is there.
    writeConf("SendAddress1=\nSendAddress2=\n");
    SettingsStore(conf).LoadConfiguration(*loaded);
    state.Mail = loaded->Mail;
    {
        AlertSender sender(state, worker);
        QVERIFY(state.Health.isActive(HealthCondition::NoRecipient));
        QCOMPARE(t.mailLog().last(), QStringLiteral("Mail Not Sent (no recipient is set)"));
    }
    state.Mail.SendAddress[1] = QStringLiteral("av-team@example.org");
    QVERIFY(ReportRecipients(state));
    QVERIFY(!state.Health.isActive(HealthCondition::NoRecipient));
}

void TestAlertSender::serverWithLoginIsAFailedSend_data() {
    QTest::addColumn<QString>("form");
    QTest::addColumn<bool>("refused");
    QTest::newRow("smtp URL with login") << "smtp://ops:s3cret@%1" << true;
    QTest::newRow("smtps URL with user") << "smtps://ops@%1" << true;
    QTest::newRow("login without scheme") << "ops:s3cret@%1" << true;
    QTest::newRow("smtp URL") << "smtp://%1" << false;
}

void TestAlertSender::serverWithLoginIsAFailedSend() {
    QFETCH(QString, form);
    QFETCH(bool, refused);
    MailSenderFixture t;
    QVERIFY2(t.sink.isReady(), qPrintable(t.sink.errorString()));
    AppState& state = t.state;
    state.Mail.SMTPServer = form.arg(t.sink.server());
    QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t1;1;first")));
    t.sender.StartAlertSender();
    QVERIFY(runPass(t.sender));
    if (!refused) {
        QCOMPARE(t.mailLog().last(), Success);
        QVERIFY(t.sink.waitForMails(1));
        return;
    }
    QCOMPARE(t.mailLog().last(), Failure + QStringLiteral(" (") + ServerUserInfoText + ')');
    QCOMPARE(AlertQueueLength(state), 1);
    QCOMPARE(t.sender.mailRetryCount(), qint16(1));
    QTest::qWait(300); // room for a mail that must not go out
    QCOMPARE(t.sink.mails().size(), 0);
}

QTEST_GUILESS_MAIN(TestAlertSender)
#include "tst_alertsender.moc"
