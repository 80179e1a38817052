// The engine with simulated PJLink projectors over loopback TCP: every field
// of both classes with and without a password, a wrong password, standby,
// errors and warnings, the quirks of real projectors, one connection per
// pass, idle drops, a mixed group, and class 2 notifications.

#include "support/CommTestKit.h"
#include "support/SimProcess.h"
#include "support/TestPrograms.h"

#include "comm/CommEngine.h"
#include "comm/CommandQueue.h"
#include "comm/PJLinkNotifications.h"
#include "comm/ReplyInterpreter.h"
#include "core/SettingsStore.h"
#include "protocol/CommandTable.h"

#include <QRegularExpression>
#include <QTest>
#include <QUdpSocket>

using namespace std::chrono_literals;

namespace {

constexpr int Wait = 30000; // generous: a loaded machine must not fail these
const QString Password = QStringLiteral("s3cret");

struct OutcomeSink : RecordingSink, EngineObserver {
    std::vector<std::pair<int, CommandOutcome>> outcomes;
    void commandFinished(int projector, const QByteArray&, CommandOutcome outcome) override {
        outcomes.emplace_back(projector, outcome);
    }
};

} // namespace

class TestPJLinkEngine : public QObject, SimulatedEngine<OutcomeSink> {
    Q_OBJECT

    QHash<int, QString> passwords;

    // `own` projectors of the own protocol first, then `pjlink` PJLink ones.
    void start(int pjlink, int own = 0, int timeoutMs = 1500) {
        startSimulator({QStringLiteral("--tcp"), QString::number(own), QStringLiteral("--pjlink"),
                        QString::number(pjlink), QStringLiteral("--warmup-ms"),
                        QStringLiteral("300"), QStringLiteral("--cooldown-ms"),
                        QStringLiteral("300")},
                       timeoutMs);
        state->Timing.StatusCheckInterval = 3600;
        state->Mail.MailSend = state->Mail.ErrorAlarmSend = state->Mail.DisconnectSend = true;
        UseSimulatedLanProjectors(*state, *sim, own, pjlink);
        passwords.clear();
        state->PJLinkPassword = [this](int p) { return passwords.value(p); };
        // A ping that never answers: contact is decided by the replies.
        startEngine(MakePingScript(*dir, "hang"));
    }

    void control(const QString& line) {
        QCOMPARE(sim->command(line).left(2), QStringLiteral("OK"));
    }

    // One polling pass, waited for until every queue is empty again.
    void pass() {
        const QDateTime before = state->Polling.LastPassEnd;
        state->LastStatusCheck = QDateTime();
        engine->startPolling(1);
        QTRY_VERIFY_WITH_TIMEOUT(state->Polling.LastPassEnd != before, Wait);
        for (int p = 1; p <= state->ProjectorCount; ++p)
            QTRY_VERIFY_WITH_TIMEOUT(IsQueueEmpty(*state, p), Wait);
        engine->stopPolling();
    }

    QString stats(int id) { return sim->command(QStringLiteral("pjstats %1").arg(id)); }

    int alertsWith(const QString& message) const {
        int n = 0;
        for (const QString& text : state->Alerts.texts)
            n += text.endsWith(QLatin1Char(';') + message);
        return n;
    }

    int logLines(const QString& start) const {
        int n = 0;
        for (const QString& line : CommLogLines(*dir))
            n += line.startsWith(start);
        return n;
    }

  private slots:
    void cleanup() { endEngine(); }

