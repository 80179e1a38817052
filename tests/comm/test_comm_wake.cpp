// Wake-on-LAN before a power-on, across a real link: the engine in one
// network namespace, a simulated projector of each protocol and a receiver
// on UDP port 9 in the other. A power-on queued as the endpoint queues it
// sends the magic packet first and goes only when the hold ends; without
// the setting or the projector's box it goes at once and nothing is sent.

#include "support/CommTestKit.h"
#include "support/NetworkPair.h"
#include "support/SimProcess.h"

#include "comm/CommEngine.h"
#include "comm/CommandQueue.h"
#include "core/SettingsStore.h"
#include "platform/WakeOnLan.h"

#include <QNetworkDatagram>
#include <QSettings>
#include <QUdpSocket>

using namespace std::chrono_literals;

namespace {

constexpr int Wait = 20000;
const QString NativeAddress = QStringLiteral("192.0.2.10");
const QString PJLinkAddress = QStringLiteral("192.0.2.11");

// Notes, in the order the event loop saw them, each hold and acknowledged
// power-on the engine reported; the receiver adds each packet it got.
struct WakeSink : RecordingSink, EngineObserver {
    QStringList* events = nullptr;
    void wakingByLan(int projector) override {
        *events << QStringLiteral("hold %1").arg(projector);
    }
    void commandFinished(int projector, const QByteArray& frame, CommandOutcome outcome) override {
        const QByteArray native = BuildCommandTable().PowerOnCommand.toByteArray();
        if ((frame == native || frame == "%1POWR 1") && outcome == CommandOutcome::Acknowledged)
            *events << QStringLiteral("power-on %1").arg(projector);
    }
};

} // namespace

class TestCommWake : public QObject {
    Q_OBJECT

    std::unique_ptr<NetworkPair> m_pair;
    std::unique_ptr<SimProcess> m_sim;
    std::unique_ptr<QUdpSocket> m_receiver;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<SettingsStore> m_settings;
    std::unique_ptr<CommEngine> m_engine;
    WakeSink m_sink;
    QStringList m_events;
    QList<QByteArray> m_packets;
    QString m_mac;

    // The simulator's state line of projector 1 (own protocol) or 2 (PJLink).
    QString simState(int p) {
        return m_sim->command(p == 1 ? QStringLiteral("state 1") : QStringLiteral("pj 2 state"));
    }

