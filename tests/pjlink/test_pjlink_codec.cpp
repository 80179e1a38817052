// The PJLink text rules: lines for frames, greetings, the digest, tolerant
// reading of replies, and the mapping of values onto the status model.

#include "core/AppState.h"
#include "pjlink/PJLinkCodec.h"
#include "pjlink/PJLinkReplies.h"
#include "protocol/CommandTable.h"

#include <QTest>

class TestPJLinkCodec : public QObject {
    Q_OBJECT

  private slots:
    void linesForFrames() {
        const CommandTable& t = BuildCommandTable();
        struct Case {
            const CommandFrame& frame;
            int pjlinkClass;
            const char* line; // nullptr: PJLink has no such command
        };
        const Case cases[] = {
            {t.PowerGetCommand, 1, "%1POWR ?"},   {t.PowerOnCommand, 2, "%1POWR 1"},
            {t.PowerOffCommand, 0, "%1POWR 0"},   {t.InputGetCommand, 1, "%1INPT ?"},
            {t.InputGetCommand, 2, "%2INPT ?"},   {t.FilterTimeGetCommand, 2, "%2FILT ?"},
            {t.FilterTimeGetCommand, 1, nullptr}, {t.BlankOnCommand, 1, "%1AVMT 11"},
            {t.MuteOffCommand, 2, "%1AVMT 20"},   {t.LampTimeResetCommand, 2, nullptr},
            {t.AspectSet1Command, 1, nullptr},    {t.BrightnessIncrementCommand, 2, nullptr},
        };
        for (const Case& c : cases) {
            const auto line = PJLinkLineForFrame(c.frame, c.pjlinkClass);
            QCOMPARE(line.has_value(), c.line != nullptr);
            if (c.line)
                QCOMPARE(*line, QByteArray(c.line));
        }
        QCOMPARE(PJLinkInputLine(QStringLiteral("31"), 1), QByteArray("%1INPT 31"));
        QCOMPARE(PJLinkInputLine(QStringLiteral("3A"), 1), QByteArray("%2INPT 3A"));
        QCOMPARE(PJLinkFreezeLine(true), QByteArray("%2FREZ 1"));
    }

    void greetingsAndDigest() {
        QCOMPARE(ParsePJLinkGreeting("PJLINK 0").kind, PJLinkGreeting::Kind::Open);
        QCOMPARE(ParsePJLinkGreeting("pjlink erra").kind, PJLinkGreeting::Kind::Refused);
        QCOMPARE(ParsePJLinkGreeting("HELLO").kind, PJLinkGreeting::Kind::Broken);
        QCOMPARE(ParsePJLinkGreeting("PJLINK 1 ").kind, PJLinkGreeting::Kind::Broken);
        const PJLinkGreeting password = ParsePJLinkGreeting("PJLINK 1 5a3c9e01\r");
        QCOMPARE(password.kind, PJLinkGreeting::Kind::Password);
        QCOMPARE(password.random, QByteArray("5a3c9e01"));
        // MD5 over the random part and the UTF-8 password, in lower-case hex.
        QCOMPARE(PJLinkDigest(password.random, QStringLiteral("pässwort")),
                 QByteArray("6109770bc25cfaeba24b9835f951f7a2"));
        // The digest in front of a first command never reaches the log.
        QCOMPARE(PJLinkLogText("6109770bc25cfaeba24b9835f951f7a2%1POWR ?\r"),
                 QStringLiteral("%1POWR ?"));
        QCOMPARE(PJLinkLogText(QByteArray("%1NAME=a\x01z")), QStringLiteral("%1NAME=a.z"));
    }

    void tolerantReplies() {
        const auto lower = ParsePJLinkReply("%1powr=1\r");
        QVERIFY(lower);
        QCOMPARE(lower->body, QByteArray("POWR"));
        QCOMPARE(lower->value, QByteArray("1"));
        QVERIFY(ReplyAnswers(*lower, "%1POWR ?"));
        QVERIFY(!ReplyAnswers(*lower, "%1INPT ?"));
        QVERIFY(!ParsePJLinkReply("POWR=1"));
        QVERIFY(!ParsePJLinkReply("%3POWR=1"));
        QVERIFY(!ParsePJLinkReply("%1PO#R=1"));
        QVERIFY(IsAuthenticationRefusal("PJLINK ERRA\r"));
        QCOMPARE(ClassifyPJLinkValue("ok"), PJLinkAnswer::Ok);
        QCOMPARE(ClassifyPJLinkValue("ERR3"), PJLinkAnswer::Unavailable);
        for (const char* refusal : {"ERR1", "err2", "ERR4"})
            QCOMPARE(ClassifyPJLinkValue(refusal), PJLinkAnswer::Refused);
        QCOMPARE(*PJLinkClass("Class 2"), qint16(2));
        QCOMPARE(*PJLinkClass("1"), qint16(1));
        QVERIFY(!PJLinkClass("3"));
    }

