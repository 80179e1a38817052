#include "support/TestHome.h"

#include "core/AppState.h"
#include "core/Fleet.h"
#include "core/SettingsStore.h"
#include "pjlink/PJLinkPasswords.h"
#include "platform/SafeFile.h"
#include "support/MemorySecretStore.h"
#include "support/ProjectorRecords.h"

#include <QSignalSpy>

#include <memory>

// The PJLink passwords as an administrator provisions them and as the
// projector dialog stores them: read from a file beside the settings, used
// only while it is the owner's alone, watched for changes, never written
// anywhere else. Without a secret store (the service) the file is the
// store; the window's secret store is stood in for by one in memory.
namespace {

constexpr QFileDevice::Permissions OthersOrGroup =
    QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
    QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;

struct PasswordsFixture {
    TestHome home;
    std::unique_ptr<AppState> state = std::make_unique<AppState>();

    PasswordsFixture() {
        state->ProgramFolder = home.path();
        state->SettingsFile = home.settingsFile();
        QVERIFY(AddProjector(*state, 1,
                             PJLinkProjector(QStringLiteral("Hall"), QStringLiteral("10.0.0.5"))));
        QVERIFY(AddProjector(
            *state, 1,
            PJLinkProjector(QStringLiteral("Foyer"), QStringLiteral("Proj-2.Example"), {})));
    }

    QString file() const { return home.file(QStringLiteral("Norvik3.pjlink-passwords")); }

    void writeFile(const QByteArray& text, QFileDevice::Permissions mode) const {
        home.write(QStringLiteral("Norvik3.pjlink-passwords"), text);
        QVERIFY(QFile::setPermissions(file(), mode));
    }
};

const QFileDevice::Permissions OwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

} // namespace

class TestPJLinkPasswords : public QObject {
    Q_OBJECT