  private slots:
    void initTestCase() {
        m_pair = std::make_unique<NetworkPair>(QStringList{NativeAddress, PJLinkAddress});
        if (!m_pair->isReady())
            QSKIP(qPrintable(m_pair->error()));
        QVERIFY(m_pair->enter(NetworkPair::Side::Projectors));
        m_sim = std::make_unique<SimProcess>(
            QStringList{"--tcp", "1", "--pjlink", "1", "--address", NativeAddress, "--address-each",
                        "--base-port", "23", "--warmup-ms", "100", "--cooldown-ms", "100"});
        m_receiver = std::make_unique<QUdpSocket>();
        const bool bound = m_receiver->bind(QHostAddress::AnyIPv4, WakeOnLanPort);
        QVERIFY(m_pair->enter(NetworkPair::Side::Program));
        QVERIFY2(m_sim->isReady(), qPrintable(m_sim->errorString()));
        QVERIFY2(bound, qPrintable(m_receiver->errorString()));
        connect(m_receiver.get(), &QUdpSocket::readyRead, this, [this] {
            while (m_receiver->hasPendingDatagrams()) {
                m_packets << m_receiver->receiveDatagram().data();
                m_events << QStringLiteral("packet");
            }
        });
        m_mac = m_pair->projectorsMac();
        QVERIFY(!m_mac.isEmpty());
    }

    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_state = std::make_unique<AppState>();
        PutProjector(*m_state, 1,
                     LanProjector(QStringLiteral("PJ1"), NativeAddress).id(QStringLiteral("id-1")));
        PutProjector(
            *m_state, 2,
            PJLinkProjector(QStringLiteral("PJ2"), PJLinkAddress).id(QStringLiteral("id-2")));
        m_settings =
            std::make_unique<SettingsStore>(m_dir->filePath(QStringLiteral("Norvik3.conf")));
        m_engine = std::make_unique<CommEngine>(*m_state, *m_settings);
        m_events.clear();
        m_packets.clear();
        m_sink.events = &m_events;
        m_engine->setRefreshSink(&m_sink);
        m_engine->addObserver(&m_sink);
        m_engine->InitializeQueues();
        QCOMPARE(m_sim->command(QStringLiteral("power 1 0")), QString("OK"));
        QCOMPARE(m_sim->command(QStringLiteral("pj 2 power 0")), QString("OK"));
    }

    void cleanup() {
        m_engine.reset();
        m_settings.reset();
        m_state.reset();
        m_dir.reset();
    }

    void cleanupTestCase() {
        m_receiver.reset();
        m_sim.reset();
        m_pair.reset();
    }

    void powerOn_data() {
        QTest::addColumn<int>("projector");
        QTest::addColumn<bool>("setting");
        QTest::addColumn<bool>("ticked");
        QTest::addColumn<bool>("macKnown");
        QTest::addColumn<int>("powerOns");
        QTest::addColumn<QStringList>("expected");
        const QStringList woken{"hold 1", "packet", "power-on 1"};
        QTest::newRow("own protocol, woken") << 1 << true << true << true << 1 << woken;
        QTest::newRow("PJLink, woken")
            << 2 << true << true << true << 1 << QStringList{"hold 2", "packet", "power-on 2"};
        QTest::newRow("each power-on its own packet")
            << 1 << true << true << true << 2 << (woken + woken);
        QTest::newRow("setting off")
            << 1 << false << true << true << 1 << QStringList{"power-on 1"};
        QTest::newRow("box unticked")
            << 1 << true << false << true << 1 << QStringList{"power-on 1"};
        QTest::newRow("no MAC known: at once")
            << 2 << true << true << false << 1 << QStringList{"power-on 2"};
    }

    void powerOn() {
        QFETCH(int, projector);
        QFETCH(bool, setting);
        QFETCH(bool, ticked);
        QFETCH(bool, macKnown);
        QFETCH(int, powerOns);
        QFETCH(QStringList, expected);
        ProjectorInfo& info = m_state->Projectors[projector];
        info.WakeOnLan = ticked;
        info.MACAddress = macKnown ? m_mac : QString();
        m_engine->setWakeOnLan({setting, 2s});
        if (!macKnown)
            QTest::ignoreMessage(QtWarningMsg,
                                 "PJ2 is powered on without waking it by LAN: no MAC address "
                                 "is known for 192.0.2.11");

        const CommandFrame& on = m_engine->commands().PowerOnCommand;
        for (int n = 0; n < powerOns; ++n)
            QVERIFY(EnqueueCommand(*m_state, projector, on));
        if (setting && ticked && macKnown) {
            // The packet is in while the projector has not had its power-on.
            QTRY_VERIFY_WITH_TIMEOUT(!m_packets.isEmpty(), Wait);
            QVERIFY2(simState(projector).contains(QLatin1String("power=0")),
                     qPrintable(simState(projector)));
        }
        QTRY_COMPARE_WITH_TIMEOUT(m_events.count(QStringLiteral("power-on %1").arg(projector)),
                                  powerOns, Wait);
        QTRY_VERIFY_WITH_TIMEOUT(IsQueueEmpty(*m_state, projector), Wait);
        QVERIFY(!simState(projector).contains(QLatin1String("power=0")));
        QCOMPARE(m_events, expected);
        for (const QByteArray& packet : std::as_const(m_packets))
            QCOMPARE(packet, MagicPacket(*MacAddressBytes(m_mac)));
    }

    // A flush drops the power-on with its hold: the next one is woken anew.
    void flushDropsHold() {
        m_state->Projectors[1].WakeOnLan = true;
        m_state->Projectors[1].MACAddress = m_mac;
        m_engine->setWakeOnLan({true, 2s});
        const CommandFrame& on = m_engine->commands().PowerOnCommand;
        QVERIFY(EnqueueCommand(*m_state, 1, on));
        QTRY_COMPARE_WITH_TIMEOUT(m_packets.size(), 1, Wait);
        m_engine->FlushProjectorQueue(1);
        QVERIFY(EnqueueCommand(*m_state, 1, on));
        QTRY_COMPARE_WITH_TIMEOUT(m_events.count(QStringLiteral("power-on 1")), 1, Wait);
        QCOMPARE(m_events, (QStringList{"hold 1", "packet", "hold 1", "packet", "power-on 1"}));
    }

    // The MAC address learnt for a ticked projector is kept in the settings;
    // an unticked one's is not.
    void learntMacKept() {
        m_state->Projectors[1].WakeOnLan = true;
        m_engine->startMacAddressPass();
        QTRY_VERIFY_WITH_TIMEOUT(!m_state->MacAcquiring &&
                                     !m_state->Projectors[1].MACAddress.isEmpty() &&
                                     !m_state->Projectors[2].MACAddress.isEmpty(),
                                 Wait);
        const QSettings s(m_settings->filePath(), QSettings::IniFormat);
        QCOMPARE(s.value(QStringLiteral("PJInfo/1/MACAddress")).toString(), m_mac);
        QVERIFY(!s.contains(QStringLiteral("PJInfo/2/MACAddress")));
    }
};

QTEST_GUILESS_MAIN(TestCommWake)
#include "test_comm_wake.moc"
