#include "TestHome.h"

#include "core/AppState.h"
#include "core/Startup.h"
#include "log/CommLogs.h"
#include "log/LogFileMaker.h"

#include <QDir>
#include <QFileInfo>

#include <memory>

namespace {

struct Run {
    std::unique_ptr<AppState> state = std::make_unique<AppState>();
    std::unique_ptr<ProgramSession> session = std::make_unique<ProgramSession>(*state);
};

} // namespace

class TestStartup : public QObject {
    Q_OBJECT

  private slots:
    void startPreparesTheProgramFolder() {
        TestHome home;
        home.write(QStringLiteral("Norvik3.conf"),
                   "[PJInfo]\nPJNum=1\n1\\ProjectorName=Hall\n1\\ConnectionKind=1\n"
                   "[Setting]\nTcpTimeoutTime=1234\n");
        Run run;
        AppState& s = *run.state;
        s.clock.set(QDateTime(QDate(2024, 3, 17), QTime(9, 30)));
        QVERIFY(run.session->start({}));

        QCOMPARE(s.ProgramFolder, home.path());
        QCOMPARE(s.SettingsFile, home.settingsFile());
        QVERIFY(QFileInfo(home.file(QStringLiteral("Schedule"))).isDir());
        QCOMPARE(s.CommLogEnabled, qint16(0));
        QVERIFY(!s.CommLog);
        QVERIFY(s.MailLog);
        QCOMPARE(s.MailLog->Path(), home.path() + QStringLiteral("/MailLog/"));
        QCOMPARE(s.StartDate, QDate(2024, 3, 17));
        QCOMPARE(s.CalendarMonth, QDate(2024, 3, 1));
        QVERIFY(!s.MacAcquiring);

        // Temporary files live in a folder only this user can enter.
        const QFileInfo temp(s.TempFolder);
        QVERIFY(temp.isDir());
        QCOMPARE(temp.permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup |
                                       QFile::WriteOther | QFile::ExeGroup | QFile::ExeOther),
                 QFile::Permissions());
        QCOMPARE(s.PingFile, s.TempFolder + QStringLiteral("/Ping.txt"));
        QCOMPARE(s.ArpFile, s.TempFolder + QStringLiteral("/Arp.txt"));

        QCOMPARE(s.LocaleId, QLocale::system().name());
        QVERIFY(!s.ShortTimeFormat.contains(QStringLiteral("s")));
        QVERIFY(!s.ShortTimeFormat.isEmpty());

        // The configuration and the shipped sample models are loaded.
        QCOMPARE(s.ProjectorCount, qint16(1));
        QCOMPARE(s.Projectors[1].PortNo, QStringLiteral("23"));
        QCOMPARE(s.Timing.TcpTimeoutTime, 1234);
        QVERIFY(QFileInfo::exists(home.file(QStringLiteral("PJModel.txt"))));
        QVERIFY(s.ModelCount >= 3);

        WriteMailLog(s, QStringLiteral("mail line"));
        QVERIFY(home.read(QStringLiteral("MailLog/20240317.log")).contains("],mail line\r\n"));

        const QString tempFolder = s.TempFolder;
        run.session.reset();
        QVERIFY(!QFileInfo::exists(tempFolder));
    }

    void onlyTheExactWordSwitchesTheCommLogOn_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("DON") << QStringList{"DON"} << true;
        QTest::newRow("lower case") << QStringList{"don"} << false;
        QTest::newRow("trailing blank") << QStringList{"DON "} << false;
        QTest::newRow("two words") << QStringList{"DON", "x"} << false;
        QTest::newRow("other") << QStringList{"-v"} << false;
        QTest::newRow("none") << QStringList{} << false;
    }

    void onlyTheExactWordSwitchesTheCommLogOn() {
        QFETCH(QStringList, arguments);
        QFETCH(bool, enabled);
        TestHome home;
        Run run;
        AppState& s = *run.state;
        QVERIFY(run.session->start(arguments));
        QCOMPARE(s.CommLogEnabled, qint16(enabled ? 1 : 0));
        QCOMPARE(bool(s.CommLog), enabled);
        WriteCommLog(s, QStringLiteral("TCP(1)_Connect:10.0.0.1"));
        const QStringList logs = QDir(home.file(QStringLiteral("Log")))
                                     .entryList({QStringLiteral("*.log")}, QDir::Files);
        QCOMPARE(logs.size(), enabled ? 1 : 0);
    }

    void aSecondStartWithTheSameFolderEnds() {
        TestHome home;
        Run first;
        QVERIFY(first.session->start({}));
        Run second;
        QVERIFY(!second.session->start({}));
        {
            TestHome other;
            Run beside;
            QVERIFY(beside.session->start({}));
        }
        first.session.reset();
        Run third;
        QVERIFY(third.session->start({}));
    }

    void anExistingModelFileIsKept() {
        TestHome home;
        home.write(QStringLiteral("PJModel.txt"), "[MODEL]\nNum=1\nModel_001=Own\n");
        Run run;
        QVERIFY(run.session->start({}));
        QCOMPARE(run.state->ModelCount, qint16(1));
        QCOMPARE(run.state->Models[1].Name, QStringLiteral("Own"));
        QCOMPARE(home.read(QStringLiteral("PJModel.txt")),
                 QByteArray("[MODEL]\nNum=1\nModel_001=Own\n"));
        QCOMPARE(SampleModelFile().isEmpty(), false);
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "test_startup.moc"
