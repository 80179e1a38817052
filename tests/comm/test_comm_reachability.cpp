// The reachability ping and the MAC address pass, with small scripts in
// place of ping and ip that print the shapes of their real output (or never
// end), so the results do not depend on the network of the test machine.

#include "support/CommTestKit.h"

#include "comm/CommEngine.h"
#include "core/Fleet.h"
#include "core/PingList.h"
#include "core/SettingsStore.h"
#include "mail/AlertQueue.h"

#include <QTest>

using namespace std::chrono_literals;

namespace {

constexpr int Wait = 20000;

const char* const IpScript = R"sh(#!/bin/sh
echo "$*" >> "$0.calls"
printf '%s dev eth0 lladdr 00:1a:2b:3c:4d:5e STALE \n' "$4"
)sh";

QStringList readLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

class TestCommReachability : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString ping, ip;

    void mode(const char* m) { WriteFile(ping + QStringLiteral(".mode"), m); }

  private slots:
    void initTestCase() {
        ping = dir.filePath(QStringLiteral("ping"));
        ip = dir.filePath(QStringLiteral("ip"));
        WriteFile(ping, PingScript, true);
        WriteFile(ip, IpScript, true);
    }

    void pingMarksDisconnectOnceAndKillsHungChildren() {
        AppState state;
        EnableCommLog(state, dir);
        state.clock.set(QDateTime(QDate(2024, 1, 31), QTime(13, 5, 9)));
        state.Mail.MailSend = state.Mail.ErrorAlarmSend = state.Mail.DisconnectSend = true;
        state.Mail.DisconnectText = QStringLiteral("No answer");
        for (int p = 1; p <= 3; ++p)
            PutProjector(state, p,
                         LanProjector({}, QStringLiteral("192.0.2.%1").arg(6 + p), {})
                             .mac(QStringLiteral("known")))
                .Disconnected = false;
        state.Projectors[2].IPAddress = QStringLiteral("10.0.0.1;reboot");
        SettingsStore settings(dir.filePath(QStringLiteral("Norvik3.conf")));
        CommEngine engine(state, settings);
        RecordingSink sink;
        engine.setRefreshSink(&sink);
        int starts = 0;
        engine.setAlertStarter([&starts] { ++starts; });
        engine.setToolPrograms(ping, ip, 500ms);
        // Nothing to ping: the task sleeps, and the first entry wakes it.
        QTRY_VERIFY_WITH_TIMEOUT(engine.isAsleep(), Wait);

        const auto pingOnce = [&state](int p) {
            AddToPingList(state, p);
            QTRY_VERIFY_WITH_TIMEOUT(state.PingList.isEmpty(), Wait);
        };

        mode("fail");
        pingOnce(1);
        QVERIFY(state.Projectors[1].Disconnected);
        pingOnce(1); // already marked: no second line, no second alert
        mode("ok");
        pingOnce(1);
        QVERIFY(!state.Projectors[1].Disconnected);
        mode("hang"); // killed after the limit, counted as failed
        pingOnce(1);
        QVERIFY(state.Projectors[1].Disconnected);
        pingOnce(2); // not an address: failed without running anything

        QCOMPARE(readLines(ping + QStringLiteral(".calls")),
                 QStringList(4, QStringLiteral("-n -c 1 -W 0.5 192.0.2.7")));
        // An answered ping between two failed ones is no reply of the
        // projector: its loss of contact is logged and alerted once.
        QCOMPARE(CommLogLines(dir), (QStringList{QStringLiteral("TCP-Disconnected(1)"),
                                                 QStringLiteral("TCP-Disconnected(2)")}));
        QCOMPARE(starts, 2);
        QCOMPARE(AlertQueueLength(state), 2);
        QVERIFY(PeekAlertMessage(state).endsWith(QStringLiteral(";1;No answer")));
        QCOMPARE(sink.reachability, (std::vector<int>{1, 1, 1, 2}));

        // Disconnect alarms off: still logged and marked, no alert.
        state.Mail.DisconnectSend = false;
        mode("fail");
        pingOnce(3);
        QVERIFY(state.Projectors[3].Disconnected);
        QCOMPARE(AlertQueueLength(state), 2);
        QCOMPARE(CountLines(CommLogLines(dir), QStringLiteral("TCP-Disconnected(3)")), 1);
        QCOMPARE(readLines(ping + QStringLiteral(".calls")).size(), 5);
        QTRY_VERIFY_WITH_TIMEOUT(engine.isAsleep(), Wait);
    }

    // A projector deleted while a ping runs: the answer is applied to nobody,
    // and a waiting entry follows its projector to its new number.
    void deletionDuringSlowPing() {
        QFile::remove(ping + QStringLiteral(".calls"));
        QTemporaryDir logDir;
        AppState state;
        EnableCommLog(state, logDir);
        state.Mail.MailSend = state.Mail.ErrorAlarmSend = state.Mail.DisconnectSend = true;
        ResetTree(state);
        const int group = AddGroupNode(state, QStringLiteral("Hall"), nullptr);
        for (int p = 1; p <= 3; ++p) {
            QVERIFY(AddProjector(state, group,
                                 LanProjector(QStringLiteral("PJ%1").arg(p),
                                              QStringLiteral("192.0.2.%1").arg(10 + p))
                                     .mac(QStringLiteral("known"))) > 0);
            state.Projectors[p].Disconnected = false;
        }
        SettingsStore settings(dir.filePath(QStringLiteral("Norvik3.conf")));
        CommEngine engine(state, settings);
        engine.setToolPrograms(ping, ip, 5s);
        mode("slowfail");

        // Projector 2 is deleted while its own ping runs: projector 3 moves
        // into its number and must not take the failure.
        AddToPingList(state, 2);
        QTRY_VERIFY_WITH_TIMEOUT(readLines(ping + QStringLiteral(".calls")).size() == 1, Wait);
        DeleteProjectorNode(state, NodeOfProjector(state, 2));
        QVERIFY(state.PingList.isEmpty());
        QTest::qWait(1500);
        QVERIFY(!state.Projectors[1].Disconnected);
        QVERIFY(!state.Projectors[2].Disconnected);
        QCOMPARE(state.Projectors[2].IPAddress, QStringLiteral("192.0.2.13"));
        QVERIFY(IsAlertQueueEmpty(state));
        QVERIFY(CommLogLines(logDir).isEmpty());

        // Projector 1 is deleted while projector 2's ping runs: the entry
        // waits as 1 and that projector (the same host) is pinged again.
        AddToPingList(state, 2);
        QTRY_VERIFY_WITH_TIMEOUT(readLines(ping + QStringLiteral(".calls")).size() == 2, Wait);
        DeleteProjectorNode(state, NodeOfProjector(state, 1));
        QCOMPARE(state.PingList, QStringList{QStringLiteral("1")});
        QTRY_VERIFY_WITH_TIMEOUT(state.PingList.isEmpty(), Wait);
        QCOMPARE(readLines(ping + QStringLiteral(".calls")),
                 (QStringList{QStringLiteral("-n -c 1 -W 0.5 192.0.2.12"),
                              QStringLiteral("-n -c 1 -W 0.5 192.0.2.13"),
                              QStringLiteral("-n -c 1 -W 0.5 192.0.2.13")}));
        QCOMPARE(state.ProjectorCount, qint16(1));
        QVERIFY(state.Projectors[1].Disconnected);
        QCOMPARE(CommLogLines(logDir), QStringList{QStringLiteral("TCP-Disconnected(1)")});
        QCOMPARE(AlertQueueLength(state), 1);
        QVERIFY(PeekAlertMessage(state).contains(QStringLiteral(";1;")));
    }

    void macAddressPass() {
        QFile::remove(ping + QStringLiteral(".calls"));
        mode("hang"); // the warm-up ping holds the pass until it is killed
        AppState state;
        const auto lan = [&state](int p, const char* address, const char* mac) {
            PutProjector(
                state, p,
                LanProjector(QStringLiteral("PJ%1").arg(p), QString::fromLatin1(address), {})
                    .mac(QString::fromLatin1(mac)));
        };
        lan(1, "192.0.2.7", "");
        lan(2, "192.0.2.8", "AA:BB:CC:DD:EE:FF");
        lan(4, "$(reboot)", "");
        PutProjector(state, 3, SerialProjector(QStringLiteral("serial"), 0, {}));
        SettingsStore settings(dir.filePath(QStringLiteral("Norvik3.conf")));
        CommEngine engine(state, settings);
        engine.setToolPrograms(ping, ip, 2s);
        engine.startMacAddressPass();
        QTRY_VERIFY_WITH_TIMEOUT(state.MacAcquiring, Wait);
        QTRY_VERIFY_WITH_TIMEOUT(!state.MacAcquiring, Wait);
        QCOMPARE(state.Projectors[1].MACAddress, QStringLiteral("00:1A:2B:3C:4D:5E"));
        QCOMPARE(state.Projectors[2].MACAddress, QStringLiteral("AA:BB:CC:DD:EE:FF"));
        QVERIFY(state.Projectors[4].MACAddress.isEmpty());
        QCOMPARE(readLines(ping + QStringLiteral(".calls")),
                 QStringList{QStringLiteral("-n -c 1 -W 0.3 192.0.2.7")});
        QCOMPARE(readLines(ip + QStringLiteral(".calls")),
                 QStringList{QStringLiteral("-4 neigh show 192.0.2.7")});
    }
};

QTEST_GUILESS_MAIN(TestCommReachability)
#include "test_comm_reachability.moc"