    // Projectors 1..4: class 1, class 2, class 1 with a password, class 2
    // with a password. Two passes: every field, and one connection each.
    void everyFieldOfBothClasses() {
        start(4);
        control(QStringLiteral("pj 2 class 2"));
        control(QStringLiteral("pj 4 class 2"));
        for (int p : {3, 4}) {
            control(QStringLiteral("pj %1 password %2").arg(p).arg(Password));
            passwords.insert(p, Password);
        }
        control(QStringLiteral("pj all power 1"));
        control(QStringLiteral("pj all lamps 40000 120"));
        control(QStringLiteral("pj all filter 321"));
        control(QStringLiteral("pj all input 31"));
        control(QStringLiteral("pj all name Hall 3"));
        pass();
        pass();
        for (int p = 1; p <= 4; ++p) {
            const ProjectorInfo& info = state->Projectors[p];
            const bool two = p % 2 == 0;
            QVERIFY2(!info.Disconnected && !info.PJLink.AuthenticationError,
                     qPrintable(info.ProjectorName));
            QCOMPARE(info.PJLink.Class, qint16(two ? 2 : 1));
            QCOMPARE(info.PowerStatus, qint16(1));
            QCOMPARE(info.ErrorStatus, qint16(0));
            QCOMPARE(info.LampTime, 40000);
            QCOMPARE(info.PJLink.LampCount, qint16(2));
            QCOMPARE(info.PJLink.Lamps[1].hours, 120);
            QCOMPARE(info.FilterTime, two ? 321 : -1);
            QCOMPARE(info.PJLink.InputCode, QStringLiteral("31"));
            QCOMPARE(info.BlankStatus, qint16(0));
            QCOMPARE(info.MuteStatus, qint16(0));
            QCOMPARE(info.PJLink.Name, QStringLiteral("Hall 3"));
            QVERIFY(!info.PJLink.Maker.isEmpty() && !info.PJLink.Product.isEmpty());
            QVERIFY(info.PJLink.Inputs.contains(QStringLiteral("31")));
            QCOMPARE(info.PJLink.Inputs.contains(QStringLiteral("3A")), two);
            QCOMPARE(info.PJLink.SerialNumber.isEmpty(), !two);
            QCOMPARE(info.PJLink.InputName.isEmpty(), !two);
            // One connection per pass, never two at once.
            QVERIFY2(stats(p).contains(QStringLiteral(" connections=2 concurrent_max=1")),
                     qPrintable(stats(p)));
        }
        QCOMPARE(state->Counters.CommandsTimedOut, 0u);
        // The password's digest never reaches the log.
        for (const QString& line : CommLogLines(*dir))
            QVERIFY2(!QRegularExpression(QStringLiteral("[0-9a-f]{32}")).match(line).hasMatch(),
                     qPrintable(line));
    }

    // A wrong password: the state, one log line and one alert however many
    // passes it lasts, no retry within a pass, and the right one clears it.
    void wrongPassword() {
        start(1);
        state->Mail.RecoverySend = true;
        control(QStringLiteral("pj 1 password %1").arg(Password));
        passwords.insert(1, QStringLiteral("wrong"));
        pass();
        pass();
        const ProjectorInfo& info = state->Projectors[1];
        QVERIFY(info.PJLink.AuthenticationError);
        QVERIFY(!info.Disconnected);
        QCOMPARE(info.PowerStatus, qint16(-1));
        QCOMPARE(alertsWith(ReplyInterpreter::AuthenticationErrorText), 1);
        QCOMPARE(logLines(QStringLiteral("PJLink-Authentication-Error(1)")), 1);
        QVERIFY2(stats(1).contains(QStringLiteral(" connections=2 ")), qPrintable(stats(1)));
        passwords.insert(1, Password);
        pass();
        QVERIFY(!info.PJLink.AuthenticationError);
        QCOMPARE(info.PowerStatus, qint16(0));
        QCOMPARE(logLines(QStringLiteral("PJLink-Authenticated(1)")), 1);
        QCOMPARE(
            alertsWith(QStringLiteral("Recovered: ") + ReplyInterpreter::AuthenticationErrorText),
            1);
    }

    // Standby answers ERR3 to what it cannot tell now: not a failure. An
    // ERST error raises its alert, a warning none.
    void standbyErrorsAndWarnings() {
        start(2);
        control(QStringLiteral("pj all power 0"));
        pass();
        for (int p : {1, 2}) {
            const ProjectorInfo& info = state->Projectors[p];
            QCOMPARE(info.PowerStatus, qint16(0));
            QCOMPARE(info.ErrorStatus, qint16(0));
            QVERIFY(!info.Disconnected && !info.Refusing);
            QCOMPARE(info.TimeoutCount, qint16(0));
        }
        QCOMPARE(state->Counters.CommandsTimedOut + state->Counters.CommandsRefused, 0u);
        control(QStringLiteral("pj 1 erst 020000"));
        control(QStringLiteral("pj 2 erst 010000"));
        pass();
        pass();
        QCOMPARE(state->Projectors[1].ErrorStatus, qint16(3));
        QCOMPARE(alertsWith(state->Mail.LampErrorText), 1);
        QCOMPARE(state->Projectors[2].ErrorStatus, qint16(0));
        QCOMPARE(state->Projectors[2].PJLink.Warning, QStringLiteral("Lamp Warning"));
        int alerts = 0;
        for (const QString& text : state->Alerts.texts)
            alerts += text.contains(QStringLiteral(";2;"));
        QCOMPARE(alerts, 0);
    }

