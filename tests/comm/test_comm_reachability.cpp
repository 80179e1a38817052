// The reachability ping and the MAC address pass, with small scripts in
// place of ping and ip that print the shapes of their real output (or never
// end), so the results do not depend on the network of the test machine.

#include "CommTestKit.h"

#include "comm/AlertQueue.h"
#include "comm/CommEngine.h"
#include "core/SettingsStore.h"

#include <QTest>

using namespace std::chrono_literals;

namespace {

constexpr int Wait = 20000;

const char* const PingScript = R"sh(#!/bin/sh
echo "$*" >> "$0.calls"
case "$(cat "$0.mode")" in
ok) printf 'PING %s (%s) 56(84) bytes of data.\n64 bytes from %s: icmp_seq=1 ttl=64 time=0.051 ms\n' "$6" "$6" "$6"; exit 0;;
hang) exec sleep 600;;
*) printf 'PING %s (%s) 56(84) bytes of data.\n\n--- %s ping statistics ---\n1 packets transmitted, 0 received, 100%% packet loss, time 0ms\n' "$6" "$6" "$6"; exit 1;;
esac
)sh";

const char* const IpScript = R"sh(#!/bin/sh
echo "$*" >> "$0.calls"
printf '%s dev eth0 lladdr 00:1a:2b:3c:4d:5e STALE \n' "$4"
)sh";

void writeFile(const QString& path, const QByteArray& text, bool executable = false)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
    file.close();
    if (executable)
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
}

QStringList readLines(const QString& path)
{
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

    void mode(const char* m) { writeFile(ping + QStringLiteral(".mode"), m); }

private slots:
    void initTestCase()
    {
        ping = dir.filePath(QStringLiteral("ping"));
        ip = dir.filePath(QStringLiteral("ip"));
        writeFile(ping, PingScript, true);
        writeFile(ip, IpScript, true);
    }

    void pingMarksDisconnectOnceAndKillsHungChildren()
    {
        AppState state;
        EnableCommLog(state, dir);
        state.clock.set(QDateTime(QDate(2024, 1, 31), QTime(13, 5, 9)));
        state.Mail.MailSend = state.Mail.ErrorAlarmSend = state.Mail.DisconnectSend = true;
        state.Mail.DisconnectText = QStringLiteral("No answer");
        state.ProjectorCount = 2;
        state.Projectors[1].ConnectionKind = ConnectionLan;
        state.Projectors[1].IPAddress = QStringLiteral("192.0.2.7");
        state.Projectors[1].Disconnected = false;
        state.Projectors[1].MACAddress = QStringLiteral("known");
        state.Projectors[2].ConnectionKind = ConnectionLan;
        state.Projectors[2].IPAddress = QStringLiteral("10.0.0.1;reboot");
        state.Projectors[2].Disconnected = false;
        state.Projectors[2].MACAddress = QStringLiteral("known");
        SettingsStore settings(dir.filePath(QStringLiteral("Norvik3.conf")));
        CommEngine engine(state, settings);
        RecordingSink sink;
        engine.setRefreshSink(&sink);
        int starts = 0;
        engine.setAlertStarter([&starts] { ++starts; });
        engine.setToolPrograms(ping, ip, 500ms);

        const auto pingOnce = [&state](int p) {
            state.PingList << QString::number(p);
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
        QCOMPARE(CommLogLines(dir), (QStringList{QStringLiteral("TCP-Disconnected(1)"),
                                                 QStringLiteral("TCP-Disconnected(1)"),
                                                 QStringLiteral("TCP-Disconnected(2)")}));
        QCOMPARE(starts, 3);
        QCOMPARE(AlertQueueLength(state), 3);
        QVERIFY(PeekAlertMessage(state).endsWith(QStringLiteral(";1;No answer")));
        QCOMPARE(sink.reachability, (std::vector<int>{1, 1, 1, 2}));

        // Disconnect alarms off: still logged and marked, no alert.
        state.Mail.DisconnectSend = false;
        state.Projectors[1].Disconnected = false;
        mode("fail");
        pingOnce(1);
        QCOMPARE(AlertQueueLength(state), 3);
        QCOMPARE(CountLines(CommLogLines(dir), QStringLiteral("TCP-Disconnected(1)")), 3);
        QVERIFY(readLines(ping + QStringLiteral(".calls")).size() == 5);
    }

    void macAddressPass()
    {
        QFile::remove(ping + QStringLiteral(".calls"));
        mode("hang"); // the warm-up ping holds the pass until it is killed
        AppState state;
        state.ProjectorCount = 4;
        const auto lan = [&state](int p, const char* address, const char* mac) {
            state.Projectors[p].ProjectorName = QStringLiteral("PJ%1").arg(p);
            state.Projectors[p].ConnectionKind = ConnectionLan;
            state.Projectors[p].IPAddress = QString::fromLatin1(address);
            state.Projectors[p].MACAddress = QString::fromLatin1(mac);
        };
        lan(1, "192.0.2.7", "");
        lan(2, "192.0.2.8", "AA:BB:CC:DD:EE:FF");
        lan(4, "$(reboot)", "");
        state.Projectors[3].ProjectorName = QStringLiteral("serial");
        state.Projectors[3].ConnectionKind = ConnectionSerial;
        SettingsStore settings(dir.filePath(QStringLiteral("Norvik3.conf")));
        CommEngine engine(state, settings);
        engine.setToolPrograms(ping, ip, 2s);
        engine.startMacAddressPass();
        QTRY_VERIFY_WITH_TIMEOUT(state.MacAcquiring, Wait);
        QTRY_VERIFY_WITH_TIMEOUT(!state.MacAcquiring, Wait);
        QCOMPARE(state.Projectors[1].MACAddress, QStringLiteral("00:1A:2B:3C:4D:5E"));
        QCOMPARE(state.Projectors[2].MACAddress, QStringLiteral("AA:BB:CC:DD:EE:FF"));
        QVERIFY(state.Projectors[4].MACAddress.isEmpty());
        QCOMPARE(readLines(ping + QStringLiteral(".calls")), QStringList{QStringLiteral("-n -c 1 -W 0.3 192.0.2.7")});
        QCOMPARE(readLines(ip + QStringLiteral(".calls")), QStringList{QStringLiteral("-4 neigh show 192.0.2.7")});
    }
};

QTEST_GUILESS_MAIN(TestCommReachability)
#include "test_comm_reachability.moc"
