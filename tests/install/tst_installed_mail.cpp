// Where the program looks for its mail library, and that the library found
// in an installed tree sends a mail: libnorsend.so from the private library
// folder must reach libbsmtp.so through its own $ORIGIN RUNPATH, since
// nothing else points there. check-install runs this with
// NORVIK3_INSTALL_PREFIX set to the prefix it has just installed into.

#include "mail/NorSendLibrary.h"
#include "mail/NorSendPath.h"
#include "support/SmtpSink.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestInstalledMail : public QObject {
    Q_OBJECT

  private slots:
    void buildTreeUsesTheLibraryBesideTheProgram() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        // A private library folder that also holds one must not win.
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("bin")));
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("lib/norvik3")));
        QVERIFY(touch(dir.filePath(QStringLiteral("bin/libnorsend.so"))));
        QVERIFY(touch(dir.filePath(QStringLiteral("lib/norvik3/libnorsend.so"))));
        QCOMPARE(NorSendLibraryPath(dir.filePath(QStringLiteral("bin"))),
                 dir.filePath(QStringLiteral("bin/libnorsend.so")));
    }

    void installedTreeUsesThePrivateLibraryFolder() {
        QTemporaryDir prefix;
        QVERIFY(prefix.isValid());
        QVERIFY(QDir(prefix.path()).mkpath(QStringLiteral("bin")));
        QCOMPARE(NorSendLibraryPath(prefix.filePath(QStringLiteral("bin"))),
                 prefix.filePath(QStringLiteral("lib/norvik3/libnorsend.so")));
        // A trailing slash changes nothing.
        QCOMPARE(NorSendLibraryPath(prefix.filePath(QStringLiteral("bin/"))),
                 prefix.filePath(QStringLiteral("lib/norvik3/libnorsend.so")));
    }

    void installedLibrarySendsAMail() {
        const QString prefix = qEnvironmentVariable("NORVIK3_INSTALL_PREFIX");
        QVERIFY2(!prefix.isEmpty(), "NORVIK3_INSTALL_PREFIX names no installed tree");
        const QString path = NorSendLibraryPath(prefix + QStringLiteral("/bin"));
        QCOMPARE(path, QDir::cleanPath(prefix + QStringLiteral("/lib/norvik3/libnorsend.so")));
        QVERIFY2(QFile::exists(path), qPrintable(path));

        SmtpSink sink;
        QVERIFY2(sink.isReady(), qPrintable(sink.errorString()));
        NorSendLibrary library(path);
        MailMessage message;
        message.server = sink.server();
        message.recipients = QStringLiteral("operator@example.org");
        message.from = QStringLiteral("norvik3@example.org");
        message.subject = QStringLiteral("Installed tree");
        message.body = QStringLiteral("Lamp error\r\n");
        const MailResult result = library.Send(message);
        QVERIFY2(library.isLoaded(), qPrintable(library.errorString()));
        QVERIFY2(result.sent, qPrintable(result.reasonText));
        QVERIFY(sink.waitForMails(1));
        const ReceivedMail mail = sink.mails().first();
        QCOMPARE(mail.rcptTos, QStringList{QStringLiteral("operator@example.org")});
        QCOMPARE(mail.header(QStringLiteral("Subject")),
                 QStringList{QStringLiteral("Installed tree")});
    }

  private:
    static bool touch(const QString& fileName) {
        QFile file(fileName);
        return file.open(QIODevice::WriteOnly);
    }
};

QTEST_GUILESS_MAIN(TestInstalledMail)
#include "tst_installed_mail.moc"
