#include "support/TestHome.h"

#include "core/AppState.h"
#include "core/Fleet.h"
#include "core/SettingsStore.h"
#include "support/ProjectorRecords.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSettings>

#include <memory>

#include <sys/mount.h>
#include <sys/stat.h>

namespace {

// The models and the LAN port these tests save and read back.
Projector lanProjector(const QString& name, const QString& ip) {
    return LanProjector(name, ip, QStringLiteral("10023")).model(QStringLiteral("VX-5100N"));
}

Projector serialProjector(const QString& name, qint16 port) {
    return SerialProjector(name, port).model(QStringLiteral("VX-4200"));
}

void loadAll(const SettingsStore& store, AppState& state) {
    store.LoadConfiguration(state);
    store.LoadTree(state);
}

// One numbered change of the fleet: a group and 1 to 4 projectors whose
// names and node texts all carry the change's number.
void makeChange(AppState& state, int change) {
    ResetAllProjectors(state);
    ResetTree(state);
    const int group = AddGroupNode(state, QStringLiteral("G%1").arg(change), nullptr);
    for (int n = 1; n <= 1 + change % 4; ++n)
        AddProjectorNode(state, group,
                         lanProjector(QStringLiteral("C%1-%2").arg(change).arg(n),
                                      QStringLiteral("192.0.2.%1").arg(n)),
                         nullptr);
}

// The child process of the kill test: saves change after change until it
// is killed.
int saveForever(const QString& file) {
    const auto stateOwner = std::make_unique<AppState>();
    const SettingsStore store(file);
    for (int change = 1;; ++change) {
        makeChange(*stateOwner, change);
        if (!store.SaveTreeAndProjectors(*stateOwner))
            return 1;
    }
}

} // namespace

class TestSettingsStore : public QObject {
    Q_OBJECT

  private slots:
    void emptyStoreGivesDefaults() {
        TestHome home;
        const auto stateOwner = std::make_unique<AppState>();
        AppState& state = *stateOwner;
        state.ProgramFolder = home.path();
        state.Projectors[7].ProjectorName = QStringLiteral("left over");
        state.ProjectorCount = 9;
        loadAll(SettingsStore(home.settingsFile()), state);
        QCOMPARE(state.ProjectorCount, qint16(0));
        for (const ProjectorInfo& p : state.Projectors) {
            QVERIFY(p.ProjectorName.isEmpty());
            QCOMPARE(p.ConnectionKind, qint16(-1));
            QVERIFY(p.COMSettings.isEmpty() && p.PortNo.isEmpty());
        }
        QCOMPARE(NodeCount(state), 1);
        QCOMPARE(Node(state, 1).KeyName, QStringLiteral("rt"));
        QCOMPARE(Node(state, 1).Text, QStringLiteral("Lumora"));
        QCOMPARE(state.NodeProjector[1], qint16(-1));
        const MailSettings& m = state.Mail;
        QVERIFY(!m.MailSend && !m.LampAlarmSend && !m.FilterAlarmSend);
        QVERIFY(m.ErrorAlarmSend && m.CoverErrorSend && m.FanErrorSend && m.LampErrorSend &&
                m.TempErrorSend && m.AirFlowErrorSend && m.LampTimeOverSend && m.CoolErrorSend &&
                m.FilterErrorSend && m.OtherErrorSend && m.DisconnectSend);
        QCOMPARE(m.LampAlarmTime, qint16(2000));
        QCOMPARE(m.FilterAlarmTime, qint16(2000));
        QCOMPARE(state.Timing.StatusCheckInterval, 300);
        QCOMPARE(state.Timing.PingTimeout, 200);
        QCOMPARE(state.Timing.TcpTimeoutTime, 5000);
        QCOMPARE(state.Timing.CommTimeoutTime, 5000);
        QCOMPARE(state.ModelCount, qint16(0)); // no PJModel.txt
    }

