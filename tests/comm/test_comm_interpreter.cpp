// Reply interpretation: status fields, display refreshes and the alert
// transitions, fed with the queue entries the transports leave behind.

#include "support/CommTestKit.h"

#include "comm/CommandQueue.h"
#include "comm/ReplyInterpreter.h"
#include "core/Formatting.h"
#include "mail/AlertQueue.h"
#include "protocol/CommandTable.h"

#include <QTest>

#include <array>

class TestCommInterpreter : public QObject {
    Q_OBJECT

    const CommandTable& t = BuildCommandTable();
    std::unique_ptr<AppState> state;
    std::unique_ptr<ReplyInterpreter> interpreter;
    RecordingSink sink;
    EngineReports reports;
    int alertStarts = 0;

    // Runs one command through the interpreter the way the dispatcher does:
    // queued, outcome recorded, handed over, freed.
    void outcome(int p, const CommandFrame& frame, qint16 result, QByteArray reply = {}) {
        QVERIFY(EnqueueCommand(*state, p, frame));
        QueueEntry& e = CurrentQueueEntry(*state, p);
        e.state = result;
        if (result == QueueDataReply) {
            e.reply = reply;
            e.replyLength = qint32(reply.size());
            interpreter->HandleDataReply(p);
        } else if (result == QueueAcknowledged) {
            interpreter->HandleAcknowledge(p);
        } else {
            interpreter->HandleFailure(p, result == QueueTimedOut);
        }
        FreeCurrentEntry(*state, p);
    }

    void data(int p, const CommandFrame& frame, int low, int high) {
        outcome(p, frame, QueueDataReply,
                QByteArray::fromRawData("\x1D", 1) + char(low) + char(high));
    }

    QStringList alerts() const {
        QStringList out;
        AppState& s = *state;
        while (!IsAlertQueueEmpty(s)) {
            out << PeekAlertMessage(s);
            AdvanceAlertQueue(s);
        }
        return out;
    }

    void allMailFlagsOn() {
        MailSettings& m = state->Mail;
        m.MailSend = m.ErrorAlarmSend = m.LampAlarmSend = m.FilterAlarmSend = m.DisconnectSend =
            true;
        m.LampErrorText = QStringLiteral("Lamp failure");
        m.TempErrorText = QStringLiteral("Too hot");
        m.CoverErrorText = QStringLiteral("Cover open");
    }

  private slots:
    void init() {
        state = std::make_unique<AppState>();
        state->ProjectorCount = 3;
        state->clock.set(QDateTime(QDate(2024, 1, 31), QTime(13, 5, 9)));
        interpreter = std::make_unique<ReplyInterpreter>(*state);
        sink = RecordingSink{};
        reports = EngineReports{};
        reports.setRefreshSink(&sink);
        interpreter->setReports(&reports);
        alertStarts = 0;
        interpreter->setAlertStarter([this] { ++alertStarts; });
    }

    // The window's refresh gets what changed on screen, each observer what
    // it follows, once, however often it was added; the list is bounded.
    void reportsReachTheRefreshAndEachObserverOnce() {
        struct Counting : EngineObserver {
            int changed = 0, finished = 0;
            void statusChanged(int, StatusItem) override { ++changed; }
            void commandFinished(int, const QByteArray&, CommandOutcome) override { ++finished; }
        };
        std::array<Counting, EngineReports::MaxObservers + 1> observers;
        QVERIFY(reports.addObserver(&observers[0]));
        QVERIFY(reports.addObserver(&observers[0]));
        for (std::size_t i = 1; i < EngineReports::MaxObservers; ++i)
            QVERIFY(reports.addObserver(&observers[i]));
        QVERIFY(!reports.addObserver(&observers.back()));
        reports.statusChanged(1, StatusItem::Power);
        reports.restoreDropDown(1, StatusItem::Input);
        reports.removeObserver(&observers[1]);
        reports.commandFinished(1, "x", CommandOutcome::Acknowledged);
        QCOMPARE(sink.countChanged(1, StatusItem::Power), 1);
        QCOMPARE(sink.restored.size(), 1u);
        QCOMPARE(observers[0].changed, 1);
        QCOMPARE(observers[0].finished, 1);
        QCOMPARE(observers[1].finished, 0);
        QCOMPARE(observers.back().changed, 0);
    }

