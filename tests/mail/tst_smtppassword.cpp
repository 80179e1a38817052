#include "core/AppState.h"
#include "mail/SmtpPassword.h"
#include "support/MemorySecretStore.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// Where the SMTP password is found and kept: the window's secret store when it answers,
// otherwise (and always in the service, which has none) the owner-only file beside the
// settings.
class TestSmtpPassword : public QObject {
    Q_OBJECT

  private slots:
    void secretStoreOrFile_data() { MemorySecretStore::addRows(); }

    void secretStoreOrFile() {
        QFETCH(int, store);
        const bool answers = store == MemorySecretStore::Answers;
        const auto place = answers ? SmtpPassword::Place::SecretStore : SmtpPassword::Place::File;
        const QTemporaryDir dir;
        const auto state = std::make_unique<AppState>();
        state->ProgramFolder = dir.path();
        state->SettingsFile = dir.filePath(QStringLiteral("Norvik3.conf"));
        const QString file = SmtpPassword::filePath(*state);
        QVERIFY(SmtpPassword::writeFile(file, QStringLiteral("from-file")));
        const QString entry = QStringLiteral("Norvik3/SMTPPassword");
        MemorySecretStore secrets(store, *state, entry, QStringLiteral("from-store"));

        SmtpPassword password(*state);
        QSignalSpy refreshed(&password, &SmtpPassword::refreshed);
        QCOMPARE(password.password(), QStringLiteral("from-file")); // until the store answers
        QVERIFY(store == MemorySecretStore::None || refreshed.wait());
        QCOMPARE(password.password(), QString(answers ? "from-store" : "from-file"));
        QCOMPARE(password.place(), place);

        // A password already in its file stays there, for the service reads
        // that file; the store's entry, which would shadow it, goes.
        QSignalSpy stored(&password, &SmtpPassword::stored);
        password.store(QStringLiteral("new"));
        QTRY_COMPARE(stored.count(), 1);
        QCOMPARE(stored.at(0).at(0).value<SmtpPassword::Place>(), SmtpPassword::Place::File);
        QCOMPARE(password.password(), QStringLiteral("new"));
        QCOMPARE(SmtpPassword::readFile(file), QStringLiteral("new"));
        QCOMPARE(secrets.entries.value(entry), QString(answers ? "" : "from-store"));
        QCOMPARE(secrets.calls > 0, store != MemorySecretStore::None);

        password.store(QString()); // takes it away from both
        QTRY_COMPARE(stored.count(), 2);
        QCOMPARE(password.password(), QString());
        QVERIFY(!QFile::exists(file));
        QCOMPARE(secrets.entries.contains(entry), !answers);

        // Without a file, a new password goes to the store when it answers.
        password.store(QStringLiteral("again"));
        QTRY_COMPARE(stored.count(), 3);
        QCOMPARE(stored.at(2).at(0).value<SmtpPassword::Place>(), place);
        QCOMPARE(password.password(), QStringLiteral("again"));
        QCOMPARE(QFile::exists(file), !answers);
        QCOMPARE(secrets.entries.value(entry), QString(answers ? "again" : "from-store"));
    }
};

QTEST_GUILESS_MAIN(TestSmtpPassword)
#include "tst_smtppassword.moc"
