// The program itself, started as a user or a service manager would: stop
// signals, the private temporary folder, leftovers of an interrupted save,
// a program folder that cannot be made and a second start.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

constexpr int Wait = 20000;

QString program() {
    return qEnvironmentVariable("NORVIK3_BIN_DIR") + QStringLiteral("/norvik3");
}

void startProgram(QProcess& process, const QString& home, const QString& tmp) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("NORVIK3_HOME"), home);
    env.insert(QStringLiteral("TMPDIR"), tmp);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.start(program(), {});
}

QStringList privateFolders(const QString& tmp) {
    return QDir(tmp).entryList({QStringLiteral("norvik3-*")}, QDir::Dirs);
}

void touch(const QString& path) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

} // namespace

class TestAppRun : public QObject {
    Q_OBJECT

  private slots:
    void stopSignalsEndInOrder_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }

    void stopSignalsEndInOrder() {
        QFETCH(int, signalNumber);
        QTemporaryDir home;
        QTemporaryDir tmp;
        // The staging copy of a save cut off by a crash; a name that merely
        // ends in six characters may be the operator's own copy.
        const QString leftover =
            home.filePath(QStringLiteral("Norvik3.conf.norvik3-save-123-0123456789abcdef"));
        const QString unrelated = home.filePath(QStringLiteral("Norvik3.conf.Ab12Cd"));
        touch(leftover);
        touch(unrelated);

        QProcess run;
        startProgram(run, home.path(), tmp.path());
        QVERIFY2(run.waitForStarted(), qPrintable(run.errorString()));
        QTRY_COMPARE_WITH_TIMEOUT(privateFolders(tmp.path()).size(), 1, Wait);
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(leftover), Wait);
        QVERIFY(QFile::exists(unrelated));

        QVERIFY(::kill(pid_t(run.processId()), signalNumber) == 0);
        QVERIFY(run.waitForFinished(Wait));
        QCOMPARE(run.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.exitCode(), 0);
        QCOMPARE(privateFolders(tmp.path()), QStringList());
    }

    void secondStartEndsSilently() {
        QTemporaryDir home;
        QTemporaryDir tmp;
        QProcess first;
        startProgram(first, home.path(), tmp.path());
        QTRY_COMPARE_WITH_TIMEOUT(privateFolders(tmp.path()).size(), 1, Wait);

        QProcess second;
        startProgram(second, home.path(), tmp.path());
        QVERIFY(second.waitForFinished(Wait));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(!second.readAllStandardError().contains("norvik3:"));
        QCOMPARE(privateFolders(tmp.path()).size(), 1);

        QVERIFY(::kill(pid_t(first.processId()), SIGTERM) == 0);
        QVERIFY(first.waitForFinished(Wait));
        QCOMPARE(first.exitCode(), 0);
    }

    void uncreatableProgramFolderIsReported() {
        QTemporaryDir tmp;
        const QString blocker = tmp.filePath(QStringLiteral("a-file"));
        touch(blocker);
        const QString home = blocker + QStringLiteral("/home");

        QProcess run;
        startProgram(run, home, tmp.path());
        QVERIFY(run.waitForFinished(Wait));
        QCOMPARE(run.exitStatus(), QProcess::NormalExit);
        QVERIFY(run.exitCode() != 0);
        const QString error = QString::fromLocal8Bit(run.readAllStandardError());
        QVERIFY2(error.contains(QStringLiteral("cannot create the program folder ") + home),
                 qPrintable(error));
        QCOMPARE(privateFolders(tmp.path()), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestAppRun)
#include "test_app_run.moc"