    // ERST digits are fan, lamp, temperature, cover, filter, other; the most
    // serious kind wins, and a warning alone is no error.
    void errorsAndWarnings() {
        struct Case {
            const char* erst;
            qint16 code;
            const char* warning;
        };
        const Case cases[] = {
            {"000000", 0, ""},
            {"020000", 3, ""},
            {"002000", 4, ""},
            {"200000", 2, ""},
            {"000200", 1, ""},
            {"000020", 8, ""},
            {"000002", 9, ""},
            {"220000", 3, ""},
            {"212000", 4, ""},
            {"010000", 0, "Lamp Warning"},
            {"100001", 0, "Fan Warning"},
            {"000011", 0, "Filter Warning"},
        };
        for (const Case& c : cases) {
            const auto state = PJLinkErrors(c.erst);
            QVERIFY2(state, c.erst);
            QCOMPARE(state->errorCode, c.code);
            QCOMPARE(state->warning, QString::fromLatin1(c.warning));
        }
        for (const char* bad : {"00000", "0000003", "00x000"})
            QVERIFY(!PJLinkErrors(bad));
    }

    void lampsInputsAndMutes() {
        const auto lamps = PJLinkLampHours("40000 1 120 0");
        QVERIFY(lamps);
        QCOMPARE(lamps->count, 2);
        QCOMPARE(lamps->hours[0], 40000); // past what 16 bits hold
        QVERIFY(lamps->on[0] && !lamps->on[1]);
        for (const char* bad : {"", "12", "12 2", "-1 1", "1 1 2"})
            QVERIFY2(!PJLinkLampHours(bad), bad);
        QCOMPARE(PJLinkInputText(QStringLiteral("31")), QStringLiteral("DIGITAL 1"));
        QCOMPARE(PJLinkInputText(QStringLiteral("5z")), QStringLiteral("NETWORK Z"));
        QCOMPARE(PJLinkInputText(QStringLiteral("71")), QStringLiteral("-"));
        QCOMPARE(PJLinkInputList("11 31 31 3a xx"),
                 QStringList({QStringLiteral("11"), QStringLiteral("31"), QStringLiteral("3A")}));
        QCOMPARE(*PJLinkMutes("31"), (std::pair<qint16, qint16>{1, 1}));
        QCOMPARE(*PJLinkMutes("21"), (std::pair<qint16, qint16>{0, 1}));
        QVERIFY(!PJLinkMutes("41"));
    }

    // Texts as the projector sends them: UTF-8, or Latin-1 where the bytes
    // are no UTF-8 (a cut sequence too).
    void textsInEitherEncoding() {
        struct Case {
            const char* bytes;
            QString text;
        };
        const Case cases[] = {
            {"Hall 3", QStringLiteral("Hall 3")},
            {"Salle \xe9t\xe9", QStringLiteral("Salle été")},
            {"Saal \xc3\x84", QStringLiteral("Saal Ä")},
            {"  Caf\xe9 ", QStringLiteral("Café")},
            {"Aula \xc3", QStringLiteral("Aula Ã")},
        };
        for (const Case& c : cases) {
            ProjectorInfo info;
            ApplyPJLinkValue(info, "NAME", c.bytes);
            QCOMPARE(info.PJLink.Name, c.text);
            ApplyPJLinkValue(info, "INF2", c.bytes);
            QCOMPARE(info.PJLink.Product, c.text);
        }
        QCOMPARE(PJLinkText(QByteArray(100, 'x')).size(), 64);
    }

    // Which ERR3 refusals wait for a warm-up or cool-down to end.
    void busyWaits() {
        struct Case {
            const char* line;
            qint16 power;
            PJLinkWait wait;
        };
        const Case cases[] = {
            {"%1POWR 0", 3, PJLinkWait::WarmUp},   {"%1POWR 0", 1, PJLinkWait::WarmUp},
            {"%1POWR 1", 2, PJLinkWait::CoolDown}, {"%1POWR ?", 3, PJLinkWait::None},
            {"%1INPT 31", 3, PJLinkWait::WarmUp},  {"%2INPT 3A", 0, PJLinkWait::None},
            {"%1AVMT 11", 2, PJLinkWait::None},    {"%1INPT ?", 3, PJLinkWait::None},
        };
        for (const Case& c : cases)
            QVERIFY2(PJLinkBusyWait(c.line, c.power) == c.wait, c.line);
    }