    void powerRepliesAndAcknowledges() {
        ProjectorInfo& p = state->Projectors[1];
        data(1, t.PowerGetCommand, 0x02, 0x00);
        QCOMPARE(p.PowerStatus, qint16(2));
        QVERIFY(!p.Disconnected);
        QCOMPARE(sink.countChanged(1, StatusItem::Power), 1);
        data(1, t.PowerGetCommand, 0x07, 0x00);
        QCOMPARE(p.PowerStatus, qint16(-1));

        p.PowerStatus = 1;
        outcome(1, t.PowerOffCommand, QueueAcknowledged);
        QCOMPARE(p.PowerStatus, qint16(2));
        p.PowerStatus = 0;
        outcome(1, t.PowerOffCommand, QueueAcknowledged);
        QCOMPARE(p.PowerStatus, qint16(0));
        outcome(1, t.PowerOnCommand, QueueAcknowledged);
        QCOMPARE(p.PowerStatus, qint16(1));
        p.PowerStatus = 2;
        outcome(1, t.PowerOnCommand, QueueAcknowledged);
        QCOMPARE(p.PowerStatus, qint16(2));
        QCOMPARE(sink.countChanged(1, StatusItem::Power), 6);

        // An acknowledged non-power command stores nothing.
        const auto before = sink.changed.size();
        outcome(1, t.BrightnessIncrementCommand, QueueAcknowledged);
        QCOMPARE(sink.changed.size(), before);
    }

    void everyStatusField() {
        ProjectorInfo& p = state->Projectors[2];
        data(2, t.InputGetCommand, 3, 0);
        data(2, t.ErrorStatusGetCommand, 0x10, 0);
        data(2, t.LampTimeGetCommand, 0xD0, 0x07);
        data(2, t.FilterTimeGetCommand, 0x2C, 0x01);
        data(2, t.AspectGetCommand, 16, 0);
        data(2, t.WhisperGetCommand, 1, 0);
        data(2, t.MirrorGetCommand, 3, 0);
        data(2, t.BlankGetCommand, 1, 0);
        data(2, t.MuteGetCommand, 0, 0);
        data(2, t.BrightnessGetCommand, 125, 0);
        data(2, t.ContrastGetCommand, 130, 0);
        data(2, t.SharpnessGetCommand, 125, 0);
        data(2, t.ColorGetCommand, 128, 0);
        data(2, t.TintGetCommand, 0, 1);
        QCOMPARE(p.InputStatus, qint16(3));
        QCOMPARE(p.ErrorStatus, qint16(16));
        QCOMPARE(p.LampTime, qint16(2000));
        QCOMPARE(p.FilterTime, qint16(300));
        QCOMPARE(p.AspectStatus, qint16(16));
        QCOMPARE(p.WhisperStatus, qint16(1));
        QCOMPARE(p.MirrorStatus, qint16(3));
        QCOMPARE(p.BlankStatus, qint16(1));
        QCOMPARE(p.MuteStatus, qint16(0));
        QCOMPARE(p.Brightness, qint16(125));
        QCOMPARE(p.Contrast, qint16(130));
        QCOMPARE(p.Sharpness, qint16(125));
        QCOMPARE(p.Color, qint16(128));
        QCOMPARE(p.Tint, qint16(256));
        QCOMPARE(int(sink.changed.size()), 14);
        QCOMPARE(sink.changed.back(), std::make_pair(2, StatusItem::Tint));

        // Out of range codes become -1.
        data(2, t.InputGetCommand, 7, 0);
        data(2, t.ErrorStatusGetCommand, 0x0A, 0);
        data(2, t.AspectGetCommand, 8, 0);
        data(2, t.MirrorGetCommand, 4, 0);
        data(2, t.MuteGetCommand, 0, 0x80);
        QCOMPARE(p.InputStatus, qint16(-1));
        QCOMPARE(p.ErrorStatus, qint16(-1));
        QCOMPARE(p.AspectStatus, qint16(-1));
        QCOMPARE(p.MirrorStatus, qint16(-1));
        QCOMPARE(p.MuteStatus, qint16(-1));
        // A huge hour count is kept clipped, never negative.
        data(2, t.LampTimeGetCommand, 0xFF, 0xFF);
        QCOMPARE(p.LampTime, qint16(32767));
    }

