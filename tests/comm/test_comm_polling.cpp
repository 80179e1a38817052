// Status polling through the real engine against simulated projectors: when
// passes run and end, polling that falls behind, and projectors whose answers
// tell nothing (refusals, bytes of another protocol).

#include "CommTestKit.h"
#include "support/SimProcess.h"

#include "comm/AlertQueue.h"
#include "comm/CommEngine.h"
#include "comm/CommandQueue.h"
#include "comm/ContactWatch.h"
#include "core/SettingsStore.h"

#include <QTest>

namespace {

constexpr int Wait = 30000; // generous: a loaded machine must not fail these

} // namespace

class TestCommPolling : public QObject, SimulatedEngine<> {
    Q_OBJECT

    // Projectors 1..count on the simulator's TCP ports, polled every
    // `interval` seconds, with disconnect alerts switched on.
    void start(int count, int interval, int timeoutMs) {
        startSimulator({QStringLiteral("--tcp"), QString::number(count)}, timeoutMs);
        state->Timing.StatusCheckInterval = interval;
        state->Mail.MailSend = state->Mail.ErrorAlarmSend = state->Mail.DisconnectSend = true;
        UseSimulatedLanProjectors(*state, *sim, count);
        // A ping that never answers keeps reachability out of the way.
        startEngine(MakePingScript(*dir, "hang"));
    }

    void command(const QString& line) { QCOMPARE(sim->command(line), QStringLiteral("OK")); }

    int framesReceived(int p) const {
        return sim->command(QStringLiteral("frames %1").arg(p))
            .section(QLatin1Char(' '), 1, 1)
            .toInt();
    }

    // Waits for the pass under way (or the next one) to be done.
    void waitForPassEnd() {
        const QDateTime before = state->Polling.LastPassEnd;
        QTRY_VERIFY_WITH_TIMEOUT(state->Polling.LastPassEnd != before &&
                                     state->Polling.LastPassEnd >= state->Polling.LastPassStart,
                                 Wait);
    }

    // Waits until projector 1 got `passes` more passes of queries and all of
    // them were handed over.
    void waitForQueries(int passes) {
        const int target = framesReceived(1) + 5 * passes;
        QTRY_VERIFY_WITH_TIMEOUT(framesReceived(1) >= target && IsQueueEmpty(*state, 1), Wait);
    }

    int alertsWith(const QString& message) const {
        int n = 0;
        for (int i = 0; i < AlertSlots; ++i)
            n += state->Alerts.texts[std::size_t(i)].endsWith(QLatin1Char(';') + message);
        return n;
    }

  private slots:
    void cleanup() { endEngine(); }

    void slowPassHoldsTheNextAndSaysSo() {
        start(2, 2, 1500);
        command(QStringLiteral("silent 2 on"));
        engine->startPolling();
        // Five time-outs of 1.5 s each keep the first pass running well past
        // its two-second interval.
        QTRY_VERIFY_WITH_TIMEOUT(state->Polling.Behind, Wait);
        const PollTiming& timing = state->Polling;
        QVERIFY(timing.LastPassEnd.isNull());
        QVERIFY(state->Health.isActive(HealthCondition::PollingBehind));
        const QString text = state->Health.entry(HealthCondition::PollingBehind).text;
        QVERIFY2(text.startsWith(QStringLiteral("Polling is behind: the pass started at ")) &&
                     text.endsWith(QStringLiteral(" is not done after 2 s")),
                 qPrintable(text));
        // The answering projector got the one pass only: no second pass was
        // queued behind the first.
        QCOMPARE(framesReceived(1), 5);

        waitForPassEnd();
        QCOMPARE(timing.LastPassSeconds, timing.LastPassStart.msecsTo(timing.LastPassEnd) / 1000.0);
        // A pass that ended late does not count as keeping up.
        QVERIFY(timing.Behind);
        QCOMPARE(framesReceived(2), 5);

        command(QStringLiteral("silent 2 off"));
        QTRY_VERIFY_WITH_TIMEOUT(!state->Polling.Behind, Wait);
        QVERIFY(!state->Health.isActive(HealthCondition::PollingBehind));
    }

