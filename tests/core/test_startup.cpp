#include "support/TestHome.h"

#include "core/AppState.h"
#include "core/CommLogs.h"
#include "core/Startup.h"
#include "log/LogFileMaker.h"
#include "platform/SafeFile.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <memory>

#include <sys/stat.h>

namespace {

struct Run {
    std::unique_ptr<AppState> state = std::make_unique<AppState>();
    std::unique_ptr<ProgramSession> session = std::make_unique<ProgramSession>(*state);
};

enum class Special { Fifo, LinkToZero, Folder };

// Puts a FIFO, a link to /dev/zero or a folder where a file is expected.
bool makeSpecial(const QString& path, Special kind) {
    const QByteArray name = QFile::encodeName(path);
    switch (kind) {
    case Special::Fifo:
        return ::mkfifo(name.constData(), 0600) == 0;
    case Special::LinkToZero:
        return QFile::link(QStringLiteral("/dev/zero"), path);
    case Special::Folder:
        return QDir().mkpath(path);
    }
    return false;
}

// A group node "Hall", so that the schedule runner looks for its schedule.
const QByteArray HallTree = "[PJTree]\nNode%20Count=2\n2\\KeyName=g1\n2\\ParentKey=rt\n"
                            "2\\Text=Hall\n";

} // namespace

Q_DECLARE_METATYPE(Special)

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

    // The settings file is made readable by its owner only: it may hold the
    // status endpoint's token.
    void newSettingsFileIsPrivate() {
        TestHome home;
        Run run;
        QVERIFY(run.session->start({}));
        QVERIFY(QFileInfo(home.settingsFile()).isFile());
        QCOMPARE(QFileInfo(home.settingsFile()).permissions() &
                     ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser),
                 QFile::Permissions());
    }

    // Only the copies that our own saves leave behind are removed; files of
    // similar names that someone made are kept.
    void startRemovesOnlyInterruptedSaves() {
        TestHome home;
        QVERIFY(QDir().mkpath(home.file(QStringLiteral("Schedule"))));
        const QString staging = TemporaryNameFor(QStringLiteral("Norvik3.conf"));
        const QStringList ours = {
            staging,
            staging + QStringLiteral(".lock"),
            staging + QStringLiteral(".aB3dE9"),
            TemporaryNameFor(staging),
            TemporaryNameFor(QStringLiteral("Norvik3.smtp-password")),
            TemporaryNameFor(QStringLiteral("PJModel.txt")),
            QStringLiteral("Schedule/") + TemporaryNameFor(QStringLiteral("default.sch")),
        };
        const QStringList others = {
            QStringLiteral("Norvik3.conf.backup"),
            QStringLiteral("Norvik3.conf.before"),
            QStringLiteral("Norvik3.conf.261208"),
            QStringLiteral("Norvik3.conf.aB3dE9"),
            QStringLiteral("Norvik3.conf.norvik3-save-12-0123456789ABCDEF"),
            QStringLiteral("Norvik3.conf.norvik3-save-12-0123456789abcdef0"),
            staging + QStringLiteral(".old"),
            QStringLiteral("Other.conf") + staging.mid(QStringLiteral("Norvik3.conf").size()),
            QStringLiteral("PJModel.txt.before"),
            QStringLiteral("Schedule/default.sch.backup"),
            QStringLiteral("Schedule/default.sch.norvik3-save-1-xyz"),
        };
        for (const QString& name : ours + others)
            home.write(name, "kept?\n");
        Run run;
        QVERIFY(run.session->start({}));
        for (const QString& name : ours)
            QVERIFY2(!QFileInfo::exists(home.file(name)), qPrintable(name));
        for (const QString& name : others)
            QVERIFY2(home.read(name) == "kept?\n", qPrintable(name));
    }

    void specialFilesNeverHangOrStopTheStart_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<Special>("kind");
        QTest::addColumn<bool>("starts");
        QTest::addColumn<QString>("reason");
        const QString settings = QStringLiteral("Norvik3.conf");
        const QString model = QStringLiteral("PJModel.txt");
        const QString schedule = QStringLiteral("Schedule/default.sch");
        const QString notRegular = QStringLiteral("it is not a regular file");
        const QString folder = QStringLiteral("it is a folder");
        QTest::newRow("settings FIFO") << settings << Special::Fifo << false << notRegular;
        QTest::newRow("settings /dev/zero")
            << settings << Special::LinkToZero << false << notRegular;
        QTest::newRow("settings folder") << settings << Special::Folder << false << folder;
        QTest::newRow("model FIFO") << model << Special::Fifo << true << notRegular;
        QTest::newRow("model /dev/zero") << model << Special::LinkToZero << true << notRegular;
        QTest::newRow("model folder") << model << Special::Folder << true << folder;
        QTest::newRow("schedule FIFO") << schedule << Special::Fifo << true << notRegular;
        QTest::newRow("schedule /dev/zero")
            << schedule << Special::LinkToZero << true << notRegular;
    }

    // Through the service's real start: the file is named with the reason,
    // a bad settings file ends the start, the others let it run on.
    void specialFilesNeverHangOrStopTheStart() {
        QFETCH(QString, file);
        QFETCH(Special, kind);
        QFETCH(bool, starts);
        QFETCH(QString, reason);
        TestHome home;
        QVERIFY(QDir().mkpath(home.file(QStringLiteral("Schedule"))));
        if (!file.startsWith(QLatin1String("Norvik3.conf")))
            home.write(QStringLiteral("Norvik3.conf"), HallTree);
        QVERIFY(makeSpecial(home.file(file), kind));

        QProcess service;
        service.setProcessChannelMode(QProcess::SeparateChannels);
        service.setReadChannel(QProcess::StandardError);
        service.start(qEnvironmentVariable("NORVIK3_BIN_DIR") + QStringLiteral("/norvik3d"),
                      {QStringLiteral("--no-schedule")});
        QVERIFY(service.waitForStarted());
        QByteArray said;
        // Until it has started or ended; a start that hangs meets the limit.
        QDeadlineTimer limit(60'000);
        while (!said.contains("started on") && service.state() != QProcess::NotRunning &&
               !limit.hasExpired()) {
            service.waitForReadyRead(int(limit.remainingTime()));
            said += service.readAllStandardError();
        }
        const bool started = said.contains("started on");
        if (service.state() != QProcess::NotRunning) {
            if (started)
                service.terminate();
            else
                service.kill();
            service.waitForFinished();
        }
        said += service.readAllStandardError();
        QVERIFY2(started == starts, said.constData());
        if (!starts) {
            QCOMPARE(service.exitStatus(), QProcess::NormalExit);
            QCOMPARE(service.exitCode(), 1);
        }
        QVERIFY2(said.contains(home.file(file).toUtf8()), said.constData());
        QVERIFY2(said.contains(reason.toUtf8()), said.constData());
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "test_startup.moc"
