// The serial transport against the simulator's pseudo-terminals: frames on
// the wire, data replies, time-outs, a missing device, and two projectors
// sharing one port served in turn.

#include "support/CommTestKit.h"
#include "support/SimProcess.h"

#include "comm/CommEngine.h"
#include "comm/CommandQueue.h"
#include "core/SettingsStore.h"

#include <QSettings>
#include <QTest>

namespace {

constexpr int Wait = 20000;

QStringList LinesOf(const QStringList& lines, int p) {
    QStringList out;
    for (const QString& line : lines) {
        if (line.contains(QStringLiteral("(%1)").arg(p)))
            out << line;
    }
    return out;
}

} // namespace

class TestCommSerial : public QObject {
    Q_OBJECT

  private slots:
    void serialProjectors() {
        QTemporaryDir dir;
        SimProcess sim({QStringLiteral("--pty"), QStringLiteral("2")});
        QVERIFY2(sim.isReady(), qPrintable(sim.errorString()));
        const QString conf = dir.filePath(QStringLiteral("Norvik3.conf"));
        {
            QSettings s(conf, QSettings::IniFormat);
            s.setValue(QStringLiteral("SerialPorts/COM1"), sim.ptyPath(1));
            s.setValue(QStringLiteral("SerialPorts/COM2"), sim.ptyPath(2));
            s.setValue(QStringLiteral("SerialPorts/COM9"),
                       dir.filePath(QStringLiteral("no-such-tty")));
        }
        SettingsStore settings(conf);
        AppState state;
        EnableCommLog(state, dir);
        state.Timing.CommTimeoutTime = 400;
        const int ports[] = {0, 1, 1, 2, 9}; // projectors 1 and 2 share COM1
        for (int p = 1; p <= 4; ++p)
            PutProjector(state, p, SerialProjector({}, ports[p]));
        CommEngine engine(state, settings);
        RecordingSink sink;
        engine.setRefreshSink(&sink);
        engine.InitializeQueues();
        const CommandTable& t = engine.commands();

        QCOMPARE(sim.command(QStringLiteral("lamp 1 1999")), QStringLiteral("OK"));
        for (int p : {1, 2}) {
            engine.EnqueueCommand(p, t.PowerGetCommand);
            engine.EnqueueCommand(p, t.LampTimeGetCommand);
            engine.EnqueueCommand(p, t.MuteOnCommand);
        }
        engine.EnqueueCommand(4, t.PowerGetCommand);
        QTRY_VERIFY_WITH_TIMEOUT(IsQueueEmpty(state, 1) && IsQueueEmpty(state, 2), Wait);
        QCOMPARE(state.Projectors[1].LampTime, qint16(1999));
        QCOMPARE(state.Projectors[2].LampTime, qint16(1999));
        QCOMPARE(state.Projectors[2].PowerStatus, qint16(0));
        QVERIFY(sink.restored.empty());

        // Six frames reached the shared device, byte for byte.
        const QString answer = sim.command(QStringLiteral("frames 1"));
        QVERIFY2(answer.startsWith(QStringLiteral("OK 6 ")), qPrintable(answer));
        QCOMPARE(
            answer.count(QString::fromLatin1(t.LampTimeGetCommand.toByteArray().toHex().toUpper())),
            2);

        // Served in turn: a send is always followed by its reply before the
        // next send on the shared port.
        QStringList shared;
        for (const QString& line : CommLogLines(dir)) {
            if (line.startsWith(QStringLiteral("Comm-Send(")) ||
                line.startsWith(QStringLiteral("Comm-Recv(")))
                shared << line;
        }
        QCOMPARE(shared.size(), 12);
        for (int i = 0; i < shared.size(); i += 2) {
            QVERIFY2(shared[i].startsWith(QStringLiteral("Comm-Send(")), qPrintable(shared[i]));
            QCOMPARE(shared[i + 1].mid(10, 1), shared[i].mid(10, 1)); // same projector
        }
        QVERIFY(shared.contains(QStringLiteral("Comm-Send(1):") +
                                Hex(t.PowerGetCommand.toByteArray())));
        QVERIFY(shared.contains(QStringLiteral("Comm-Recv(2):[1D][CF][07]")));
        QVERIFY(shared.contains(QStringLiteral("Comm-Recv(2):[06]")));

        // A device that does not exist: the command is tried until its reply
        // time-out and then ends as an unanswered one, so the queue moves on.
        QTRY_VERIFY_WITH_TIMEOUT(IsQueueEmpty(state, 4), Wait);
        QCOMPARE(LinesOf(CommLogLines(dir), 4),
                 QStringList{QStringLiteral("Comm-Timeout(4):QueueRP(1)")});

        // Silence: one time-out, the port is let go, no ping list.
        QCOMPARE(sim.command(QStringLiteral("silent 2 on")), QStringLiteral("OK"));
        engine.EnqueueCommand(3, t.PowerGetCommand);
        engine.EnqueueCommand(3, t.InputGetCommand);
        QTRY_VERIFY_WITH_TIMEOUT(IsQueueEmpty(state, 3), Wait);
        const QStringList log = CommLogLines(dir);
        QCOMPARE(CountLines(log, QStringLiteral("Comm-Timeout(3):QueueRP(1)")), 1);
        QCOMPARE(CountLines(log, QStringLiteral("Comm-Timeout(3):QueueRP(2)")), 1);
        QVERIFY(state.PingList.isEmpty());

        // Split replies are put together.
        QCOMPARE(sim.command(QStringLiteral("silent 2 off")), QStringLiteral("OK"));
        QCOMPARE(sim.command(QStringLiteral("split 2 80")), QStringLiteral("OK"));
        QCOMPARE(sim.command(QStringLiteral("input 2 5")), QStringLiteral("OK"));
        engine.EnqueueCommand(3, t.InputGetCommand);
        QTRY_VERIFY_WITH_TIMEOUT(IsQueueEmpty(state, 3), Wait);
        QCOMPARE(state.Projectors[3].InputStatus, qint16(5));
        engine.shutdown();
    }

