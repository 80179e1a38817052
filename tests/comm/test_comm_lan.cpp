// The engine against simulated projectors over loopback TCP: frames on the
// wire, one connection per command, every outcome, time-outs, replies of
// odd shapes, and the communication log lines.

#include "support/CommTestKit.h"
#include "support/SimProcess.h"

#include "comm/CommEngine.h"
#include "comm/CommandQueue.h"
#include "core/SettingsStore.h"
#include "protocol/ReplyFraming.h"

#include <QTcpServer>
#include <QTest>

using namespace std::chrono_literals;

namespace {

constexpr int Wait = 20000; // generous: a loaded machine must not fail these

QString FrameHexOnWire(const CommandFrame& f) {
    return QString::fromLatin1(f.toByteArray().toHex().toUpper());
}

QStringList LinesOf(const QStringList& lines, int p) {
    QStringList out;
    const QString tag = QStringLiteral("(%1)").arg(p);
    for (const QString& line : lines) {
        if (line.contains(tag))
            out << line;
    }
    return out;
}

} // namespace

class TestCommLan : public QObject, SimulatedEngine<> {
    Q_OBJECT

    QString pingScript;

    QStringList pings() const {
        QFile calls(pingScript + QStringLiteral(".calls"));
        if (!calls.open(QIODevice::ReadOnly))
            return {};
        return QString::fromLocal8Bit(calls.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    void start(int projectors, int timeoutMs) {
        startSimulator({QStringLiteral("--tcp"), QString::number(projectors),
                        QStringLiteral("--cooldown-ms"), QStringLiteral("800")},
                       timeoutMs);
        UseSimulatedLanProjectors(*state, *sim, projectors);
        // A ping that records its address and never answers, so the ping
        // list keeps what the time-outs put on it.
        pingScript = dir->filePath(QStringLiteral("ping"));
        QFile script(pingScript);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\necho \"$6\" >> \"$0.calls\"\nexec sleep 600\n");
        script.close();
        script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
        startEngine(pingScript);
    }

    void idle(int p) { QTRY_VERIFY_WITH_TIMEOUT(IsQueueEmpty(*state, p), Wait); }

  private slots:
    void cleanup() { endEngine(); }

    void pollingPassSendsFiveFramesOnFiveConnections() {
        start(2, 3000);
        const CommandTable& t = engine->commands();
        engine->startPolling(10);
        QTRY_VERIFY_WITH_TIMEOUT(state->Projectors[2].FilterTime >= 0 && IsQueueEmpty(*state, 1) &&
                                     IsQueueEmpty(*state, 2),
                                 Wait);
        engine->stopPolling();
        QVERIFY(state->LastStatusCheck.isValid());

        const QString expected =
            QStringLiteral("OK 5 ") + QStringList{FrameHexOnWire(t.PowerGetCommand),
                                                  FrameHexOnWire(t.InputGetCommand),
                                                  FrameHexOnWire(t.ErrorStatusGetCommand),
                                                  FrameHexOnWire(t.LampTimeGetCommand),
                                                  FrameHexOnWire(t.FilterTimeGetCommand)}
                                          .join(QLatin1Char(' '));
        for (int p = 1; p <= 2; ++p) {
            QCOMPARE(sim->command(QStringLiteral("frames %1").arg(p)), expected);
            QCOMPARE(sim->command(QStringLiteral("connections %1").arg(p)), QStringLiteral("OK 5"));
            const ProjectorInfo& info = state->Projectors[p];
            QCOMPARE(info.PowerStatus, qint16(0));
            QCOMPARE(info.InputStatus, qint16(0));
            QCOMPARE(info.ErrorStatus, qint16(0));
            QCOMPARE(info.LampTime, qint16(1200));
            QCOMPARE(info.FilterTime, qint16(300));
            QVERIFY(!info.Disconnected);
        }
        QCOMPARE(sink.countChanged(1, StatusItem::LampTime), 1);

        // The log of projector 1, line for line.
        QStringList expectedLog;
        const std::array<std::pair<const CommandFrame*, QString>, 5> exchanges = {{
            {&t.PowerGetCommand, QStringLiteral("[1D][00][00]")},
            {&t.InputGetCommand, QStringLiteral("[1D][00][00]")},
            {&t.ErrorStatusGetCommand, QStringLiteral("[1D][00][00]")},
            {&t.LampTimeGetCommand, QStringLiteral("[1D][B0][04]")},
            {&t.FilterTimeGetCommand, QStringLiteral("[1D][2C][01]")},
        }};
        for (const auto& [frame, reply] : exchanges) {
            expectedLog << QStringLiteral("TCP(1)_Connect:127.0.0.1")
                        << QStringLiteral("TCP-Send(1):") + Hex(frame->toByteArray())
                        << QStringLiteral("TCP-Recv(1):") + reply;
        }
        QCOMPARE(LinesOf(CommLogLines(*dir), 1), expectedLog);
        QCOMPARE(
            expectedLog.at(1),
            QStringLiteral("TCP-Send(1):[BE][EF][03][06][00][19][D3][02][00][00][60][00][00]"));
    }

    void everyOutcomeReachesItsHandler() {
        start(2, 400);
        const CommandTable& t = engine->commands();

        // Acknowledge, then the read-back through a data reply.
        state->Projectors[1].PowerStatus = 0;
        engine->EnqueueCommand(1, t.PowerOnCommand);
        idle(1);
        QCOMPARE(state->Projectors[1].PowerStatus, qint16(1));
        QCOMPARE(sink.countChanged(1, StatusItem::Power), 1);
        engine->EnqueueCommand(1, t.PowerGetCommand);
        idle(1);
        QCOMPARE(sink.countChanged(1, StatusItem::Power), 2);
        QCOMPARE(state->Projectors[1].PowerStatus, qint16(1));

        // Refusal and error reply: failures that put the drop-down back.
        QCOMPARE(sim->command(QStringLiteral("refuse 1 on")), QStringLiteral("OK"));
        engine->EnqueueCommand(1, t.MuteOnCommand);
        idle(1);
        QCOMPARE(sim->command(QStringLiteral("refuse 1 off")), QStringLiteral("OK"));
        QCOMPARE(sim->command(QStringLiteral("raw 1 1C0000")), QStringLiteral("OK"));
        engine->EnqueueCommand(1, t.BlankOnCommand);
        idle(1);
        const std::vector<std::pair<int, StatusItem>> restored = {{1, StatusItem::Mute},
                                                                  {1, StatusItem::Blank}};
        QCOMPARE(sink.restored, restored);
        QVERIFY(state->PingList.isEmpty());

        // Time-out: the drop-down goes back, the projector goes on the ping
        // list, and it stays marked as not answering.
        QCOMPARE(sim->command(QStringLiteral("silent 2 on")), QStringLiteral("OK"));
        engine->EnqueueCommand(2, t.WhisperOnCommand);
        idle(2);
        QCOMPARE(sink.restored.back(), std::make_pair(2, StatusItem::Whisper));
        QCOMPARE(state->PingList, QStringList{QStringLiteral("2")});
        QVERIFY(state->Projectors[2].Disconnected);

        const QStringList log = CommLogLines(*dir);
        QVERIFY(log.contains(QStringLiteral("TCP-Recv(1):[15]")));
        QVERIFY(log.contains(QStringLiteral("TCP-Recv(1):[1C][00][00]")));
        QCOMPARE(LinesOf(log, 2), (QStringList{QStringLiteral("TCP(2)_Connect:127.0.0.1"),
                                               QStringLiteral("TCP-Send(2):") +
                                                   Hex(t.WhisperOnCommand.toByteArray()),
                                               QStringLiteral("TCP-Timeout(2):QueueRP(1)")}));
    }

    void silentProjectorDoesNotDelayOthers() {
        start(3, 4000);
        const CommandTable& t = engine->commands();
        QCOMPARE(sim->command(QStringLiteral("silent 2 on")), QStringLiteral("OK"));
        engine->EnqueueCommand(2, t.PowerGetCommand);
        engine->EnqueueCommand(2, t.InputGetCommand);
        for (int p : {1, 3}) {
            engine->EnqueueCommand(p, t.PowerGetCommand);
            engine->EnqueueCommand(p, t.InputGetCommand);
            engine->EnqueueCommand(p, t.LampTimeGetCommand);
        }
        QTRY_VERIFY_WITH_TIMEOUT(IsQueueEmpty(*state, 1) && IsQueueEmpty(*state, 3), Wait);
        // The others finished while the silent one still waits for its first
        // answer... unless the machine was slower than the 4 s time-out, in
        // which case at most the first command can have timed out.
        QVERIFY(QueueLength(*state, 2) >= 1);
        QCOMPARE(state->Projectors[3].LampTime, qint16(1200));

        // Exactly one time-out per command; on the ping list once.
        idle(2);
        const QStringList log = CommLogLines(*dir);
        QCOMPARE(CountLines(log, QStringLiteral("TCP-Timeout(2):QueueRP(1)")), 1);
        QCOMPARE(CountLines(log, QStringLiteral("TCP-Timeout(2):QueueRP(2)")), 1);
        QCOMPARE(state->PingList, QStringList{QStringLiteral("2")});
        QTRY_COMPARE_WITH_TIMEOUT(pings(), QStringList{QStringLiteral("127.0.0.1")}, Wait);
        QCOMPARE(sim->command(QStringLiteral("connections 2")), QStringLiteral("OK 2"));
        QCOMPARE(state->Projectors[2].PowerStatus, qint16(-1));
    }

    void repliesOfOddShapes() {
        start(1, 500);
        const CommandTable& t = engine->commands();
        QCOMPARE(sim->command(QStringLiteral("input 1 4")), QStringLiteral("OK"));

        // A data reply in three pieces is put together.
        QCOMPARE(sim->command(QStringLiteral("split 1 60")), QStringLiteral("OK"));
        engine->EnqueueCommand(1, t.InputGetCommand);
        idle(1);
        QCOMPARE(state->Projectors[1].InputStatus, qint16(4));
        QCOMPARE(sim->command(QStringLiteral("split 1 0")), QStringLiteral("OK"));

        // Trailing bytes belong to the reply they follow.
        QCOMPARE(sim->command(QStringLiteral("trailing 1 0A0B")), QStringLiteral("OK"));
        engine->EnqueueCommand(1, t.MuteOnCommand);
        idle(1);
        QVERIFY(sink.restored.empty());
        QVERIFY(CommLogLines(*dir).contains(QStringLiteral("TCP-Recv(1):[06][0A][0B]")));
        QCOMPARE(sim->command(QStringLiteral("trailing 1 off")), QStringLiteral("OK"));

        // Lead byte then silence, and a connection closed mid-reply: both end
        // in a time-out, and the next reply is read cleanly.
        QCOMPARE(sim->command(QStringLiteral("raw 1 1D07")), QStringLiteral("OK"));
        engine->EnqueueCommand(1, t.InputGetCommand);
        idle(1);
        QCOMPARE(sim->command(QStringLiteral("closemid 1 on")), QStringLiteral("OK"));
        engine->EnqueueCommand(1, t.InputGetCommand);
        idle(1);
        QCOMPARE(sim->command(QStringLiteral("closemid 1 off")), QStringLiteral("OK"));
        QCOMPARE(CountLines(CommLogLines(*dir), QStringLiteral("TCP-Timeout(1):QueueRP(3)")), 1);
        QCOMPARE(CountLines(CommLogLines(*dir), QStringLiteral("TCP-Timeout(1):QueueRP(4)")), 1);
        QCOMPARE(state->Projectors[1].InputStatus, qint16(4));
        QCOMPARE(sim->command(QStringLiteral("input 1 2")), QStringLiteral("OK"));
        engine->EnqueueCommand(1, t.InputGetCommand);
        idle(1);
        QCOMPARE(state->Projectors[1].InputStatus, qint16(2));
        QVERIFY(CommLogLines(*dir).contains(QStringLiteral("TCP-Recv(1):[1D][02][00]")));
    }

    // A stored reply keeps its own bytes and nothing of the read buffer it
    // came from, in every slot that ever held one.
    void storedRepliesHoldTheirBytes() {
        start(1, 2000);
        const CommandTable& t = engine->commands();
        QCOMPARE(sim->command(QStringLiteral("trailing 1 0A0B")), QStringLiteral("OK"));
        engine->EnqueueCommand(1, t.LampTimeGetCommand);
        idle(1);
        const QueueEntry& first = state->Queues[1].entries[1];
        QCOMPARE(first.reply.left(first.replyLength), QByteArray::fromHex("1DB0040A0B"));
        // A flood of trailing bytes is not kept beyond the stored limit.
        QCOMPARE(sim->command(QStringLiteral("trailing 1 ") +
                              QString(QStringLiteral("AB")).repeated(300)),
                 QStringLiteral("OK"));
        for (int i = 0; i < 40; ++i)
            engine->EnqueueCommand(1, i % 2 ? t.InputGetCommand : t.LampTimeGetCommand);
        idle(1);
        qsizetype largest = 0;
        for (const QueueEntry& entry : state->Queues[1].entries)
            largest = std::max(largest, entry.reply.capacity());
        QVERIFY2(largest <= MaxStoredReplyBytes, qPrintable(QString::number(largest)));
        QCOMPARE(state->Queues[1].entries[41].replyLength, qint32(MaxStoredReplyBytes));
        QCOMPARE(state->Projectors[1].InputStatus, qint16(0));
    }

    // A projector whose host answers pings but whose control port does not:
    // the fifth time-out in a row marks it "Disconnect" with one log line and
    // one alert, answered pings do not clear it, its next reply does.
    void silentPortGoesToDisconnectAfterFiveTimeOuts() {
        start(1, 200);
        const CommandTable& t = engine->commands();
        engine->setToolPrograms(MakePingScript(*dir, "ok"), QStringLiteral("ip"), 5s);
        state->Mail.MailSend = state->Mail.ErrorAlarmSend = state->Mail.DisconnectSend = true;
        state->Mail.DisconnectText = QStringLiteral("Gone");
        int alerts = 0;
        engine->setAlertStarter([&alerts] { ++alerts; });
        const auto timeOuts = [&](int n) {
            for (int i = 0; i < n; ++i)
                engine->EnqueueCommand(1, t.PowerGetCommand);
            idle(1);
            QTRY_VERIFY_WITH_TIMEOUT(state->PingList.isEmpty(), Wait);
        };

        engine->EnqueueCommand(1, t.PowerGetCommand);
        idle(1);
        QVERIFY(!state->Projectors[1].Disconnected);
        QCOMPARE(sim->command(QStringLiteral("silent 1 on")), QStringLiteral("OK"));
        timeOuts(4);
        QVERIFY(!state->Projectors[1].Disconnected);
        QCOMPARE(alerts, 0);
        timeOuts(1);
        QVERIFY(state->Projectors[1].Disconnected);
        QCOMPARE(alerts, 1);
        QVERIFY(std::count(sink.reachability.begin(), sink.reachability.end(), 1) >= 1);
        timeOuts(3);
        QVERIFY(state->Projectors[1].Disconnected);
        QCOMPARE(alerts, 1);
        QCOMPARE(CountLines(CommLogLines(*dir), QStringLiteral("TCP-Disconnected(1)")), 1);
        QCOMPARE(CountLines(CommLogLines(*dir), QStringLiteral("TCP-Timeout(1):QueueRP(9)")), 1);
        QVERIFY(pings().size() >= 8);

        QCOMPARE(sim->command(QStringLiteral("silent 1 off")), QStringLiteral("OK"));
        engine->EnqueueCommand(1, t.PowerGetCommand);
        idle(1);
        QVERIFY(!state->Projectors[1].Disconnected);

        // After a reply the next loss of contact is reported again.
        QCOMPARE(sim->command(QStringLiteral("silent 1 on")), QStringLiteral("OK"));
        timeOuts(5);
        QVERIFY(state->Projectors[1].Disconnected);
        QCOMPARE(alerts, 2);
        QCOMPARE(CountLines(CommLogLines(*dir), QStringLiteral("TCP-Disconnected(1)")), 2);

        // A flush starts the count again: four more time-outs after it do not
        // clear the mark, and nothing is reported twice.
        engine->FlushProjectorQueue(1);
        timeOuts(4);
        QVERIFY(state->Projectors[1].Disconnected);
        QCOMPARE(alerts, 2);
    }

    void coolDownAndRefusedConnections() {
        start(2, 400);
        const CommandTable& t = engine->commands();
        QCOMPARE(sim->command(QStringLiteral("power 1 1")), QStringLiteral("OK"));
        engine->EnqueueCommand(1, t.PowerGetCommand);
        idle(1);
        QCOMPARE(state->Projectors[1].PowerStatus, qint16(1));
        engine->EnqueueCommand(1, t.PowerOffCommand);
        engine->EnqueueCommand(1, t.PowerGetCommand);
        idle(1);
        QCOMPARE(state->Projectors[1].PowerStatus, qint16(2));
        QTRY_VERIFY_WITH_TIMEOUT((engine->EnqueueCommand(1, t.PowerGetCommand), idle(1),
                                  state->Projectors[1].PowerStatus == 0),
                                 Wait);

        // Nothing listens on this port: the refused connection fails its
        // command at once, with the reason, and is swept.
        quint16 deadPort = 0;
        {
            QTcpServer server;
            QVERIFY(server.listen(QHostAddress::LocalHost));
            deadPort = server.serverPort();
        }
        state->Projectors[2].PortNo = QString::number(deadPort);
        engine->EnqueueCommand(2, t.PowerGetCommand);
        idle(2);
        QCOMPARE(engine->socketState(2), 0);
        QCOMPARE(LinesOf(CommLogLines(*dir), 2),
                 (QStringList{QStringLiteral("TCP(2)_Connect:127.0.0.1"),
                              QStringLiteral("TCP-ConnectFailed(2):Connection refused")}));
        QCOMPARE(state->Counters.CommandsTimedOut, quint64(1));
        QCOMPARE(state->PingList, QStringList{QStringLiteral("2")});

        // An address that is not one is never connected to; it times out.
        state->Projectors[2].IPAddress = QStringLiteral("-oops");
        engine->EnqueueCommand(2, t.PowerGetCommand);
        idle(2);
        QVERIFY(CommLogLines(*dir).contains(QStringLiteral("TCP-Timeout(2):QueueRP(2)")));
    }

    void flushDropsTheCommandInFlight() {
        start(1, 3000);
        const CommandTable& t = engine->commands();
        QCOMPARE(sim->command(QStringLiteral("silent 1 on")), QStringLiteral("OK"));
        engine->EnqueueCommand(1, t.MuteOnCommand);
        engine->EnqueueCommand(1, t.MuteGetCommand);
        QTRY_COMPARE_WITH_TIMEOUT(CurrentQueueEntry(*state, 1).state, qint16(QueueSent), Wait);
        engine->FlushProjectorQueue(1);
        QVERIFY(IsQueueEmpty(*state, 1));
        QCOMPARE(state->Queues[1].QueueReadIndex, qint16(1));
        QCOMPARE(engine->socketState(1), 0);
        // The time-out of the dropped command never comes.
        QTest::qWait(3500);
        QVERIFY(sink.restored.empty());
        QCOMPARE(CountLines(CommLogLines(*dir), QStringLiteral("TCP-Timeout(1):QueueRP(1)")), 0);

        // The queue works on afterwards.
        QCOMPARE(sim->command(QStringLiteral("silent 1 off")), QStringLiteral("OK"));
        engine->EnqueueCommand(1, t.MuteGetCommand);
        idle(1);
        QCOMPARE(state->Projectors[1].MuteStatus, qint16(0));
    }

    void refreshThatFlushesAndQueuesKeepsTheNewCommand() {
        start(1, 3000);
        const CommandTable& t = engine->commands();
        // A view that, on the first power refresh, starts its own queries:
        // flush, then queue them, all inside the hand-over.
        struct FlushingSink : RecordingSink {
            CommEngine* engine = nullptr;
            const CommandTable* commands = nullptr;
            bool done = false;
            void statusChanged(int projector, StatusItem item) override {
                RecordingSink::statusChanged(projector, item);
                if (item != StatusItem::Power || std::exchange(done, true))
                    return;
                engine->FlushProjectorQueue(projector);
                engine->EnqueueCommand(projector, commands->MuteGetCommand);
            }
        } flushing;
        flushing.engine = engine.get();
        flushing.commands = &t;
        engine->setRefreshSink(&flushing);
        state->Projectors[1].MuteStatus = -1;
        engine->EnqueueCommand(1, t.PowerGetCommand);
        engine->EnqueueCommand(1, t.InputGetCommand); // dropped by the flush
        QTRY_COMPARE_WITH_TIMEOUT(state->Projectors[1].MuteStatus, qint16(0), Wait);
        idle(1);
        engine->setRefreshSink(&sink);
        QCOMPARE(flushing.countChanged(1, StatusItem::Mute), 1);
        QCOMPARE(flushing.countChanged(1, StatusItem::Input), 0);
        QCOMPARE(CountLines(CommLogLines(*dir),
                            QStringLiteral("TCP-Send(1):") + Hex(t.MuteGetCommand.toByteArray())),
                 1);
    }
};

QTEST_GUILESS_MAIN(TestCommLan)
#include "test_comm_lan.moc"