    void projectorsAndTreeSurviveARestart() {
        TestHome home;
        const SettingsStore store(home.settingsFile());
        // Characters that mean something to INI files and the program's own
        // separators must come back unchanged.
        const QString oddName = QStringLiteral("[Hall]=A;B 'x' ü,\"q\" @1 %20 \\n");
        QStringList ids;
        {
            const auto stateOwner = std::make_unique<AppState>();
            AppState& state = *stateOwner;
            QString error;
            const int group = AddGroupNode(state, QStringLiteral("Hall [1]; east=ü"), &error);
            QVERIFY2(group > 0, qPrintable(error));
            QVERIFY(AddProjectorNode(state, group,
                                     lanProjector(oddName, QStringLiteral("10.0.0.5")), &error));
            QVERIFY(
                AddProjectorNode(state, 1, serialProjector(QStringLiteral("Lobby"), 3), &error));
            QVERIFY(store.SaveProjectors(state));
            QVERIFY(store.SaveTree(state));
            ids = {state.Projectors[1].ProjectorId, state.Projectors[2].ProjectorId};
        }
        const auto stateOwner = std::make_unique<AppState>();
        AppState& state = *stateOwner;
        state.ProgramFolder = home.path();
        loadAll(store, state);
        QCOMPARE(state.ProjectorCount, qint16(2));
        const ProjectorInfo& lan = state.Projectors[1];
        QCOMPARE(lan.ProjectorName, oddName);
        QCOMPARE(lan.ModelName, QStringLiteral("VX-5100N"));
        QCOMPARE(lan.ConnectionKind, ConnectionLan);
        QCOMPARE(lan.COMPort, qint16(0));
        QCOMPARE(lan.IPAddress, QStringLiteral("10.0.0.5"));
        QCOMPARE(lan.PortNo, QStringLiteral("10023"));
        QVERIFY(lan.MACAddress.isEmpty());
        const ProjectorInfo& serial = state.Projectors[2];
        QCOMPARE(serial.ConnectionKind, ConnectionSerial);
        QCOMPARE(serial.COMPort, qint16(3));
        QCOMPARE(serial.COMSettings, QStringLiteral("19200,n,8,1"));
        QCOMPARE((QStringList{lan.ProjectorId, serial.ProjectorId}), ids);

        QCOMPARE(NodeCount(state), 4);
        QCOMPARE(Node(state, 2).KeyName, QStringLiteral("g0"));
        QCOMPARE(Node(state, 2).Text, QStringLiteral("Hall [1]; east=ü"));
        QCOMPARE(Node(state, 3).KeyName, QStringLiteral("p0"));
        QCOMPARE(Node(state, 3).ParentKey, QStringLiteral("g0"));
        QCOMPARE(Node(state, 3).Text, oddName);
        QCOMPARE(Node(state, 4).ParentKey, QStringLiteral("rt"));
        QCOMPARE(state.NodeProjector[2], qint16(-1));
        QCOMPARE(state.NodeProjector[3], qint16(1));
        QCOMPARE(state.NodeProjector[4], qint16(2));
        QCOMPARE(state.NodeProjector[5], qint16(-1));
    }

    void savingAfterADeleteRenumbersWithoutGaps() {
        TestHome home;
        const SettingsStore store(home.settingsFile());
        const auto stateOwner = std::make_unique<AppState>();
        AppState& state = *stateOwner;
        QString error;
        for (int i = 1; i <= 4; ++i)
            QVERIFY(AddProjectorNode(
                state, 1, serialProjector(QStringLiteral("P%1").arg(i), qint16(i)), &error));
        QVERIFY(store.SaveProjectors(state) && store.SaveTree(state));
        const QString thirdId = state.Projectors[3].ProjectorId;
        DeleteProjectorNode(state, 3); // node 3 of 5, projector 2
        QVERIFY(store.SaveProjectors(state) && store.SaveTree(state));

        QSettings raw(home.settingsFile(), QSettings::IniFormat);
        raw.beginGroup(QStringLiteral("PJTree"));
        QCOMPARE(raw.childGroups(), (QStringList{"1", "2", "3", "4"}));
        QCOMPARE(raw.value(QStringLiteral("Node Count")).toString(), QStringLiteral("4"));
        raw.endGroup();
        raw.beginGroup(QStringLiteral("PJInfo"));
        QCOMPARE(raw.childGroups(), (QStringList{"1", "2", "3"}));
        raw.endGroup();

        const auto loadedOwner = std::make_unique<AppState>();

        AppState& loaded = *loadedOwner;
        loadAll(store, loaded);
        QCOMPARE(loaded.ProjectorCount, qint16(3));
        QCOMPARE(loaded.Projectors[2].ProjectorName, QStringLiteral("P3"));
        QCOMPARE(loaded.Projectors[2].COMPort, qint16(3));
        QCOMPARE(loaded.Projectors[2].ProjectorId, thirdId);
        QCOMPARE(Node(loaded, 3).Text, QStringLiteral("P3"));
        QCOMPARE(loaded.NodeProjector[3], qint16(2));
        QCOMPARE(loaded.NodeProjector[4], qint16(3));

        // Deleting the last one leaves PJNum 0 and no sub-keys.
        while (loaded.ProjectorCount > 0)
            DeleteProjectorNode(loaded, NodeOfProjector(loaded, loaded.ProjectorCount));
        QVERIFY(store.SaveProjectors(loaded));
        QSettings after(home.settingsFile(), QSettings::IniFormat);
        QCOMPARE(after.value(QStringLiteral("PJInfo/PJNum")).toString(), QStringLiteral("0"));
        after.beginGroup(QStringLiteral("PJInfo"));
        QVERIFY(after.childGroups().isEmpty());
    }