    // The pseudo-terminal of a projector goes away (the cable pulled, the
    // adapter unplugged): five time-outs mark it "Disconnect" once, and a
    // reply on its new device brings it back.
    void lostDeviceGoesToDisconnect() {
        QTemporaryDir dir;
        auto sim =
            std::make_unique<SimProcess>(QStringList{QStringLiteral("--pty"), QStringLiteral("1")});
        QVERIFY2(sim->isReady(), qPrintable(sim->errorString()));
        const QString conf = dir.filePath(QStringLiteral("Norvik3.conf"));
        const auto pointCom1At = [&conf](const QString& device) {
            QSettings s(conf, QSettings::IniFormat);
            s.setValue(QStringLiteral("SerialPorts/COM1"), device);
        };
        pointCom1At(sim->ptyPath(1));
        SettingsStore settings(conf);
        AppState state;
        EnableCommLog(state, dir);
        state.Timing.CommTimeoutTime = 200;
        state.Mail.MailSend = state.Mail.ErrorAlarmSend = state.Mail.DisconnectSend = true;
        PutProjector(state, 1, SerialProjector({}, 1));
        CommEngine engine(state, settings);
        RecordingSink sink;
        engine.setRefreshSink(&sink);
        int alerts = 0;
        engine.setAlertStarter([&alerts] { ++alerts; });
        engine.InitializeQueues();
        const CommandTable& t = engine.commands();
        const auto run = [&](int n) {
            for (int i = 0; i < n; ++i)
                engine.EnqueueCommand(1, t.PowerGetCommand);
            QTRY_VERIFY_WITH_TIMEOUT(IsQueueEmpty(state, 1), Wait);
        };

        run(1);
        QVERIFY(!state.Projectors[1].Disconnected);
        sim.reset();
        run(4);
        QVERIFY(!state.Projectors[1].Disconnected);
        run(1);
        QVERIFY(state.Projectors[1].Disconnected);
        QCOMPARE(sink.reachability, std::vector<int>{1});
        run(3);
        QCOMPARE(alerts, 1);
        const QStringList log = CommLogLines(dir);
        QCOMPARE(CountLines(log, QStringLiteral("Comm-Disconnected(1)")), 1);
        QCOMPARE(CountLines(log, QStringLiteral("Comm-Timeout(1):QueueRP(9)")), 1);
        QVERIFY(state.PingList.isEmpty());

        sim =
            std::make_unique<SimProcess>(QStringList{QStringLiteral("--pty"), QStringLiteral("1")});
        QVERIFY2(sim->isReady(), qPrintable(sim->errorString()));
        pointCom1At(sim->ptyPath(1));
        run(1);
        QVERIFY(!state.Projectors[1].Disconnected);
        QCOMPARE(state.Projectors[1].PowerStatus, qint16(0));
        engine.shutdown();
    }
};

QTEST_GUILESS_MAIN(TestCommSerial)
#include "test_comm_serial.moc"
