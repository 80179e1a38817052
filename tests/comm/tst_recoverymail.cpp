// Recovery mails: an error or disconnect alert, then the projector is fine
// again, through the real reply interpreter, sender and SMTP server.

#include "support/MailSenderFixture.h"
#include "support/MailTestState.h"
#include "support/ProjectorRecords.h"
#include "support/SmtpSink.h"

#include "comm/CommandQueue.h"
#include "comm/ReplyInterpreter.h"
#include "core/Fleet.h"
#include "mail/AlertQueue.h"
#include "mail/AlertSender.h"
#include "mail/MailWorker.h"
#include "protocol/CommandTable.h"

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
    void recoveryFollowsItsProjectorAcrossADeletion();
};

void TestRecoveryMail::errorThatClearsIsFollowedByARecoveryMail() {
    MailSenderFixture t;
    QVERIFY2(t.sink.isReady(), qPrintable(t.sink.errorString()));
    AppState& state = t.state;
    state.Mail.LampErrorText = QStringLiteral("Lamp failure");
    state.Mail.RecoverySend = true;
    ReplyInterpreter interpreter(state);
    interpreter.setAlertStarter([&t] { t.sender.StartAlertSender(); });

    errorStatus(state, interpreter, 1, 0); // Normal: nothing to recover from
    errorStatus(state, interpreter, 1, 3); // lamp error
    errorStatus(state, interpreter, 1, 3);
    errorStatus(state, interpreter, 1, 0); // fine again
    errorStatus(state, interpreter, 1, 0);
    QTRY_VERIFY_WITH_TIMEOUT(IsAlertQueueEmpty(state) && !t.sender.mailSending(), 30000);
    QVERIFY(t.sink.waitForMails(2));
    const auto mails = t.sink.mails();
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
    QTRY_VERIFY_WITH_TIMEOUT(IsAlertQueueEmpty(state) && !t.sender.mailSending(), 30000);
    QVERIFY(t.sink.waitForMails(3));
    QTest::qWait(200);
    QCOMPARE(t.sink.mails().size(), 3);
    QVERIFY(t.sink.mails().at(2).text.contains(QStringLiteral("Message:Lamp failure")));
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

// Projector 2's disconnect alert is still pending when projector 1 is
// deleted: its recovery is mailed for it under its new number 1, and the
// projector that took number 2 has nothing to recover from.
void TestRecoveryMail::recoveryFollowsItsProjectorAcrossADeletion() {
    MailTestState t;
    AppState& state = t.state;
    state.Mail.DisconnectText = QStringLiteral("Gone");
    state.Mail.RecoverySend = true;
    ResetAllProjectors(state);
    ResetTree(state);
    for (int p = 1; p <= 3; ++p)
        QVERIFY(AddProjector(state, 1, LanProjector(QStringLiteral("PJ%1").arg(p), {}, {})) > 0);
    ReplyInterpreter interpreter(state);
    ContactWatch& contact = interpreter.contact();
    contact.replyAccepted(2);
    contact.pingFailed(2);
    QCOMPARE(queuedMessages(state), QStringList{"Gone"});

    DeleteProjectorNode(state, NodeOfProjector(state, 1));
    contact.replyAccepted(2); // was projector 3
    QCOMPARE(queuedMessages(state), QStringList());
    contact.replyAccepted(1); // was projector 2
    const QStringList recovered = queuedMessages(state);
    QCOMPARE(recovered, QStringList{"Recovered: Gone"});
}

QTEST_GUILESS_MAIN(TestRecoveryMail)
#include "tst_recoverymail.moc"
