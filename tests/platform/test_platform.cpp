#include "platform/Paths.h"
#include "platform/ProfileFile.h"
#include "platform/SingleInstance.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// Child mode: hold the lock of a folder until stdin closes; prints whether
// the lock was taken.
int holdLock(const QString& folder) {
    SingleInstance instance;
    const bool locked = instance.acquire(folder);
    std::printf(locked ? "locked\n" : "busy\n");
    std::fflush(stdout);
    if (locked)
        std::getchar();
    return 0;
}

} // namespace

class TestPlatform : public QObject {
    Q_OBJECT

  private slots:
    void programFolderAndSettingsFileFollowNorvikHome() {
        QTemporaryDir home;
        qputenv("NORVIK3_HOME", home.path().toUtf8());
        QCOMPARE(ProgramFolderPath(), home.path());
        QCOMPARE(SettingsFilePath(), home.path() + QStringLiteral("/Norvik3.conf"));
        qputenv("NORVIK3_HOME", "");
        QVERIFY(ProgramFolderPath().endsWith(QStringLiteral("/KESTRAN/Norvik3")));
        QVERIFY(SettingsFilePath().endsWith(QStringLiteral("/KESTRAN/Norvik3.conf")));
        qunsetenv("NORVIK3_HOME");
    }

    void profileReadingRules() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("p.txt"));
        writeFile(path, "\xEF\xBB\xBFName=before any section\r\n[Model]\r\nNum =  12abc \r\n"
                        "no equals sign here\r\nName=first\r\nname=second\r\nSigned=-7\r\n"
                        "Word=abc\r\nHuge=99999999999\r\n"
                        "[other]\nName=other\n[MODEL]\nName=late duplicate section\n");
        const ProfileData p = ProfileFile(path).read();
        QCOMPARE(p.readString(QStringLiteral("MODEL"), QStringLiteral("NAME")),
                 QStringLiteral("first"));
        QCOMPARE(p.readInt(QStringLiteral("model"), QStringLiteral("num")), 12);
        QCOMPARE(p.readInt(QStringLiteral("model"), QStringLiteral("Signed")), -7);
        QCOMPARE(p.readInt(QStringLiteral("model"), QStringLiteral("Word"), 5), 0);
        QCOMPARE(p.readInt(QStringLiteral("model"), QStringLiteral("Missing"), 5), 5);
        QCOMPARE(p.readInt(QStringLiteral("model"), QStringLiteral("Huge"), 5), 5);
        QCOMPARE(p.readString(QStringLiteral("other"), QStringLiteral("name")),
                 QStringLiteral("other"));
        QCOMPARE(
            p.readString(QStringLiteral("nowhere"), QStringLiteral("name"), QStringLiteral("fb")),
            QStringLiteral("fb"));
        QCOMPARE(p.readSection(QStringLiteral("model")),
                 (QStringList{QStringLiteral("Num=12abc"), QStringLiteral("Name=first"),
                              QStringLiteral("name=second"), QStringLiteral("Signed=-7"),
                              QStringLiteral("Word=abc"), QStringLiteral("Huge=99999999999")}));
        QCOMPARE(p.readSectionLines(QStringLiteral("other")), QStringList{"Name=other"});
        QVERIFY(p.readSection(QStringLiteral("nowhere")).isEmpty());

        const ProfileData missing = ProfileFile(dir.filePath(QStringLiteral("missing.txt"))).read();
        QCOMPARE(missing.readInt(QStringLiteral("MODEL"), QStringLiteral("Num"), 3), 3);
        QVERIFY(missing.readSectionLines(QStringLiteral("MODEL")).isEmpty());
    }

    // Names are compared case-folded and without the blanks around them, on
    // both sides: in the file and in the question.
    void namesMatchWithoutCaseAndOuterBlanks() {
        const ProfileData p = ProfileData::parse(
            QStringLiteral("[ Lobby]\nkey=lobby\n[Hall  A ]\n  Some Key  = a b \n"
                           "[Hall A]\nkey=one blank\n[BÜHNE]\nKEY=stage\n"
                           "[\U00010400 Deseret]\n\U00010400=upper\n[Hall]x]\nkey=bracket\n"
                           "[]\nkey=empty name\n")
                .toUtf8());
        QCOMPARE(p.readString(QStringLiteral(" Lobby"), QStringLiteral("key")),
                 QStringLiteral("lobby"));
        QCOMPARE(p.readString(QStringLiteral("lobby  "), QStringLiteral(" KEY ")),
                 QStringLiteral("lobby"));
        QCOMPARE(p.readString(QStringLiteral("hall  a"), QStringLiteral("some key")),
                 QStringLiteral("a b"));
        QCOMPARE(p.readString(QStringLiteral("Hall A"), QStringLiteral("key")),
                 QStringLiteral("one blank")); // inner blanks count
        QCOMPARE(p.readString(QStringLiteral("bühne"), QStringLiteral("key")),
                 QStringLiteral("stage"));
        QCOMPARE(p.readString(QStringLiteral("\U00010428 deseret"), QStringLiteral("\U00010428")),
                 QStringLiteral("upper"));
        QCOMPARE(p.readString(QStringLiteral("Hall]x"), QStringLiteral("key")),
                 QStringLiteral("bracket"));
        QCOMPARE(p.readString(QStringLiteral("Hall"), QStringLiteral("key")), QString());
        QCOMPARE(p.readString(QStringLiteral(" "), QStringLiteral("key")),
                 QStringLiteral("empty name"));
    }

    void writeSectionReplacesOnlyThatSection() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("s.sch"));
        const ProfileFile p(path);
        QVERIFY(
            p.writeSection(QStringLiteral("A"), {QStringLiteral("1=x"), QStringLiteral("2=y")}));
        QVERIFY(p.writeSection(QStringLiteral("B"), {QStringLiteral("k=[v]=;'ü")}));
        QVERIFY(p.writeSection(QStringLiteral("a"), {QStringLiteral("3=z")}));
        QCOMPARE(p.read().readSection(QStringLiteral("A")), QStringList{QStringLiteral("3=z")});
        QCOMPARE(p.read().readString(QStringLiteral("B"), QStringLiteral("k")),
                 QStringLiteral("[v]=;'ü"));
        QCOMPARE(p.read().readString(QStringLiteral("A"), QStringLiteral("1")), QString());
        QVERIFY(p.writeSection(QStringLiteral("A"), {}));
        QVERIFY(p.read().readSection(QStringLiteral("A")).isEmpty());
        QCOMPARE(p.read().readString(QStringLiteral("B"), QStringLiteral("k")),
                 QStringLiteral("[v]=;'ü"));
    }

    void sectionNamesKeepBracketsAndNotes() {
        QTemporaryDir dir;
        const ProfileFile p(dir.filePath(QStringLiteral("s.sch")));
        const QString odd = QStringLiteral("Hall [2]=;'ß");
        QVERIFY(p.writeSection(odd, {QStringLiteral("08:00=Power ON")}));
        QVERIFY(p.writeSection(QStringLiteral("Other"), {QStringLiteral("09:00=Power OFF")}));
        QCOMPARE(p.read().readSection(odd), QStringList{QStringLiteral("08:00=Power ON")});
        QCOMPARE(p.read().readSection(QStringLiteral("Hall [2")), QStringList{});

        QVERIFY(p.writeSection(odd, {QStringLiteral("a note"), QStringLiteral("07:00=Power ON")}));
        const ProfileData data = p.read();
        QCOMPARE(data.readSectionLines(odd),
                 (QStringList{QStringLiteral("a note"), QStringLiteral("07:00=Power ON")}));
        QCOMPARE(data.readSection(odd), QStringList{QStringLiteral("07:00=Power ON")});
        QCOMPARE(data.readSectionLines(QStringLiteral("Other")),
                 QStringList{QStringLiteral("09:00=Power OFF")});
    }

    // The writer finds the section the reader finds: a name with blanks
    // around it is written once, as the reader takes it back, and a header
    // that an earlier version wrote with the blanks is replaced in place.
    void writerAndReaderAgreeOnNames() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("s.sch"));
        writeFile(path, "[ Hall ]\r\n07:00=Power ON\r\n[Tail]\r\n10:00=Power OFF\r\n");
        const ProfileFile p(path);
        QVERIFY(p.writeSection(QStringLiteral("Hall"), {QStringLiteral("08:00=Power ON")}));
        QVERIFY(p.writeSection(QStringLiteral(" Lobby"), {QStringLiteral("09:00=Power ON")}));
        QVERIFY(p.writeSection(QStringLiteral(" Lobby"), {QStringLiteral("09:00=Power ON"),
                                                          QStringLiteral("09:30=Power OFF")}));
        QVERIFY(p.writeSection(QStringLiteral("LOBBY "),
                               {QStringLiteral("09:00=Power ON"), QStringLiteral("09:30=Power OFF"),
                                QStringLiteral("10:00=Power OFF")}));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("[ Hall ]\n08:00=Power ON\n[Tail]\n10:00=Power OFF\n"
                                            "[Lobby]\n09:00=Power ON\n09:30=Power OFF\n"
                                            "10:00=Power OFF\n"));
        QCOMPARE(p.read().readSectionLines(QStringLiteral(" Lobby")).size(), 3);
    }

    void secondLockOnTheSameFolderFails() {
        QTemporaryDir a;
        QTemporaryDir b;
        SingleInstance first;
        SingleInstance second;
        SingleInstance other;
        QVERIFY(first.acquire(a.path()));
        QVERIFY(!second.acquire(a.path()));
        QVERIFY(other.acquire(b.path()));
    }

    void lockIsFreedWithItsHolder() {
        QTemporaryDir a;
        {
            SingleInstance first;
            QVERIFY(first.acquire(a.path()));
        }
        SingleInstance again;
        QVERIFY(again.acquire(a.path()));
    }

    // A file left by a holder that died, whatever it says: the pid in it
    // may belong to a live process by now, even this one.
    void staleLockFileNeverBlocks_data() {
        QTest::addColumn<QByteArray>("content");
        const QByteArray host = QSysInfo::machineHostName().toUtf8();
        QTest::newRow("pid reused by this program")
            << QByteArray::number(QCoreApplication::applicationPid()) + '\n' +
                   QCoreApplication::applicationName().toUtf8() + '\n' + host + '\n';
        QTest::newRow("pid reused by init") << "1\nnorvik3d\n" + host + '\n';
        QTest::newRow("cut off") << QByteArray("4");
        QTest::newRow("empty") << QByteArray();
    }

    void staleLockFileNeverBlocks() {
        QFETCH(QByteArray, content);
        QTemporaryDir a;
        writeFile(a.filePath(QStringLiteral("norvik3.lock")), content);
        SingleInstance instance;
        QVERIFY(instance.acquire(a.path()));
        SingleInstance second;
        QVERIFY(!second.acquire(a.path()));
        QCOMPARE(second.outcome(), SingleInstance::Outcome::Held);
        QCOMPARE(second.detail(), QCoreApplication::applicationName());
    }

    void lockHoldsAcrossProcesses_data() {
        QTest::addColumn<bool>("killed");
        QTest::newRow("holder ends") << false;
        QTest::newRow("holder killed") << true;
    }

    void lockHoldsAcrossProcesses() {
        QFETCH(bool, killed);
        QTemporaryDir a;
        QTemporaryDir b;
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("NORVIK3_LOCK_CHILD"), a.path());
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForStarted(30000));
        QTRY_VERIFY_WITH_TIMEOUT(child.canReadLine(), 30000);
        QCOMPARE(child.readLine().trimmed(), QByteArray("locked"));

        SingleInstance here;
        QVERIFY(!here.acquire(a.path()));
        QCOMPARE(here.outcome(), SingleInstance::Outcome::Held);
        QCOMPARE(here.detail(), QCoreApplication::applicationName());
        SingleInstance elsewhere;
        QVERIFY(elsewhere.acquire(b.path()));

        if (killed)
            child.kill();
        else
            child.closeWriteChannel();
        QVERIFY(child.waitForFinished(30000));
        QVERIFY(here.acquire(a.path()));
    }
};

int main(int argc, char** argv) {
    const QString child = qEnvironmentVariable("NORVIK3_LOCK_CHILD");
    if (!child.isEmpty()) {
        QCoreApplication app(argc, argv);
        return holdLock(child);
    }
    QCoreApplication app(argc, argv);
    TestPlatform test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_platform.moc"