    void missingPortAndSerialSettingsTakeDefaults() {
        TestHome home;
        home.write(QStringLiteral("Norvik3.conf"),
                   "[PJInfo]\nPJNum=3\n"
                   "1\\ProjectorName=Lan\n1\\ConnectionKind=1\n1\\IPAddress=10.1.1.1\n"
                   "2\\ProjectorName=Serial\n2\\ConnectionKind=0\n2\\COMPort=2\n");
        const auto stateOwner = std::make_unique<AppState>();
        AppState& state = *stateOwner;
        SettingsStore(home.settingsFile()).LoadConfiguration(state);
        QCOMPARE(state.ProjectorCount, qint16(3));
        QCOMPARE(state.Projectors[1].PortNo, QStringLiteral("23"));
        QCOMPARE(state.Projectors[2].COMSettings, QStringLiteral("19200,n,8,1"));
        QCOMPARE(state.Projectors[2].COMPort, qint16(2));
        // Sub-key 3 is missing altogether: the slot keeps its plain defaults.
        QVERIFY(state.Projectors[3].PortNo.isEmpty());
        QVERIFY(state.Projectors[3].COMSettings.isEmpty());
        QCOMPARE(state.Projectors[3].ConnectionKind, qint16(-1));
    }

    // The protocol and the wake by LAN (with its MAC address) are kept per
    // record: a file of own-protocol projectors without it never gets the
    // keys, so it reads back and saves byte for byte as it was; a PJLink
    // record woken by LAN keeps them through a save, a load and a deletion
    // that moves it down the table.
    void protocolTravelsWithItsRecord() {
        TestHome home;
        const SettingsStore store(home.settingsFile());
        const auto stateOwner = std::make_unique<AppState>();
        AppState& state = *stateOwner;
        QString error;
        // Records as the projector dialog leaves them, every field set.
        ProjectorInfo serial = serialProjector(QStringLiteral("Own"), 1);
        serial.PortNo = DefaultPortNo;
        ProjectorInfo lan = lanProjector(QStringLiteral("Lan"), QStringLiteral("10.0.0.7"));
        lan.COMSettings = DefaultCOMSettings;
        QVERIFY(AddProjectorNode(state, 1, serial, &error));
        QVERIFY(AddProjectorNode(state, 1, lan, &error));
        // Learnt, but not kept for a projector that is not woken by LAN.
        state.Projectors[2].MACAddress = QStringLiteral("00:1A:2B:3C:4D:5E");
        QVERIFY(store.SaveTreeAndProjectors(state));
        const QByteArray ownOnly = home.read(QStringLiteral("Norvik3.conf"));
        for (const char* key : {"Protocol", "WakeOnLan", "MACAddress"})
            QVERIFY2(!ownOnly.contains(key), key);
        {
            const auto againOwner = std::make_unique<AppState>();
            loadAll(store, *againOwner);
            QVERIFY(!IsPJLink(againOwner->Projectors[1]) && !IsPJLink(againOwner->Projectors[2]));
            QVERIFY(store.SaveTreeAndProjectors(*againOwner));
            QCOMPARE(home.read(QStringLiteral("Norvik3.conf")), ownOnly);
        }

        ProjectorInfo pj = lanProjector(QStringLiteral("Hall PJLink"), "10.0.0.9");
        pj.Protocol = ProtocolPJLink;
        pj.PortNo = DefaultPJLinkPortNo;
        pj.WakeOnLan = true;
        QVERIFY(AddProjectorNode(state, 1, pj, &error));
        QCOMPARE(state.Projectors[3].Protocol, ProtocolPJLink);
        state.Projectors[3].MACAddress = QStringLiteral("00:1A:2B:3C:4D:5F");
        DeleteProjectorNode(state, NodeOfProjector(state, 1));
        QVERIFY(store.SaveTreeAndProjectors(state));
        const QByteArray saved = home.read(QStringLiteral("Norvik3.conf"));
        QVERIFY(saved.contains("2\\Protocol=PJLink") && saved.contains("2\\WakeOnLan=1"));
        QVERIFY(saved.contains("2\\MACAddress=00:1A:2B:3C:4D:5F"));
        const auto loadedOwner = std::make_unique<AppState>();
        AppState& loaded = *loadedOwner;
        loadAll(store, loaded);
        QCOMPARE(loaded.ProjectorCount, qint16(2));
        QCOMPARE(loaded.Projectors[1].Protocol, ProtocolNative);
        QCOMPARE(loaded.Projectors[2].Protocol, ProtocolPJLink);
        QCOMPARE(loaded.Projectors[2].ProjectorName, QStringLiteral("Hall PJLink"));
        QCOMPARE(loaded.Projectors[2].PortNo, QStringLiteral("4352"));
        QVERIFY(!loaded.Projectors[1].WakeOnLan && loaded.Projectors[1].MACAddress.isEmpty());
        QVERIFY(loaded.Projectors[2].WakeOnLan);
        QCOMPARE(loaded.Projectors[2].MACAddress, QStringLiteral("00:1A:2B:3C:4D:5F"));
    }