    // A start-up notice's MAC address, and inputs named by code or text.
    void macAddressesAndInputNames() {
        QCOMPARE(PJLinkMacAddress("0012abcdef01"), QStringLiteral("00:12:AB:CD:EF:01"));
        QCOMPARE(PJLinkMacAddress("00:12:ab:cd:ef:01"), QStringLiteral("00:12:AB:CD:EF:01"));
        for (const char* bad : {"", "0012ABCDEF0", "0012ABCDEFGH", "0012ABCDEF0123"})
            QVERIFY2(PJLinkMacAddress(bad).isEmpty(), bad);
        const QStringList inputs{QStringLiteral("11"), QStringLiteral("12"), QStringLiteral("3A")};
        const std::pair<const char*, const char*> names[] = {
            {"RGB 2", "12"},     {"rgb  2", "12"}, {"12", "12"}, {"3a", "3A"},
            {"DIGITAL A", "3A"}, {"VIDEO 1", ""},  {"RGB", ""},  {"", ""},
        };
        for (const auto& [value, code] : names)
            QCOMPARE(PJLinkInputNamed(inputs, QString::fromLatin1(value)).value_or(QString()),
                     QString::fromLatin1(code));
    }

    // What replies do to a record, and which queries a pass asks.
    void appliedToRecord() {
        ProjectorInfo info;
        info.Protocol = ProtocolPJLink;
        // The inputs without a class: still asked who it is.
        ApplyPJLinkValue(info, "INST", "11");
        QVERIFY(!info.PJLink.Identified);
        const QList<QByteArray> first = PJLinkPollLines(info);
        QCOMPARE(first.first(), QByteArray("%1CLSS ?"));
        QVERIFY(!first.contains("%2FILT ?"));

        const PJLinkUpdate classTwo = ApplyPJLinkValue(info, "CLSS", "Class 2");
        QCOMPARE(info.PJLink.Class, qint16(2));
        QVERIFY(classTwo.followUps.contains("%2SNUM ?"));
        QVERIFY(classTwo.followUps.contains("%2FILT ?"));
        info.Disconnected = false;
        // Not known until the inputs are: a flush in between asks again.
        QVERIFY(PJLinkPollLines(info).contains("%1CLSS ?"));
        ApplyPJLinkValue(info, "INST", "11 3A");
        const QList<QByteArray> later = PJLinkPollLines(info);
        QVERIFY(!later.contains("%1CLSS ?"));
        QVERIFY(later.contains("%2FILT ?"));
        QVERIFY(later.contains("%2INPT ?"));

        QCOMPARE(ApplyPJLinkValue(info, "POWR", "3").changed.size(), 1);
        QCOMPARE(info.PowerStatus, qint16(3));
        const PJLinkUpdate input = ApplyPJLinkValue(info, "INPT", "3A");
        QCOMPARE(input.followUps, QList<QByteArray>{"%2INNM ?3A"});
        ApplyPJLinkValue(info, "INNM", "HDMI Rear");
        QCOMPARE(PJLinkInputDisplay(info), QStringLiteral("HDMI Rear"));
        // A new input forgets the old input's name.
        ApplyPJLinkValue(info, "INPT", "11");
        QCOMPARE(PJLinkInputDisplay(info), QStringLiteral("RGB 1"));

        ApplyPJLinkValue(info, "ERST", "010000");
        QCOMPARE(info.ErrorStatus, qint16(0));
        QCOMPARE(info.PJLink.Warning, QStringLiteral("Lamp Warning"));
        QCOMPARE(*ApplyPJLinkValue(info, "ERST", "012000").error, qint16(4));
        QVERIFY(info.PJLink.Warning.isEmpty());

        ApplyPJLinkValue(info, "LAMP", "70000 1 5 0");
        QCOMPARE(info.LampTime, 70000);
        QCOMPARE(info.PJLink.LampCount, qint16(2));
        ApplyPJLinkValue(info, "AVMT", "11");
        QCOMPARE(info.BlankStatus, qint16(1));
        QCOMPARE(info.MuteStatus, qint16(0));
        // What cannot be read changes nothing.
        QVERIFY(ApplyPJLinkValue(info, "POWR", "7").changed.isEmpty());
        QCOMPARE(info.PowerStatus, qint16(3));
    }
};

QTEST_GUILESS_MAIN(TestPJLinkCodec)
#include "test_pjlink_codec.moc"