    void failuresRestoreDropDownsOnly() {
        ProjectorInfo& p = state->Projectors[3];
        QVERIFY(p.Disconnected);
        outcome(3, t.MuteOnCommand, QueueTimedOut);
        QVERIFY(p.Disconnected); // a time-out proves nothing
        outcome(3, t.MuteOnCommand, QueueRefused);
        QVERIFY(!p.Disconnected);
        outcome(3, t.InputSet2Command, QueueRefused);
        outcome(3, t.AspectSet16Command, QueueTimedOut);
        outcome(3, t.BrightnessIncrementCommand, QueueRefused); // no drop-down
        p.LampTime = 1500;
        p.PowerStatus = 1;
        outcome(3, t.LampTimeGetCommand, QueueTimedOut); // no drop-down
        outcome(3, t.PowerGetCommand, QueueRefused);
        outcome(3, t.WhisperGetCommand, QueueTimedOut);
        const std::vector<std::pair<int, StatusItem>> expected = {
            {3, StatusItem::Mute},   {3, StatusItem::Mute},  {3, StatusItem::Input},
            {3, StatusItem::Aspect}, {3, StatusItem::Power}, {3, StatusItem::Whisper}};
        QCOMPARE(sink.restored, expected);
        // A time-out keeps the value; a refused status query shows it as not
        // reported.
        QCOMPARE(sink.changed, (std::vector<std::pair<int, StatusItem>>{{3, StatusItem::Power}}));
        QCOMPARE(p.LampTime, qint16(1500));
        QCOMPARE(p.PowerStatus, qint16(-1));
        QCOMPARE(p.MuteStatus, qint16(-1));
    }

    void errorAlertsOnlyFromNormal() {
        allMailFlagsOn();
        state->Mail.MailSendKindFlag = 0;
        data(1, t.ErrorStatusGetCommand, 3, 0); // -1 -> 3: not from Normal
        QVERIFY(alerts().isEmpty());
        data(1, t.ErrorStatusGetCommand, 0, 0);
        data(1, t.ErrorStatusGetCommand, 3, 0); // 0 -> 3
        data(1, t.ErrorStatusGetCommand, 3, 0); // repeated
        data(1, t.ErrorStatusGetCommand, 4, 0); // 3 -> 4
        const QString stamp = FormatDateTime(*state, state->clock.now());
        QCOMPARE(alerts(), QStringList{stamp + QStringLiteral(";1;Lamp failure")});
        QCOMPARE(alertStarts, 1);
    }

    void errorAlertsOnEveryChange() {
        allMailFlagsOn();
        state->Mail.MailSendKindFlag = 1;
        data(2, t.ErrorStatusGetCommand, 1, 0); // -1 -> 1
        data(2, t.ErrorStatusGetCommand, 1, 0);
        data(2, t.ErrorStatusGetCommand, 3, 0);
        data(2, t.ErrorStatusGetCommand, 4, 0);
        data(2, t.ErrorStatusGetCommand, 0, 0);
        data(2, t.ErrorStatusGetCommand, 12, 0); // not an error code
        const QString stamp = FormatDateTime(*state, state->clock.now());
        QCOMPARE(alerts(), (QStringList{stamp + QStringLiteral(";2;Cover open"),
                                        stamp + QStringLiteral(";2;Lamp failure"),
                                        stamp + QStringLiteral(";2;Too hot")}));
        QCOMPARE(alertStarts, 3);

        // The kind's own switch and the error switch both gate the alert.
        state->Mail.TempErrorSend = false;
        data(2, t.ErrorStatusGetCommand, 4, 0);
        state->Mail.ErrorAlarmSend = false;
        data(2, t.ErrorStatusGetCommand, 3, 0);
        QVERIFY(alerts().isEmpty());
    }

    void hourAlarmsOnCrossing() {
        allMailFlagsOn();
        state->Mail.LampAlarmTime = 2000;
        state->Mail.FilterAlarmTime = 500;
        data(1, t.LampTimeGetCommand, 0xCF, 0x07);   // 1999
        data(1, t.LampTimeGetCommand, 0xD0, 0x07);   // 2000
        data(1, t.LampTimeGetCommand, 0xD1, 0x07);   // 2001
        data(1, t.LampTimeGetCommand, 0x00, 0x00);   // reset
        data(1, t.LampTimeGetCommand, 0xD0, 0x07);   // crosses again
        data(2, t.FilterTimeGetCommand, 0xF4, 0x01); // 500 at the first report
        const QString stamp = FormatDateTime(*state, state->clock.now());
        QCOMPARE(alerts(), (QStringList{stamp + QStringLiteral(";1;LampTime Alarm (2000h)"),
                                        stamp + QStringLiteral(";1;LampTime Alarm (2000h)"),
                                        stamp + QStringLiteral(";2;FilterTime Alarm (500h)")}));
        state->Mail.LampAlarmSend = false;
        data(3, t.LampTimeGetCommand, 0xD0, 0x07);
        state->Mail.LampAlarmSend = true;
        state->Mail.MailSend = false;
        data(2, t.LampTimeGetCommand, 0xD0, 0x07);
        QVERIFY(alerts().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCommInterpreter)
#include "test_comm_interpreter.moc"