    void handWrittenProtocols_data() {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<bool>("pjlink");
        QTest::addColumn<QString>("port");
        QTest::newRow("absent") << QByteArray() << false << "23";
        QTest::newRow("empty") << QByteArray("1\\Protocol=\n") << false << "23";
        QTest::newRow("as written") << QByteArray("1\\Protocol=PJLink\n") << true << "4352";
        QTest::newRow("any case, blanks")
            << QByteArray("1\\Protocol=\" pjlink \"\n") << true << "4352";
        QTest::newRow("own port kept")
            << QByteArray("1\\Protocol=PJLINK\n1\\PortNo=14352\n") << true << "14352";
        // A value this version does not know reads as the own protocol.
        QTest::newRow("unknown") << QByteArray("1\\Protocol=Other\n") << false << "23";
    }

    void handWrittenProtocols() {
        QFETCH(QByteArray, lines);
        QFETCH(bool, pjlink);
        QFETCH(QString, port);
        TestHome home;
        home.write(QStringLiteral("Norvik3.conf"),
                   "[PJInfo]\nPJNum=1\n1\\ProjectorName=A\n1\\ConnectionKind=1\n"
                   "1\\IPAddress=10.1.1.1\n" +
                       lines);
        const auto stateOwner = std::make_unique<AppState>();
        AppState& state = *stateOwner;
        SettingsStore(home.settingsFile()).LoadConfiguration(state);
        QCOMPARE(IsPJLink(state.Projectors[1]), pjlink);
        QCOMPARE(state.Projectors[1].Protocol, pjlink ? ProtocolPJLink : ProtocolNative);
        QCOMPARE(state.Projectors[1].PortNo, port);
    }

    void longValuesAndClearedTextsComeBack() {
        TestHome home;
        const SettingsStore store(home.settingsFile());
        MailSettings mail;
        mail.Subject = QString(1200, QLatin1Char('s')) + QStringLiteral("ü;=[x]");
        mail.SMTPServer = QStringLiteral("mail.example.test:2525");
        mail.SendAddress[1] = QStringLiteral("a@example.test\tcc\tb@example.test");
        mail.SendAddress[10] = QStringLiteral("z@example.test");
        mail.CoverErrorText = QStringLiteral("Cover, open");
        mail.MailSend = true;
        mail.ErrorAlarmSend = false;
        mail.LampAlarmTime = 1500;
        QVERIFY(store.saveMailSettings(mail));
        const auto stateOwner = std::make_unique<AppState>();
        AppState& state = *stateOwner;
        store.LoadConfiguration(state);
        QCOMPARE(state.Mail.Subject, mail.Subject);
        QCOMPARE(state.Mail.SendAddress[1], mail.SendAddress[1]);
        QCOMPARE(state.Mail.SendAddress[10], mail.SendAddress[10]);
        QCOMPARE(state.Mail.CoverErrorText, mail.CoverErrorText);
        QVERIFY(state.Mail.MailSend);
        QVERIFY(!state.Mail.ErrorAlarmSend);
        QCOMPARE(state.Mail.LampAlarmTime, qint16(1500));

        mail.SMTPServer.clear();
        mail.SendAddress[10].clear();
        QVERIFY(store.saveMailSettings(mail));
        QVERIFY(store.writeMailText(QStringLiteral("CoverErrorText"), QString()));
        const auto restartedOwner = std::make_unique<AppState>();
        AppState& restarted = *restartedOwner;
        store.LoadConfiguration(restarted);
        QVERIFY(restarted.Mail.SMTPServer.isEmpty());
        QVERIFY(restarted.Mail.SendAddress[10].isEmpty());
        QVERIFY(restarted.Mail.CoverErrorText.isEmpty());
        QCOMPARE(restarted.Mail.SendAddress[1], mail.SendAddress[1]);
    }