  private slots:
    void linesOfTheFile_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("password");
        QTest::newRow("plain") << QByteArray("10.0.0.5:4352=JBMIAProjectorLink\n") << "10.0.0.5"
                               << "4352"
                               << "JBMIAProjectorLink";
        QTest::newRow("no final line end") << QByteArray("10.0.0.5:4352=abc") << "10.0.0.5"
                                           << "4352"
                                           << "abc";
        QTest::newRow("crlf") << QByteArray("10.0.0.5:4352=abc\r\n") << "10.0.0.5"
                              << "4352"
                              << "abc";
        QTest::newRow("blanks and = kept") << QByteArray("10.0.0.5:4352= a=b \n") << "10.0.0.5"
                                           << "4352"
                                           << " a=b ";
        QTest::newRow("host in any case")
            << QByteArray("PROJ-2.example:4352=x\n") << "proj-2.Example"
            << ""
            << "x";
        QTest::newRow("port as a number") << QByteArray("10.0.0.5:04352=x\n") << " 10.0.0.5 "
                                          << "4352"
                                          << "x";
        QTest::newRow("ipv6 in brackets") << QByteArray("[fd00::5]:4352=six\n") << "fd00::5"
                                          << "4352"
                                          << "six";
        QTest::newRow("ipv6 bare") << QByteArray("fd00::5:4352=six\n") << "FD00::5"
                                   << "4352"
                                   << "six";
        QTest::newRow("other port") << QByteArray("10.0.0.5:4353=x\n") << "10.0.0.5"
                                    << "4352"
                                    << "";
        QTest::newRow("comment and blank lines")
            << QByteArray("# hall\n\n  \n10.0.0.5:4352=y\n") << "10.0.0.5"
            << "4352"
            << "y";
        QTest::newRow("commented out") << QByteArray("#10.0.0.5:4352=y\n") << "10.0.0.5"
                                       << "4352"
                                       << "";
        QTest::newRow("no port") << QByteArray("10.0.0.5=y\n") << "10.0.0.5"
                                 << "4352"
                                 << "";
        QTest::newRow("bad port") << QByteArray("10.0.0.5:99999=y\n") << "10.0.0.5"
                                  << "99999"
                                  << "";
        QTest::newRow("no password part") << QByteArray("10.0.0.5:4352\n") << "10.0.0.5"
                                          << "4352"
                                          << "";
        QTest::newRow("empty password") << QByteArray("10.0.0.5:4352=\n") << "10.0.0.5"
                                        << "4352"
                                        << "";
    }

    void linesOfTheFile() {
        QFETCH(QByteArray, text);
        QFETCH(QString, address);
        QFETCH(QString, port);
        QFETCH(QString, password);
        PasswordsFixture f;
        f.writeFile(text, OwnerOnly);
        const PJLinkPasswords::FileContent content = PJLinkPasswords::readFile(f.file());
        QVERIFY(!content.refused);
        QVERIFY(content.error.isEmpty());
        QCOMPARE(content.passwords.value(PJLinkPasswords::keyOf(address, port)), password);
        QVERIFY(content.passwords.size() <= 1);
    }

    // What the engine's sessions get through the state, per projector.
    void projectorsGetTheirOwnPassword() {
        PasswordsFixture f;
        f.writeFile("10.0.0.5:4352=hall-secret\nproj-2.example:4352=foyer secret\n", OwnerOnly);
        PJLinkPasswords passwords(*f.state);
        f.state->PJLinkPassword = [&](int p) { return passwords.passwordOf(p); };
        QCOMPARE(f.state->PJLinkPassword(1), QStringLiteral("hall-secret"));
        QCOMPARE(f.state->PJLinkPassword(2), QStringLiteral("foyer secret"));
        QCOMPARE(f.state->PJLinkPassword(3), QString());
        QCOMPARE(f.state->PJLinkPassword(0), QString());
        QVERIFY(!f.state->Health.isActive(HealthCondition::PasswordsRefused));
    }

    // Where the window's secret store answers, its entries win over the file's and a stored
    // password goes there, its file line removed; where it does not answer, the file serves and
    // takes the password; the service, with no store, never asks one.
    void secretStoreOrFile_data() { MemorySecretStore::addRows(); }

    void secretStoreOrFile() {
        QFETCH(int, store);
        const bool answers = store == MemorySecretStore::Answers;
        PasswordsFixture f;
        f.writeFile("10.0.0.5:4352=from-file\n10.0.0.9:4352=other\n", OwnerOnly);
        const QString entry = QStringLiteral("Norvik3 PJLink/10.0.0.5:4352");
        MemorySecretStore secrets(store, *f.state, entry, QStringLiteral("from-store"));
        PJLinkPasswords passwords(*f.state);
        QCOMPARE(passwords.passwordOf(1), QStringLiteral("from-file"));
        QCOMPARE(passwords.settled(), store == MemorySecretStore::None);
        QTRY_VERIFY(passwords.settled());
        QCOMPARE(passwords.passwordOf(1), QString(answers ? "from-store" : "from-file"));

        QSignalSpy stored(&passwords, &PJLinkPasswords::stored);
        QVERIFY(passwords.store(QStringLiteral("10.0.0.5"), QStringLiteral("4352"),
                                QStringLiteral("new")));
        // A line already in the file stays there, for the service reads that
        // file; the store's entry, which would shadow it, goes.
        QTRY_COMPARE(stored.count(), 1);
        QCOMPARE(stored.at(0).at(1).value<PJLinkPasswords::Place>(), PJLinkPasswords::Place::File);
        QCOMPARE(passwords.passwordOf(1), QStringLiteral("new"));
        QCOMPARE(f.home.read(QStringLiteral("Norvik3.pjlink-passwords")),
                 QByteArray("10.0.0.5:4352=new\n10.0.0.9:4352=other\n"));
        QCOMPARE(secrets.entries.value(entry), QString(answers ? "" : "from-store"));
        QCOMPARE(secrets.calls > 0, store != MemorySecretStore::None);

        // A projector without a line goes to the store when it answers.
        QVERIFY(passwords.store(QStringLiteral("10.0.0.7"), QStringLiteral("4352"),
                                QStringLiteral("seven")));
        QTRY_COMPARE(stored.count(), 2);
        QCOMPARE(stored.at(1).at(1).value<PJLinkPasswords::Place>(),
                 answers ? PJLinkPasswords::Place::SecretStore : PJLinkPasswords::Place::File);
        QCOMPARE(f.home.read(QStringLiteral("Norvik3.pjlink-passwords")).contains("10.0.0.7"),
                 !answers);
        QCOMPARE(secrets.entries.value(QStringLiteral("Norvik3 PJLink/10.0.0.7:4352")),
                 QString(answers ? "seven" : ""));
    }

    // A file that others can read is not used, and that is said once with
    // the file's name and the remedy; owner-only again, it is used at once.
    void fileOpenToOthersIsRefused_data() {
        QTest::addColumn<int>("mode");
        QTest::newRow("0644") << int(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                     QFileDevice::ReadGroup | QFileDevice::ReadOther);
        QTest::newRow("0640") << int(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                     QFileDevice::ReadGroup);
        QTest::newRow("0602") << int(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                     QFileDevice::WriteOther);
    }

    void fileOpenToOthersIsRefused() {
        QFETCH(int, mode);
        PasswordsFixture f;
        f.writeFile("10.0.0.5:4352=hall-secret\n", QFileDevice::Permissions(mode));
        QSignalSpy health(&f.state->Health, &HealthReport::changed);
        PJLinkPasswords passwords(*f.state);
        QCOMPARE(passwords.passwordOf(1), QString());
        QVERIFY(f.state->Health.isActive(HealthCondition::PasswordsRefused));
        const QString text = f.state->Health.entry(HealthCondition::PasswordsRefused).text;
        QVERIFY2(text.contains(f.file()) && text.contains(QStringLiteral("chmod 600")),
                 qPrintable(text));
        passwords.reload();
        QCOMPARE(health.count(), 1);

        QVERIFY(QFile::setPermissions(f.file(), OwnerOnly));
        QTRY_COMPARE(passwords.passwordOf(1), QStringLiteral("hall-secret"));
        QVERIFY(!f.state->Health.isActive(HealthCondition::PasswordsRefused));
        QCOMPARE(health.count(), 2);
    }

    // An administrator's edit reaches the next session without a restart,
    // whether written in place or replaced by a rename; lookups in between
    // never read the file.
    void changesOnDiskAreFollowed() {
        PasswordsFixture f;
        PJLinkPasswords passwords(*f.state);
        QCOMPARE(passwords.passwordOf(1), QString());
        f.writeFile("10.0.0.5:4352=first\n", OwnerOnly);
        QTRY_COMPARE(passwords.passwordOf(1), QStringLiteral("first"));
        QVERIFY(WriteFileAtomically(f.file(), "10.0.0.5:4352=second\n", 0600));
        QTRY_COMPARE(passwords.passwordOf(1), QStringLiteral("second"));
        {
            QFile edit(f.file());
            QVERIFY(edit.open(QIODevice::Append));
            edit.write("proj-2.example:4352=third\n");
        }
        QTRY_COMPARE(passwords.passwordOf(2), QStringLiteral("third"));
        QVERIFY(QFile::remove(f.file()));
        QTRY_COMPARE(passwords.passwordOf(1), QString());
    }

    // The dialog's store: owner-only from the start, one line per
    // projector, the administrator's other lines and comments untouched,
    // an empty password removing the line, nothing in the settings file.
    void storedPasswordsLandInTheFileOnly() {
        PasswordsFixture f;
        f.writeFile("# provisioned\n10.0.0.9:4352=other\n", OwnerOnly);
        PJLinkPasswords passwords(*f.state);
        QSignalSpy stored(&passwords, &PJLinkPasswords::stored);
        QVERIFY(passwords.store(QStringLiteral("10.0.0.5"), QStringLiteral("4352"),
                                QStringLiteral("new secret")));
        QTRY_COMPARE(stored.count(), 1);
        QCOMPARE(stored.at(0).at(1).value<PJLinkPasswords::Place>(), PJLinkPasswords::Place::File);
        QCOMPARE(f.home.read(QStringLiteral("Norvik3.pjlink-passwords")),
                 QByteArray("# provisioned\n10.0.0.9:4352=other\n10.0.0.5:4352=new secret\n"));
        QCOMPARE(QFileInfo(f.file()).permissions() & OthersOrGroup, QFileDevice::Permissions());
        QCOMPARE(passwords.passwordOf(1), QStringLiteral("new secret"));

        QVERIFY(passwords.store(QStringLiteral("PROJ-2.example"), QString(), QStringLiteral("b")));
        QTRY_COMPARE(stored.count(), 2);
        QVERIFY(passwords.store(QStringLiteral("10.0.0.5"), QStringLiteral("4352"),
                                QStringLiteral("changed")));
        QTRY_COMPARE(stored.count(), 3);
        QVERIFY(passwords.store(QStringLiteral("10.0.0.9"), QStringLiteral("4352"), QString()));
        QTRY_COMPARE(stored.count(), 4);
        QCOMPARE(f.home.read(QStringLiteral("Norvik3.pjlink-passwords")),
                 QByteArray("# provisioned\n10.0.0.5:4352=changed\nproj-2.example:4352=b\n"));
        QCOMPARE(passwords.passwordOf(2), QStringLiteral("b"));

        // A line break would split the line: refused, nothing written.
        QVERIFY(!passwords.store(QStringLiteral("10.0.0.5"), QStringLiteral("4352"),
                                 QStringLiteral("a\n10.0.0.6:4352=b")));
        QCOMPARE(passwords.passwordOf(1), QStringLiteral("changed"));

        const SettingsStore store(f.home.settingsFile());
        QVERIFY(store.SaveTreeAndProjectors(*f.state));
        const QByteArray settings = f.home.read(QStringLiteral("Norvik3.conf"));
        QVERIFY(settings.contains("Protocol=PJLink"));
        QVERIFY(!settings.contains("changed") && !settings.contains("=b\n"));
    }

    // A file that was open to others is closed by the next store.
    void storeClosesAFileOpenToOthers() {
        PasswordsFixture f;
        f.writeFile("10.0.0.9:4352=other\n", OwnerOnly | QFileDevice::ReadOther);
        PJLinkPasswords passwords(*f.state);
        QVERIFY(f.state->Health.isActive(HealthCondition::PasswordsRefused));
        QSignalSpy stored(&passwords, &PJLinkPasswords::stored);
        QVERIFY(passwords.store(QStringLiteral("10.0.0.5"), QStringLiteral("4352"),
                                QStringLiteral("s")));
        QTRY_COMPARE(stored.count(), 1);
        QCOMPARE(QFileInfo(f.file()).permissions() & OthersOrGroup, QFileDevice::Permissions());
        QCOMPARE(passwords.passwordOf(1), QStringLiteral("s"));
        QCOMPARE(passwords.passwordFor(QStringLiteral("10.0.0.9:4352")), QStringLiteral("other"));
        QVERIFY(!f.state->Health.isActive(HealthCondition::PasswordsRefused));
    }

    void withPasswordRewritesOneKey_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("added to nothing") << QByteArray() << "p" << QByteArray("a:1=p\n");
        QTest::newRow("replaced in place")
            << QByteArray("x:2=q\na:1=old\ny:3=r") << "p" << QByteArray("x:2=q\na:1=p\ny:3=r\n");
        QTest::newRow("repeats go")
            << QByteArray("a:1=old\nA:01=older\n") << "p" << QByteArray("a:1=p\n");
        QTest::newRow("removed") << QByteArray("# c\na:1=old\nx:2=q\n") << ""
                                 << QByteArray("# c\nx:2=q\n");
        QTest::newRow("nothing to remove") << QByteArray("x:2=q\n") << "" << QByteArray("x:2=q\n");
    }

    void withPasswordRewritesOneKey() {
        QFETCH(QByteArray, before);
        QFETCH(QString, password);
        QFETCH(QByteArray, after);
        QCOMPARE(PJLinkPasswords::withPassword(before, QStringLiteral("a:1"), password), after);
    }
};

QTEST_GUILESS_MAIN(TestPJLinkPasswords)
#include "test_pjlink_passwords.moc"
