// Status polling through the real engine against simulated projectors: when
// passes run and end, broken projectors that hold up no other, polling that
// falls behind, and projectors whose answers tell nothing (refusals, bytes of
// another protocol).

#include "support/CommTestKit.h"
#include "support/DeadPorts.h"
#include "support/SimProcess.h"

#include "comm/CommEngine.h"
#include "comm/CommandQueue.h"
#include "comm/ContactWatch.h"
#include "core/SettingsStore.h"
#include "mail/AlertQueue.h"

#include <QTest>
#include <QThread>

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

    // Connections opened to projector p.
    int connects(int p) const {
        return int(CommLogLines(*dir).filter(QStringLiteral("TCP(%1)_Connect:").arg(p)).size());
    }

    // Waits until projector 1 got `rounds` more rounds of `perRound` queries
    // and all of them were handed over.
    void waitForQueries(int rounds, int perRound = 5) {
        const int target = framesReceived(1) + perRound * rounds;
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

    void brokenProjectorsHoldUpNobody() {
        // Live 1..3, slow 4 (2 s a reply), silent 5 (connects, never
        // answers), then an address where nothing answers and a refused port.
        start(5, 2, 3000);
        const BlackHolePort dead;
        QVERIFY(dead.port() != 0);
        state->ProjectorCount = 7;
        for (int p : {6, 7}) {
            state->Projectors[p] = state->Projectors[1];
            state->Projectors[p].PortNo = QString::number(p == 6 ? dead.port() : RefusingPort());
        }
        command(QStringLiteral("delay 4 2000"));
        command(QStringLiteral("silent 5 on"));
        engine->startPolling();
        // A pass with the broken ones outlasts the interval several times
        // over; the live projectors are polled at their interval all the same.
        waitForQueries(5);
        for (int p : {2, 3})
            QVERIFY(framesReceived(p) >= 25);
        QVERIFY(state->Polling.LastPassEnd.isValid());
        QVERIFY(!state->Polling.Behind);
        QVERIFY(!state->Health.isActive(HealthCondition::PollingBehind));
        // A round whose connection fails is not tried again in the same pass.
        for (int p : {5, 6, 7})
            QVERIFY2(connects(p) <= framesReceived(1) / 5 + 1, qPrintable(QString::number(p)));
        QTRY_COMPARE_WITH_TIMEOUT(state->Projectors[4].LampTime, qint16(1200), Wait);

        // Once disconnected, the broken ones are probed every sixth interval.
        QTRY_VERIFY_WITH_TIMEOUT(state->Projectors[5].Disconnected &&
                                     state->Projectors[6].Disconnected &&
                                     state->Projectors[7].Disconnected,
                                 Wait);
        // No answer at all is "Disconnect", never "Refusing".
        for (int p : {5, 6, 7})
            QVERIFY(!state->Projectors[p].Refusing);
        const int before[] = {connects(5), connects(6), connects(7)};
        waitForQueries(8);
        for (int p : {5, 6, 7}) {
            QVERIFY2(connects(p) - before[p - 5] <= 2, qPrintable(QString::number(p)));
            QVERIFY(IsQueueEmpty(*state, p) || QueueLength(*state, p) == 5);
        }
        QVERIFY(!state->Polling.Behind);
    }

    void stalledProgramFallsBehindAndSaysSo() {
        start(1, 1, 1500);
        engine->startPolling();
        waitForPassEnd();
        // The event loop serves nothing for longer than the interval.
        QThread::sleep(4);
        QTRY_VERIFY_WITH_TIMEOUT(state->Polling.Behind, Wait);
        QVERIFY(state->Health.isActive(HealthCondition::PollingBehind));
        const QString text = state->Health.entry(HealthCondition::PollingBehind).text;
        QVERIFY2(text.startsWith(QStringLiteral("Polling is behind: the pass due at ")) &&
                     text.endsWith(QStringLiteral(" s late")),
                 qPrintable(text));
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
        // A round that gets no answer to its first query ends there.
        QTest::addColumn<int>("perRound");
        QTest::newRow("refused") << QStringLiteral("refuse 1 on") << true << 5;
        QTest::newRow("text greeting") << QStringLiteral("greeting 1 PJLINK 0") << false << 1;
    }

    void answersThatTellNothing() {
        QFETCH(QString, fault);
        QFETCH(bool, refusal);
        QFETCH(int, perRound);
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
        waitForQueries(1, perRound);
        const QDateTime answered = info.LastReply;
        QVERIFY(answered.isValid());
        waitForQueries(2, perRound);
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
        // "Refusing" from the first whole round refused, not "-" for passes
        // on end; the alert waits for several passes of refusals.
        const QString line = QStringLiteral("TCP-Refusing(1)");
        QVERIFY(info.Refusing);
        QCOMPARE(CountLines(CommLogLines(*dir), line), 1);
        QVERIFY(std::count(sink.reachability.begin(), sink.reachability.end(), 1) >= 1);
        QTRY_COMPARE_WITH_TIMEOUT(alertsWith(ContactWatch::RefusingText), 1, Wait);
        QVERIFY(state->Counters.CommandsRefused >= quint64(ContactWatch::RefusalsForAlert));
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