    void singleValueWrites() {
        TestHome home;
        const SettingsStore store(home.settingsFile());
        QVERIFY(store.writeSetting(QStringLiteral("StatusCheckInterval"), QStringLiteral("45")));
        QVERIFY(store.writeMailFlag(QStringLiteral("LampAlarmSend"), true));
        QVERIFY(store.writeMailFlag(QStringLiteral("DisconnectSend"), false));
        QVERIFY(store.writeMailNumber(QStringLiteral("FilterAlarmTime"), 900));
        const auto stateOwner = std::make_unique<AppState>();
        AppState& state = *stateOwner;
        store.LoadConfiguration(state);
        QCOMPARE(state.Timing.StatusCheckInterval, 45);
        QVERIFY(state.Mail.LampAlarmSend);
        QVERIFY(!state.Mail.DisconnectSend);
        QCOMPARE(state.Mail.FilterAlarmTime, qint16(900));
        QSettings raw(home.settingsFile(), QSettings::IniFormat);
        QCOMPARE(raw.value(QStringLiteral("MailSetting/LampAlarmSend")).toString(),
                 QStringLiteral("1"));
        QCOMPARE(raw.value(QStringLiteral("MailSetting/DisconnectSend")).toString(),
                 QStringLiteral("0"));

        // The refresh dialog stores the interval as typed; a restart reads
        // back the seconds it set.
        QVERIFY(store.writeSetting(QStringLiteral("StatusCheckInterval"), QStringLiteral("12abc")));
        store.LoadConfiguration(state);
        QCOMPARE(state.Timing.StatusCheckInterval, 12);
        QVERIFY(store.writeSetting(QStringLiteral("StatusCheckInterval"), QStringLiteral("12.5")));
        store.LoadConfiguration(state);
        QCOMPARE(state.Timing.StatusCheckInterval, 12);
    }

    void handWrittenValuesFollowTheReadingRules() {
        TestHome home;
        home.write(QStringLiteral("Norvik3.conf"),
                   "[PJInfo]\nPJNum=1\n1\\ProjectorName=Room 1, left\n1\\COMSettings=9600,n,8,1\n"
                   "1\\ConnectionKind=70000\n1\\COMPort=two\n"
                   "[MailSetting]\nMailSend=2\nLampAlarmSend=-1\nFilterAlarmSend=yes\n"
                   "ErrorAlarmSend=0\nCoverErrorSend=\nLampAlarmTime=99999\nFilterAlarmTime=12x\n"
                   "MailSendKindFlag=2.6\n"
                   "[Setting]\nStatusCheckInterval=abc\nPingTimeout=-5\nTcpTimeoutTime= 7000 \n"
                   "CommTimeoutTime=0\n"
                   "[SerialPorts]\nCOM3=/dev/pts/7\n");
        const auto stateOwner = std::make_unique<AppState>();
        AppState& state = *stateOwner;
        const SettingsStore store(home.settingsFile());
        store.LoadConfiguration(state);
        const ProjectorInfo& p = state.Projectors[1];
        QCOMPARE(p.ProjectorName, QStringLiteral("Room 1,left"));
        QCOMPARE(p.COMSettings, QStringLiteral("9600,n,8,1"));
        QCOMPARE(p.ConnectionKind, qint16(-1));
        QCOMPARE(p.COMPort, qint16(0));
        QVERIFY(state.Mail.MailSend);
        QVERIFY(state.Mail.LampAlarmSend);
        QVERIFY(!state.Mail.FilterAlarmSend);
        QVERIFY(!state.Mail.ErrorAlarmSend);
        QVERIFY(state.Mail.CoverErrorSend); // empty counts as missing
        QCOMPARE(state.Mail.LampAlarmTime, qint16(2000));
        QCOMPARE(state.Mail.FilterAlarmTime, qint16(2000));
        QCOMPARE(state.Mail.MailSendKindFlag, qint16(3));
        QCOMPARE(state.Timing.StatusCheckInterval, 300);
        QCOMPARE(state.Timing.PingTimeout, 200);
        QCOMPARE(state.Timing.TcpTimeoutTime, 7000);
        QCOMPARE(state.Timing.CommTimeoutTime, 5000);
        QCOMPARE(store.serialDevice(3), QStringLiteral("/dev/pts/7"));
        QCOMPARE(store.serialDevice(1), QStringLiteral("/dev/ttyS0"));
    }