    void quirks_data() {
        QTest::addColumn<QString>("quirk");
        QTest::addColumn<bool>("answers");
        QTest::addColumn<QString>("logged");
        QTest::newRow("lower case") << "lowercase on" << true << "";
        QTest::newRow("class text") << "classtext on" << true << "";
        QTest::newRow("wrong reply") << "wrongreply on" << true << "PJLink-Dropped(1)";
        QTest::newRow("silent") << "silent on" << false << "PJLink-Timeout(1)";
        QTest::newRow("no greeting") << "nogreeting on" << false << "PJLink-Timeout(1)";
        QTest::newRow("flood") << "flood on" << false << "PJLink-Closed(1)";
        QTest::newRow("erra") << "erra on" << true << "PJLink-Authentication-Error(1)";
    }

    void quirks() {
        QFETCH(QString, quirk);
        QFETCH(bool, answers);
        QFETCH(QString, logged);
        start(1, 0, 500);
        state->Timing.PJLinkSessionGap = 0;
        control(QStringLiteral("pj 1 class 2"));
        control(QStringLiteral("pj 1 power 1"));
        control(QStringLiteral("pj 1 ") + quirk);
        pass();
        pass();
        const ProjectorInfo& info = state->Projectors[1];
        if (!logged.isEmpty())
            QVERIFY2(logLines(logged) >= 1, qPrintable(CommLogLines(*dir).join('\n')));
        if (!answers) {
            // Five failures in a row: not answering, exactly as for the own
            // protocol.
            QVERIFY(info.Disconnected);
            return;
        }
        QVERIFY(!info.Disconnected);
        if (info.PJLink.AuthenticationError)
            return;
        QCOMPARE(info.PJLink.Class, qint16(2));
        QCOMPARE(info.PowerStatus, qint16(1));
        QCOMPARE(info.ErrorStatus, qint16(0));
        QVERIFY(info.LampTime >= 0);
        QVERIFY(info.PJLink.Name != QStringLiteral("1"));
    }

    // A command refused as busy (ERR3) is sent again until the warm-up or
    // cool-down ends, and given up when that outlasts PJLinkBusyWait.
    void busyUntilWarmedUp_data() {
        QTest::addColumn<QString>("power");
        QTest::addColumn<int>("warmUpMs");
        QTest::addColumn<bool>("on");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("after");
        QTest::newRow("off in warm-up")
            << "3" << 300 << false << int(CommandOutcome::WaitedForWarmUp) << "power=0";
        QTest::newRow("on in cool-down")
            << "2" << 300 << true << int(CommandOutcome::WaitedForCoolDown) << "power=1";
        QTest::newRow("warm-up without end")
            << "3" << 600000 << false << int(CommandOutcome::Refused) << "power=3";
        QTest::newRow("standby is no wait")
            << "0" << 300 << false << int(CommandOutcome::Acknowledged) << "power=0";
    }

    void busyUntilWarmedUp() {
        QFETCH(QString, power);
        QFETCH(int, warmUpMs);
        QFETCH(bool, on);
        QFETCH(int, outcome);
        QFETCH(QString, after);
        start(1);
        state->Timing.PJLinkSessionGap = 0;
        state->Timing.PJLinkBusyRetry = 100;
        state->Timing.PJLinkBusyWait = 3000;
        control(QStringLiteral("warmup %1").arg(warmUpMs));
        control(QStringLiteral("pj 1 power ") + power);
        const CommandTable& t = BuildCommandTable();
        QVERIFY(engine->EnqueueCommand(1, on ? t.PowerOnCommand : t.PowerOffCommand));
        QTRY_COMPARE_WITH_TIMEOUT(sink.outcomes.size(), std::size_t(1), Wait);
        QCOMPARE(int(sink.outcomes.front().second), outcome);
        QTRY_VERIFY_WITH_TIMEOUT(
            sim->command(QStringLiteral("pj 1 state")).contains(QLatin1Char(' ') + after), Wait);
        const bool waited = outcome != int(CommandOutcome::Acknowledged);
        QCOMPARE(logLines(QStringLiteral("PJLink-Busy(1):")), waited ? 1 : 0);
        QCOMPARE(state->Counters.CommandsTimedOut, 0u);
        // What the window shows until the next query: on its way off, or on.
        if (outcome != int(CommandOutcome::Refused) && waited)
            QCOMPARE(state->Projectors[1].PowerStatus, qint16(on ? 3 : 2));
    }

