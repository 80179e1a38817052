// Recovery mails: an error or disconnect alert, then the projector is fine
// again, through the real reply interpreter, sender and SMTP server.

#include "mail/MailTestState.h"
#include "mail/SmtpSink.h"

#include "comm/AlertQueue.h"
#include "comm/CommandQueue.h"
#include "comm/CommandTable.h"
#include "comm/ReplyInterpreter.h"
#include "mail/AlertSender.h"
#include "mail/MailWorker.h"

#include <QtTest>

namespace {

// An error status reply for the projector, handed over as the dispatcher does.
void errorStatus(AppState& state, ReplyInterpreter& interpreter, int projector, int code) {
    const CommandTable& table = BuildCommandTable();
    QVERIFY(EnqueueCommand(state, projector, table.ErrorStatusGetCommand));
    QueueEntry& entry = CurrentQueueEntry(state, projector);
    entry.state = QueueDataReply;
    entry.reply = QByteArray("\x1D", 1) + char(code) + char(0);
    entry.replyLength = qint32(entry.reply.size());
    interpreter.HandleDataReply(projector);
    FreeCurrentEntry(state, projector);
}

QStringList queuedMessages(AppState& state) {
    QStringList out;
    while (!IsAlertQueueEmpty(state)) {
        out << PeekAlertMessage(state).section(QLatin1Char(';'), 2);
        AdvanceAlertQueue(state);
    }
    return out;
}

} // namespace

class TestRecoveryMail : public QObject {
    Q_OBJECT

  private slots:
    void errorThatClearsIsFollowedByARecoveryMail();
    void regainedContactIsMailedOnce();
};

void TestRecoveryMail::errorThatClearsIsFollowedByARecoveryMail() {
    SmtpSink sink;
    QVERIFY2(sink.isReady(), qPrintable(sink.errorString()));
    MailTestState t;
    AppState& state = t.state;
    state.Mail.SMTPServer = sink.server();
    state.Mail.SendAddress[1] = QStringLiteral("a@example.com;TO");
    state.Mail.LampErrorText = QStringLiteral("Lamp failure");
    state.Mail.RecoverySend = true;
    MailWorker worker;
    AlertSender sender(state, worker);
    ReplyInterpreter interpreter(state);
    interpreter.setAlertStarter([&sender] { sender.StartAlertSender(); });

    errorStatus(state, interpreter, 1, 0); // Normal: nothing to recover from
    errorStatus(state, interpreter, 1, 3); // lamp error
    errorStatus(state, interpreter, 1, 3);
    errorStatus(state, interpreter, 1, 0); // fine again
    errorStatus(state, interpreter, 1, 0);
    QTRY_VERIFY_WITH_TIMEOUT(IsAlertQueueEmpty(state) && !sender.mailSending(), 30000);
    QVERIFY(sink.waitForMails(2));
    const auto mails = sink.mails();
    QCOMPARE(mails.size(), 2);
    QVERIFY(mails[0].text.contains(QStringLiteral("Message:Lamp failure")));
    QVERIFY(mails[1].text.contains(QStringLiteral("Projector Name:Hall A")));
    QVERIFY(mails[1].text.contains(QStringLiteral("Connection:COM1")));
    QVERIFY2(mails[1].text.contains(QStringLiteral("Message:Recovered: Lamp failure")),
             qPrintable(mails[1].text));

    // Switched off: the error is mailed, its end is not.
    state.Mail.RecoverySend = false;
    errorStatus(state, interpreter, 1, 3);
    errorStatus(state, interpreter, 1, 0);
    QTRY_VERIFY_WITH_TIMEOUT(IsAlertQueueEmpty(state) && !sender.mailSending(), 30000);
    QVERIFY(sink.waitForMails(3));
    QTest::qWait(200);
    QCOMPARE(sink.mails().size(), 3);
    QVERIFY(sink.mails().at(2).text.contains(QStringLiteral("Message:Lamp failure")));
}

void TestRecoveryMail::regainedContactIsMailedOnce() {
    MailTestState t;
    AppState& state = t.state;
    state.Mail.DisconnectText = QStringLiteral("Gone");
    state.Mail.RecoverySend = true;
    ReplyInterpreter interpreter(state);
    ContactWatch& contact = interpreter.contact();

    contact.replyAccepted(2); // answered once, so its loss is an alarm
    contact.pingFailed(2);
    contact.pingFailed(2);
    contact.pingAnswered(2);
    contact.replyAccepted(2);
    QCOMPARE(queuedMessages(state), QStringList({"Gone", "Recovered: Gone"}));

    // Mail switched off before it answers again: no recovery mail, and the
    // next loss starts afresh.
    contact.pingFailed(2);
    state.Mail.MailSend = false;
    contact.replyAccepted(2);
    QCOMPARE(queuedMessages(state), QStringList{"Gone"});
    state.Mail.MailSend = true;
    contact.pingFailed(2);
    contact.pingAnswered(2);
    QCOMPARE(queuedMessages(state), QStringList({"Gone", "Recovered: Gone"}));
}

QTEST_GUILESS_MAIN(TestRecoveryMail)
#include "tst_recoverymail.moc"
