// Composition of alert mails and the alert queue's ring: plain functions.

#include "core/AppState.h"
#include "mail/AlertMail.h"
#include "mail/AlertQueue.h"
#include "support/ProjectorRecords.h"

#include <QtTest>

#include <memory>

class TestAlertMail : public QObject {
    Q_OBJECT

  private slots:
    void recipientListFollowsKindsAndOrder();
    void addressesWithControlCharactersAreLeftOut();
    void alertTextKeepsTheWholeMessage();
    void bodyAndLogLineForEachConnection();
    void ringRefusesAlertsWhenFull();
};

void TestAlertMail::recipientListFollowsKindsAndOrder() {
    MailSettings mail;
    mail.SendAddress[1] = QStringLiteral("a@x;TO");
    mail.SendAddress[3] = QStringLiteral("c@x;CC");
    mail.SendAddress[4] = QStringLiteral("d@x;BCC");
    mail.SendAddress[7] = QStringLiteral("b@x;TO");
    mail.SendAddress[8] = QStringLiteral("e@x;to");    // kinds are exact
    mail.SendAddress[9] = QStringLiteral("no-kind@x"); // no kind at all: TO
    mail.SendAddress[10] = QStringLiteral("empty-kind@x;");
    QCOMPARE(BuildRecipientList(mail),
             QStringLiteral("a@x\tb@x\tno-kind@x\tempty-kind@x\tcc\tc@x\tbcc\td@x"));

    mail = MailSettings();
    mail.SendAddress[2] = QStringLiteral("c@x;CC");
    QCOMPARE(BuildRecipientList(mail), QStringLiteral("\tcc\tc@x"));
    mail.SendAddress[2].clear();
    QCOMPARE(BuildRecipientList(mail), QString());

    // An apostrophe is legal in an address and is kept.
    mail.SendAddress[1] = QStringLiteral("o'brien@x;BCC");
    QCOMPARE(BuildRecipientList(mail), QStringLiteral("\tbcc\to'brien@x"));

    // The list rows of the settings dialog give the same text.
    const std::vector<RecipientRow> rows = {{"a@x", "TO"}, {"d@x", "BCC"}, {"c@x", "CC"}};
    QCOMPARE(BuildRecipientList(rows), QStringLiteral("a@x\tcc\tc@x\tbcc\td@x"));
    QCOMPARE(BuildRecipientList(std::vector<RecipientRow>()), QString());
}

void TestAlertMail::addressesWithControlCharactersAreLeftOut() {
    // A TAB would make the library read "bcc" and a hidden recipient.
    MailSettings mail;
    mail.SendAddress[1] = QStringLiteral("spy@x\tbcc\tspy2@x;TO");
    mail.SendAddress[2] = QStringLiteral("good@x;TO");
    mail.SendAddress[3] = QStringLiteral("c@x\r\nBcc: evil@x;CC");
    mail.SendAddress[4] = QStringLiteral("jörg@müller.example;BCC"); // non-ASCII is fine
    mail.SendAddress[5] = QStringLiteral("del\x7F@x;BCC");
    mail.SendAddress[6] = QStringLiteral("nel\u0085@x;TO");
    mail.SendAddress[7] = QStringLiteral("ignored\t@x;XX"); // not mailed anyway
    QCOMPARE(BuildRecipientList(mail), QStringLiteral("good@x\tbcc\tjörg@müller.example"));
    QCOMPARE(SkippedRecipients(StoredRecipientRows(mail)),
             QStringList({"spy@x\tbcc\tspy2@x", "c@x\r\nBcc: evil@x", "del\x7F@x", "nel\u0085@x"}));
    QCOMPARE(RecipientSkippedLogLine(QStringLiteral("a\tb")),
             QStringLiteral("Recipient Skipped (control character): a\tb"));

    // Every address skipped: no recipient at all.
    mail.SendAddress[2].clear();
    mail.SendAddress[4].clear();
    QCOMPARE(BuildRecipientList(mail), QString());
    QCOMPARE(SkippedRecipients(StoredRecipientRows(mail)).size(), 4);

    QVERIFY(!HasControlCharacter(QStringLiteral("o'brien+alerts@example.com")));
    QVERIFY(!HasControlCharacter(QStringLiteral("a b@x"))); // a blank is no control character
    QVERIFY(HasControlCharacter(QStringLiteral("a@x") + QChar(0)));
    QVERIFY(HasControlCharacter(QStringLiteral("\x1B@x")));
}

void TestAlertMail::alertTextKeepsTheWholeMessage() {
    const AlertText a =
        ParseAlertText(QStringLiteral("2026/12/08 10:00;12;Lamp isn't OK; call Bob"));
    QCOMPARE(a.time, QStringLiteral("2026/12/08 10:00"));
    QCOMPARE(a.projector, 12);
    QCOMPARE(a.message, QStringLiteral("Lamp isn't OK; call Bob"));

    const AlertText empty = ParseAlertText(QStringLiteral("12/8/26 9:05 AM;3;"));
    QCOMPARE(empty.projector, 3);
    QCOMPARE(empty.message, QString());

    const RecipientRow row = ParseSendAddress(QStringLiteral("o'brien@x;CC"));
    QCOMPARE(row.address, QStringLiteral("o'brien@x"));
    QCOMPARE(row.kind, QStringLiteral("CC"));
    QCOMPARE(ParseSendAddress(SendAddressEntry({"a@x", "BCC"})).kind, QStringLiteral("BCC"));
}