    // A projector that drops every connection idle for 20 ms, polled for a
    // hundred passes: no command lost, one connection each time at most.
    void idleDropsCostNothing() {
        start(1);
        state->Timing.PJLinkSessionGap = 0;
        control(QStringLiteral("pj 1 idledrop 20"));
        for (int i = 0; i < 100; ++i)
            pass();
        QVERIFY2(state->Counters.CommandsTimedOut == 0,
                 qPrintable(CommLogLines(*dir)
                                .filter(QRegularExpression(QStringLiteral("Lost|Timeout|Resend")))
                                .join('\n')));
        QCOMPARE(state->Counters.CommandsRefused, 0u);
        QVERIFY(!state->Projectors[1].Disconnected);
        QVERIFY2(stats(1).contains(QStringLiteral(" concurrent_max=1 ")), qPrintable(stats(1)));
    }

    // A group power-on reaches the own protocol and PJLink alike, and the
    // outcomes come back the same way.
    void mixedGroupPowerOn() {
        start(1, 1);
        control(QStringLiteral("pj 2 power 0"));
        const CommandTable& t = BuildCommandTable();
        for (int p : {1, 2})
            QVERIFY(engine->EnqueueCommand(p, t.PowerOnCommand));
        QVERIFY(!engine->EnqueueCommand(2, t.AspectSet1Command));
        QTRY_COMPARE_WITH_TIMEOUT(sink.outcomes.size(), std::size_t(2), Wait);
        for (const auto& [p, outcome] : sink.outcomes)
            QCOMPARE(outcome, CommandOutcome::Acknowledged);
        QCOMPARE(state->Projectors[2].PowerStatus, qint16(-1));
        QTRY_VERIFY_WITH_TIMEOUT(
            sim->command(QStringLiteral("pj 2 state")).contains(QStringLiteral("power=1")), Wait);
    }

    void notifications() {
        start(1);
        const quint16 port = FreeTcpPort();
        QString error;
        QVERIFY2(engine->setPJLinkNotifications(true, port, &error), qPrintable(error));
        control(QStringLiteral("notify 1 %1 %2ERST=002000 127.0.0.2").arg(port));
        control(QStringLiteral("notify 1 %1 %2ERST=000200").arg(port));
        QTRY_COMPARE_WITH_TIMEOUT(state->Projectors[1].ErrorStatus, qint16(1), Wait);
        QTRY_COMPARE_WITH_TIMEOUT(state->Counters.PJLinkNotificationsIgnored, 1u, Wait);
        QCOMPARE(state->Counters.PJLinkNotificationsApplied, 1u);
        QVERIFY(!state->Projectors[1].Disconnected);

        // A start-up notice: its MAC address, and who it is asked at once.
        const ProjectorInfo& info = state->Projectors[1];
        control(QStringLiteral("pj 1 name Aula"));
        control(QStringLiteral("notify 1 %1 %2LKUP=0012ABCDEF01").arg(port));
        QTRY_COMPARE_WITH_TIMEOUT(info.MACAddress, QStringLiteral("00:12:AB:CD:EF:01"), Wait);
        QTRY_VERIFY_WITH_TIMEOUT(info.PJLink.Identified && IsQueueEmpty(*state, 1), Wait);
        QCOMPARE(info.PJLink.Name, QStringLiteral("Aula"));
        QCOMPARE(info.PowerStatus, qint16(0));

        // A flood from one projector: a few applied in each second of the
        // program's clock, the rest counted. A second of its own.
        state->clock.set(QDateTime::currentDateTime().addSecs(10));
        const quint64 applied = state->Counters.PJLinkNotificationsApplied;
        QUdpSocket flood;
        const int sent = 40;
        for (int i = 0; i < sent; ++i)
            QCOMPARE(flood.writeDatagram("%2ERST=000000\r", QHostAddress::LocalHost, port), 14);
        const auto received = [&] {
            return state->Counters.PJLinkNotificationsApplied - applied +
                   state->Counters.PJLinkNotificationsLimited;
        };
        QTRY_COMPARE_WITH_TIMEOUT(received(), quint64(sent), Wait);
        const quint64 perSecond = PJLinkNotifications::MaxAppliedPerSecond;
        QCOMPARE(state->Counters.PJLinkNotificationsApplied - applied, perSecond);
        QCOMPARE(state->Counters.PJLinkNotificationsLimited, quint64(sent) - perSecond);
        state->clock.advance(1000);
        QCOMPARE(flood.writeDatagram("%2ERST=000000\r", QHostAddress::LocalHost, port), 14);
        QTRY_COMPARE_WITH_TIMEOUT(received(), quint64(sent + 1), Wait);
        QCOMPARE(state->Counters.PJLinkNotificationsApplied - applied, perSecond + 1);
        QCOMPARE(state->Projectors[1].ErrorStatus, qint16(0));
    }
};

QTEST_GUILESS_MAIN(TestPJLinkEngine)
#include "test_pjlink_engine.moc"