    void projectorOfUnsetKindDoesNotHoldAPass() {
        start(1, 1, 1500);
        state->ProjectorCount = 2; // projector 2 has no connection kind
        engine->startPolling();
        waitForPassEnd();
        QCOMPARE(QueueLength(*state, 2), 5);
        waitForPassEnd();
        QVERIFY(!state->Polling.Behind);
    }

    void answersThatTellNothing_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("refusal");
        QTest::newRow("refused") << QStringLiteral("refuse 1 on") << true;
        QTest::newRow("text greeting") << QStringLiteral("greeting 1 PJLINK 0") << false;
    }

    void answersThatTellNothing() {
        QFETCH(QString, fault);
        QFETCH(bool, refusal);
        start(1, 1, 1500);
        state->Mail.LampAlarmSend = true;
        state->Mail.LampAlarmTime = 1000;
        ProjectorInfo& info = state->Projectors[1];
        command(QStringLiteral("lamp 1 1234"));
        command(QStringLiteral("filter 1 300"));
        engine->startPolling();
        QTRY_COMPARE_WITH_TIMEOUT(info.LampTime, qint16(1234), Wait);
        QTRY_COMPARE_WITH_TIMEOUT(info.FilterTime, qint16(300), Wait);
        QVERIFY(!info.Disconnected);

        command(fault);
        // A pass under way when the fault came may have been answered in part.
        waitForQueries(1);
        const QDateTime answered = info.LastReply;
        QVERIFY(answered.isValid());
        waitForQueries(2);
        // Nothing reported: the last answer does not move on.
        QCOMPARE(info.LastReply, answered);
        QCOMPARE(state->Counters.CommandsRefused > 0, refusal);
        QCOMPARE(state->Counters.CommandsTimedOut > 0, !refusal);
        if (!refusal) {
            // No answer five times in a row: disconnected (shown without its
            // values), never "Refusing".
            QTRY_VERIFY_WITH_TIMEOUT(info.Disconnected, Wait);
            QVERIFY(!info.Refusing);
            return;
        }
        // A refusal leaves no stale value on show.
        for (const qint32 field : {qint32(info.PowerStatus), qint32(info.InputStatus),
                                   qint32(info.ErrorStatus), info.LampTime, info.FilterTime})
            QCOMPARE(field, -1);
        QVERIFY(!info.Disconnected);
        const QString line = QStringLiteral("TCP-Refusing(1)");
        QTRY_VERIFY_WITH_TIMEOUT(info.Refusing, Wait);
        QCOMPARE(CountLines(CommLogLines(*dir), line), 1);
        QCOMPARE(alertsWith(ContactWatch::RefusingText), 1);
        QVERIFY(std::count(sink.reachability.begin(), sink.reachability.end(), 1) >= 1);
        waitForQueries(2);
        QVERIFY(info.Refusing);
        QCOMPARE(CountLines(CommLogLines(*dir), line), 1);
        QCOMPARE(alertsWith(ContactWatch::RefusingText), 1);

        const std::size_t redraws = sink.reachability.size();
        command(QStringLiteral("refuse 1 off"));
        QTRY_VERIFY_WITH_TIMEOUT(!info.Refusing, Wait);
        QVERIFY(sink.reachability.size() > redraws);
        QTRY_COMPARE_WITH_TIMEOUT(info.LampTime, qint16(1234), Wait);
        QVERIFY(info.LastReply > answered);
        // The lamp alarm threshold crossed before the refusals is not crossed
        // again by the same hours reported after them.
        QCOMPARE(alertsWith(QStringLiteral("LampTime Alarm (1000h)")), 1);
    }
};

QTEST_GUILESS_MAIN(TestCommPolling)
#include "test_comm_polling.moc"