void TestAlertMail::bodyAndLogLineForEachConnection() {
    Projector p = SerialProjector(QStringLiteral("Hall A"), 3, {}).model(QStringLiteral("VX-100"));
    const AlertText alert{QStringLiteral("2026/12/08 10:00"), 1, QStringLiteral("Fan error")};
    QCOMPARE(AlertMailBody(p, alert),
             QStringLiteral("Time:2026/12/08 10:00\r\nProjector Name:Hall A\r\nModel:VX-100\r\n"
                            "Connection:COM3\r\nMessage:Fan error\r\n"));
    QCOMPARE(AlertMailLogLine(p, alert),
             QStringLiteral("Time:2026/12/08 10:00,Projector Name:Hall A,Model:VX-100,"
                            "Connection:COM3,Message:Fan error"));

    p.ConnectionKind = ConnectionLan;
    p.IPAddress = QStringLiteral("10.0.0.5");
    p.MACAddress = QStringLiteral("00:1A:2B:3C:4D:5E");
    QVERIFY(AlertMailBody(p, alert).contains(
        QStringLiteral("\r\nConnection:10.0.0.5 (00:1A:2B:3C:4D:5E)\r\nMessage:")));
    QVERIFY(AlertMailLogLine(p, alert).contains(
        QStringLiteral(",Connection:10.0.0.5 (00:1A:2B:3C:4D:5E),Message:")));

    p.MACAddress.clear();
    QVERIFY(AlertMailBody(p, alert).contains(QStringLiteral("\r\nConnection:10.0.0.5\r\n")));
    QVERIFY(AlertMailLogLine(p, alert).contains(QStringLiteral(",Connection:10.0.0.5,")));

    p.ConnectionKind = -1;
    QCOMPARE(AlertMailBody(p, alert),
             QStringLiteral("Time:2026/12/08 10:00\r\nProjector Name:Hall A\r\nModel:VX-100\r\n"
                            "Message:Fan error\r\n"));
    QCOMPARE(AlertMailLogLine(p, alert),
             QStringLiteral("Time:2026/12/08 10:00,Projector Name:Hall A,Model:VX-100,"
                            "Message:Fan error"));

    // A PJLink projector's model is the product it told (INF2).
    p.Protocol = ProtocolPJLink;
    QVERIFY(AlertMailBody(p, alert).contains(QStringLiteral("\r\nModel:VX-100\r\n")));
    p.PJLink.Product = QStringLiteral("PL-100");
    QVERIFY(AlertMailBody(p, alert).contains(QStringLiteral("\r\nModel:PL-100\r\n")));
    QVERIFY(AlertMailLogLine(p, alert).contains(QStringLiteral(",Model:PL-100,")));
}

void TestAlertMail::ringRefusesAlertsWhenFull() {
    const auto owner = std::make_unique<AppState>(); // large; off the stack
    AppState& state = *owner;
    int accepted = 0;
    for (int i = 0; i < 300; ++i)
        accepted += EnqueueAlertMessage(state, QStringLiteral("t;1;m%1").arg(i)) ? 1 : 0;
    QCOMPARE(accepted, AlertQueueLength(state));
    QVERIFY(accepted >= 255);
    // Without a spool the ring drops what it cannot take, and says so.
    QCOMPARE(state.Counters.AlertsDroppedQueueFull, quint64(300 - accepted));
    QVERIFY(state.Health.isActive(HealthCondition::SpoolDropping));
    AdvanceAlertQueue(state);
    QVERIFY(!state.Health.isActive(HealthCondition::SpoolDropping));
    // Nothing was overwritten: the others come back in order.
    for (int i = 1; i < accepted; ++i) {
        QCOMPARE(PeekAlertMessage(state), QStringLiteral("t;1;m%1").arg(i));
        AdvanceAlertQueue(state);
    }
    QVERIFY(IsAlertQueueEmpty(state));

    // Second round (slots 1..256), with the read index in the middle.
    for (int i = 0; i < 100; ++i)
        QVERIFY(EnqueueAlertMessage(state, QStringLiteral("t;1;r%1").arg(i)));
    for (int i = 0; i < 50; ++i)
        AdvanceAlertQueue(state);
    accepted = 50;
    for (int i = 100; i < 400; ++i)
        accepted += EnqueueAlertMessage(state, QStringLiteral("t;1;r%1").arg(i)) ? 1 : 0;
    QCOMPARE(AlertQueueLength(state), accepted);
    for (int i = 50; i < 50 + accepted; ++i) {
        QCOMPARE(PeekAlertMessage(state), QStringLiteral("t;1;r%1").arg(i));
        AdvanceAlertQueue(state);
    }
    QVERIFY(IsAlertQueueEmpty(state));
}

QTEST_GUILESS_MAIN(TestAlertMail)
#include "tst_alertmail.moc"
