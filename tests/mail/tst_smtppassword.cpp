#include "core/AppState.h"
#include "mail/SmtpPassword.h"
#include "support/MemorySecretStore.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// Where the SMTP password is found and kept: the window's secret store when
// it answers, otherwise (and always in the service, which has none) the
// owner-only file beside the settings. The secret store is stood in for by
// one in memory, as no desktop secret service runs here.
class TestSmtpPassword : public QObject {
    Q_OBJECT

  private slots:
    void secretStoreOrFile_data() {
        QTest::addColumn<QString>("store");
        QTest::addColumn<QString>("found");
        QTest::addColumn<int>("place");
        QTest::addColumn<bool>("fileKept");
        QTest::newRow("store answers")
            << "answers"
            << "from-store" << int(SmtpPassword::Place::SecretStore) << false;
        QTest::newRow("store unavailable") << "unavailable"
                                           << "from-file" << int(SmtpPassword::Place::File) << true;
        QTest::newRow("no store (the service)")
            << "none"
            << "from-file" << int(SmtpPassword::Place::File) << true;
    }

    void secretStoreOrFile() {
        QFETCH(QString, store);
        QFETCH(QString, found);
        QFETCH(int, place);
        QFETCH(bool, fileKept);
        const QTemporaryDir dir;
        const auto state = std::make_unique<AppState>();
        state->ProgramFolder = dir.path();
        state->SettingsFile = dir.filePath(QStringLiteral("Norvik3.conf"));
        const QString file = SmtpPassword::filePath(*state);
        QVERIFY(SmtpPassword::writeFile(file, QStringLiteral("from-file")));
        MemorySecretStore secrets;
        secrets.available = store == QLatin1String("answers");
        secrets.entries.insert(QStringLiteral("Norvik3/SMTPPassword"),
                               QStringLiteral("from-store"));
        if (store != QLatin1String("none"))
            state->Secrets = &secrets;

        SmtpPassword password(*state);
        QSignalSpy refreshed(&password, &SmtpPassword::refreshed);
        // Until the store answers, the file serves.
        QCOMPARE(password.password(), QStringLiteral("from-file"));
        if (store != QLatin1String("none"))
            QVERIFY(refreshed.wait());
        QCOMPARE(password.password(), found);
        QCOMPARE(int(password.place()), place);

        QSignalSpy stored(&password, &SmtpPassword::stored);
        password.store(QStringLiteral("new"));
        QTRY_COMPARE(stored.count(), 1);
        QCOMPARE(int(stored.at(0).at(0).value<SmtpPassword::Place>()), place);
        QCOMPARE(password.password(), QStringLiteral("new"));
        QCOMPARE(SmtpPassword::readFile(file).has_value(), fileKept);
        if (store == QLatin1String("answers"))
            QCOMPARE(secrets.entries.value(QStringLiteral("Norvik3/SMTPPassword")),
                     QStringLiteral("new"));
        if (store == QLatin1String("none"))
            QCOMPARE(secrets.calls, 0);

        // An empty one takes it away from both.
        password.store(QString());
        QTRY_COMPARE(stored.count(), 2);
        QCOMPARE(password.password(), QString());
        QVERIFY(!QFile::exists(file));
        QCOMPARE(secrets.entries.contains(QStringLiteral("Norvik3/SMTPPassword")),
                 store != QLatin1String("answers"));
    }
};

QTEST_GUILESS_MAIN(TestSmtpPassword)
#include "tst_smtppassword.moc"