    void brokenTreesLoadWhatIsValid() {
        TestHome home;
        home.write(QStringLiteral("Norvik3.conf"),
                   "[PJInfo]\nPJNum=2\n1\\ProjectorName=A\n2\\ProjectorName=B\n"
                   "[PJTree]\nNode%20Count=9\n"
                   "1\\KeyName=rt\n1\\Text=Lumora\n1\\PJIndex=-1\n"
                   "2\\KeyName=g0\n2\\ParentKey=nowhere\n2\\Text=G\n2\\PJIndex=-1\n"
                   "3\\KeyName=x9\n3\\ParentKey=rt\n"
                   "4\\KeyName=p0\n4\\ParentKey=g0\n4\\Text=A\n4\\PJIndex=1\n"
                   "5\\KeyName=p1\n5\\ParentKey=p0\n5\\Text=B\n5\\PJIndex=2\n"
                   "6\\KeyName=p2\n6\\ParentKey=rt\n6\\Text=ghost\n6\\PJIndex=40\n"
                   "7\\KeyName=g0\n7\\ParentKey=rt\n7\\Text=repeat\n");
        const auto stateOwner = std::make_unique<AppState>();
        AppState& state = *stateOwner;
        const SettingsStore store(home.settingsFile());
        store.LoadConfiguration(state);
        store.LoadTree(state);
        QCOMPARE(NodeCount(state), 4);
        QCOMPARE(Node(state, 2).ParentKey, QStringLiteral("rt")); // parent pointed nowhere
        QCOMPARE(Node(state, 3).KeyName, QStringLiteral("p0"));
        QCOMPARE(state.NodeProjector[3], qint16(1));
        QCOMPARE(Node(state, 4).ParentKey, QStringLiteral("rt")); // a projector is no parent
        QCOMPARE(state.NodeProjector[4], qint16(2));
        QCOMPARE(state.NodeProjector[5], qint16(-1));
    }

    void garbageAndTruncatedFilesNeverStopALoad_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("binary") << QByteArray("\x00\xFF\xFE[[[==\n\x01\x02=\x03", 14);
        QTest::newRow("truncated")
            << QByteArray("[PJInfo]\nPJNum=3\n1\\ProjectorName=Kept\n2\\Projec");
        QTest::newRow("huge count")
            << QByteArray("[PJInfo]\nPJNum=30000\n[PJTree]\nNode%20Count=30000\n");
        QTest::newRow("negative count")
            << QByteArray("[PJInfo]\nPJNum=-4\n[PJTree]\nNode%20Count=-1\n");
    }

    void garbageAndTruncatedFilesNeverStopALoad() {
        QFETCH(QByteArray, bytes);
        TestHome home;
        home.write(QStringLiteral("Norvik3.conf"), bytes);
        const auto stateOwner = std::make_unique<AppState>();
        AppState& state = *stateOwner;
        const SettingsStore store(home.settingsFile());
        store.LoadConfiguration(state);
        store.LoadTree(state);
        QVERIFY(state.ProjectorCount >= 0 && state.ProjectorCount <= MaxProjectors);
        QVERIFY(NodeCount(state) >= 1);
        QCOMPARE(Node(state, 1).KeyName, QStringLiteral("rt"));
        if (QTest::currentDataTag() == QByteArray("truncated")) {
            QCOMPARE(state.ProjectorCount, qint16(3));
            QCOMPARE(state.Projectors[1].ProjectorName, QStringLiteral("Kept"));
        }
        QCOMPARE(state.Timing.StatusCheckInterval, 300);
    }

    // A process killed at any moment of its saves leaves a file whose tree
    // and projector table belong to the same change.
    void killedSavesLeaveOneChange() {
        TestHome home;
        int checked = 0;
        for (int kill = 0; kill < 100; ++kill) {
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("NORVIK3_SAVE_FOREVER"), home.settingsFile());
            child.setProcessEnvironment(env);
            child.start(QCoreApplication::applicationFilePath(), {});
            QVERIFY(child.waitForStarted());
            QTest::qWait(30 + QRandomGenerator::global()->bounded(60));
            child.kill();
            QVERIFY(child.waitForFinished());
            QCOMPARE(child.exitStatus(), QProcess::CrashExit);

            const auto stateOwner = std::make_unique<AppState>();
            AppState& state = *stateOwner;
            loadAll(SettingsStore(home.settingsFile()), state);
            if (state.ProjectorCount == 0)
                continue; // killed before its first save
            ++checked;
            QCOMPARE(NodeCount(state), 2 + state.ProjectorCount);
            const QString change = Node(state, 2).Text.mid(1);
            QCOMPARE(state.ProjectorCount, qint16(1 + change.toInt() % 4));
            for (int node = 3; node <= NodeCount(state); ++node) {
                const int p = ProjectorOfNode(state, node);
                QVERIFY(p >= 1);
                QCOMPARE(Node(state, node).Text, state.Projectors[p].ProjectorName);
                QVERIFY2(state.Projectors[p].ProjectorName.startsWith(QStringLiteral("C") + change +
                                                                      QLatin1Char('-')),
                         qPrintable(state.Projectors[p].ProjectorName + " in change " + change));
            }
        }
        QVERIFY(checked > 50);
    }

    // A count that cannot be read or lies outside its table never hides the
    // records that are stored, and the next save keeps them.
    void untrustworthyCountsKeepTheRecords_data() {
        QTest::addColumn<QByteArray>("count");
        QTest::newRow("too large") << QByteArray("100000");
        QTest::newRow("above the table") << QByteArray("300");
        QTest::newRow("negative") << QByteArray("-1");
        QTest::newRow("not a number") << QByteArray("many");
    }

    void untrustworthyCountsKeepTheRecords() {
        QFETCH(QByteArray, count);
        TestHome home;
        home.write(QStringLiteral("Norvik3.conf"),
                   "[PJInfo]\nPJNum=" + count +
                       "\n1\\ProjectorName=A\n2\\ProjectorName=B\n3\\ProjectorName=C\n"
                       "5\\ProjectorName=after a gap\n"
                       "[PJTree]\nNode%20Count=" +
                       count +
                       "\n1\\KeyName=rt\n1\\Text=Lumora\n"
                       "2\\KeyName=p0\n2\\ParentKey=rt\n2\\Text=A\n2\\PJIndex=1\n"
                       "3\\KeyName=p1\n3\\ParentKey=rt\n3\\Text=C\n3\\PJIndex=3\n");
        const SettingsStore store(home.settingsFile());
        const auto stateOwner = std::make_unique<AppState>();
        AppState& state = *stateOwner;
        loadAll(store, state);
        QCOMPARE(state.ProjectorCount, qint16(3));
        QCOMPARE(state.Projectors[3].ProjectorName, QStringLiteral("C"));
        QCOMPARE(NodeCount(state), 3);
        QCOMPARE(state.NodeProjector[3], qint16(3));
        QVERIFY(store.SaveTreeAndProjectors(state));
        const QSettings saved(home.settingsFile(), QSettings::IniFormat);
        QCOMPARE(saved.value(QStringLiteral("PJInfo/PJNum")).toString(), QStringLiteral("3"));
        QCOMPARE(saved.value(QStringLiteral("PJInfo/3/ProjectorName")).toString(),
                 QStringLiteral("C"));
        QCOMPARE(saved.value(QStringLiteral("PJTree/Node Count")).toString(), QStringLiteral("3"));
    }

    // Ids of a file as an older version or a hand edit left it: what is
    // missing or repeated is given on the first load and saved at once, so
    // that later loads find the same ids and write nothing.
    void storedIdsAreCompletedOnce_data() {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QList<bool>>("kept");
        const QString a = QStringLiteral("0d4e8b52-3f6a-4a7c-8e21-9b0c5d7f1a34");
        const QString b = QStringLiteral("6f1c2a9e-0b7d-4c1e-9a53-2d8e4f6a7b10");
        QTest::addRow("a file without ids")
            << QStringList{"", "", ""} << QList<bool>{false, false, false};
        QTest::addRow("a copied record") << QStringList{a, b, a} << QList<bool>{true, true, false};
        QTest::addRow("every id present") << QStringList{a, b} << QList<bool>{true, true};
    }

    void storedIdsAreCompletedOnce() {
        QFETCH(QStringList, stored);
        QFETCH(QList<bool>, kept);
        TestHome home;
        {
            QSettings raw(home.settingsFile(), QSettings::IniFormat);
            raw.setValue(QStringLiteral("PJInfo/PJNum"), QString::number(stored.size()));
            for (int n = 1; n <= stored.size(); ++n) {
                const QString g = QStringLiteral("PJInfo/%1/").arg(n);
                raw.setValue(g + "ProjectorName", QStringLiteral("P%1").arg(n));
                raw.setValue(g + "ConnectionKind", "1");
                if (!stored[n - 1].isEmpty())
                    raw.setValue(g + "ProjectorId", stored[n - 1]);
            }
        }
        // A save replaces the file, so a new inode means it was saved.
        const auto inode = [&] {
            struct stat info {};
            return ::stat(QFile::encodeName(home.settingsFile()).constData(), &info) == 0
                       ? info.st_ino
                       : ino_t(0);
        };
        const auto before = inode();
        const SettingsStore store(home.settingsFile());
        const auto first = std::make_unique<AppState>();
        store.LoadConfiguration(*first);
        QVERIFY(store.lastSaveError().isEmpty());
        QCOMPARE(inode() == before, !kept.contains(false));

        const QSettings raw(home.settingsFile(), QSettings::IniFormat);
        for (int n = 1; n <= stored.size(); ++n) {
            const ProjectorInfo& p = first->Projectors[n];
            QCOMPARE(p.ProjectorName, QStringLiteral("P%1").arg(n));
            QCOMPARE(p.ProjectorId == stored[n - 1], kept[n - 1]);
            QCOMPARE(ProjectorIndexOfId(*first, p.ProjectorId), n);
            QCOMPARE(raw.value(QStringLiteral("PJInfo/%1/ProjectorId").arg(n)).toString(),
                     p.ProjectorId);
        }
        const auto saved = inode();
        const auto second = std::make_unique<AppState>();
        store.LoadConfiguration(*second);
        QCOMPARE(inode(), saved);
        for (int n = 1; n <= stored.size(); ++n)
            QCOMPARE(second->Projectors[n].ProjectorId, first->Projectors[n].ProjectorId);
    }

    // On a full disk the ids cannot be saved: the fleet still loads whole,
    // with ids, the file stays as it was and the failure is reported.
    void idsThatCannotBeSavedKeepTheFleet() {
        TestHome home;
        const QString folder = home.file(QStringLiteral("full"));
        QVERIFY(QDir().mkpath(folder));
        const QByteArray mountPoint = QFile::encodeName(folder);
        if (::mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=16k") != 0)
            QSKIP("a tmpfs cannot be mounted here");
        const auto unmount = qScopeGuard([&] { ::umount2(mountPoint.constData(), MNT_DETACH); });
        const QString file = folder + QStringLiteral("/Norvik3.conf");
        QByteArray text = "[PJInfo]\nPJNum=40\n";
        for (int n = 1; n <= 40; ++n)
            text += QByteArray::number(n) + "\\ProjectorName=Projector " + QByteArray::number(n) +
                    "\n" + QByteArray::number(n) + "\\ConnectionKind=1\n";
        QFile settings(file);
        QVERIFY(settings.open(QIODevice::WriteOnly) && settings.write(text) == text.size());
        settings.close();
        QFile filler(folder + QStringLiteral("/filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly));
        while (filler.write(QByteArray(512, 'x')) > 0 && filler.flush()) {
        }
        filler.close();

        SettingsStore store(file);
        const auto stateOwner = std::make_unique<AppState>();
        AppState& state = *stateOwner;
        store.setHealth(&state.Health);
        store.LoadConfiguration(state);
        QCOMPARE(state.ProjectorCount, qint16(40));
        for (int n = 1; n <= 40; ++n) {
            QCOMPARE(state.Projectors[n].ProjectorName, QStringLiteral("Projector %1").arg(n));
            QCOMPARE(ProjectorIndexOfId(state, state.Projectors[n].ProjectorId), n);
        }
        QVERIFY(!store.lastSaveError().isEmpty());
        QVERIFY(state.Health.isActive(HealthCondition::SaveFailing));
        QVERIFY(settings.open(QIODevice::ReadOnly));
        QCOMPARE(settings.readAll(), text);
    }

    void saveReplacesTheFileAtomically() {
        TestHome home;
        const SettingsStore store(home.settingsFile());
        const auto stateOwner = std::make_unique<AppState>();
        AppState& state = *stateOwner;
        QString error;
        QVERIFY(AddProjectorNode(state, 1, serialProjector(QStringLiteral("One"), 1), &error));
        QVERIFY(store.SaveProjectors(state));
        // A save goes through a new file renamed over the old one: the old
        // inode is never written in place.
        QFile before(home.settingsFile());
        QVERIFY(before.open(QIODevice::ReadOnly));
        const QByteArray old = before.readAll();
        QVERIFY(AddProjectorNode(state, 1, serialProjector(QStringLiteral("Two"), 2), &error));
        QVERIFY(store.SaveProjectors(state));
        before.seek(0);
        QCOMPARE(before.readAll(), old);
        QVERIFY(home.read(QStringLiteral("Norvik3.conf")).contains("Two"));
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (const QString file = qEnvironmentVariable("NORVIK3_SAVE_FOREVER"); !file.isEmpty())
        return saveForever(file);
    TestSettingsStore test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "test_settings_store.moc"
