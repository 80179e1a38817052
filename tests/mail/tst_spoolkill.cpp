// norvik3d killed with SIGKILL again and again while simulated projectors
// raise alerts and the mail server does not take them: no alert that reached
// the spool is ever lost or damaged, and once a server takes mail again every
// one of them is mailed.

#include "support/SimProcess.h"
#include "support/SmtpSink.h"
#include "support/TestPrograms.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <map>
#include <memory>

namespace {

constexpr int Projectors = 4;
constexpr int Kills = 100;
constexpr int Wait = 30000;

} // namespace

class TestSpoolKill : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    QTemporaryDir m_tmp;
    std::unique_ptr<SimProcess> m_sim;
    QProcess m_service;

    QString conf() const { return m_home.filePath(QStringLiteral("Norvik3.conf")); }
    QDir spool() const { return QDir(m_home.filePath(QStringLiteral("MailQueue"))); }

    // Every alert file of the spool, by name, with its content.
    std::map<QString, QByteArray> spooled() const {
        std::map<QString, QByteArray> files;
        const QDir dir = spool();
        for (const QString& name : dir.entryList({QStringLiteral("*.alert")}, QDir::Files)) {
            QFile file(dir.filePath(name));
            if (file.open(QIODevice::ReadOnly))
                files.emplace(name, file.readAll());
        }
        return files;
    }

    // The number in the last "Mail Queue Kept" line of the mail log, -1 if none.
    int lastKeptCount() const {
        static const QRegularExpression kept(
            QStringLiteral("Mail Queue Kept \\(alerts for the next start: (\\d+)\\)"));
        const QDir logs(m_home.filePath(QStringLiteral("MailLog")));
        int count = -1;
        for (const QString& name :
             logs.entryList({QStringLiteral("*.log")}, QDir::Files, QDir::Name)) {
            QFile file(logs.filePath(name));
            if (!file.open(QIODevice::ReadOnly))
                continue;
            for (const QRegularExpressionMatch& match :
                 kept.globalMatch(QString::fromUtf8(file.readAll())))
                count = match.captured(1).toInt();
        }
        return count;
    }

    void writeSetup() {
        QSettings s(conf(), QSettings::IniFormat);
        s.setValue("PJInfo/PJNum", QString::number(Projectors));
        s.setValue("PJTree/Node Count", QString::number(Projectors + 1));
        s.setValue("PJTree/1/KeyName", "rt");
        s.setValue("PJTree/1/ParentKey", "");
        s.setValue("PJTree/1/Text", "Lumora");
        s.setValue("PJTree/1/PJIndex", "-1");
        for (int p = 1; p <= Projectors; ++p) {
            const QString g = QStringLiteral("PJInfo/%1/").arg(p);
            s.setValue(g + "ProjectorName", QStringLiteral("Hall %1").arg(p));
            s.setValue(g + "ModelName", "VX-5100N");
            s.setValue(g + "ConnectionKind", "1");
            s.setValue(g + "IPAddress", "127.0.0.1");
            s.setValue(g + "PortNo", QString::number(m_sim->tcpPort(p)));
            const QString n = QStringLiteral("PJTree/%1/").arg(p + 1);
            s.setValue(n + "KeyName", QStringLiteral("p%1").arg(p - 1));
            s.setValue(n + "ParentKey", "rt");
            s.setValue(n + "Text", QStringLiteral("Hall %1").arg(p));
            s.setValue(n + "PJIndex", QString::number(p));
        }
        s.setValue("MailSetting/MailSend", "1");
        // Every change of the error code is an alert, the first one seen too.
        s.setValue("MailSetting/MailSendKindFlag", "1");
        s.setValue("MailSetting/FromAddress", "norvik@example.com");
        s.setValue("MailSetting/SendAddress1", "av-team@example.org;TO");
        s.setValue("Setting/StatusCheckInterval", "1");
        s.setValue("Setting/TcpTimeoutTime", "300");
    }

    void setServer(const QString& server) {
        QSettings s(conf(), QSettings::IniFormat);
        s.setValue("MailSetting/SMTPServer", server);
    }

    void start() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("NORVIK3_HOME", m_home.path());
        env.insert("TMPDIR", m_tmp.path());
        m_service.setProcessEnvironment(env);
        m_service.setProcessChannelMode(QProcess::ForwardedChannels);
        m_service.start(TestBinary(QStringLiteral("norvik3d")), {});
        QVERIFY(m_service.waitForStarted(Wait));
    }

    void kill() {
        m_service.kill();
        QVERIFY(m_service.waitForFinished(Wait));
    }

  private slots:
    void initTestCase() {
        QVERIFY(m_home.isValid() && m_tmp.isValid());
        m_sim = std::make_unique<SimProcess>(
            QStringList{"--tcp", QString::number(Projectors), "--cooldown-ms", "200"});
        QVERIFY2(m_sim->isReady(), qPrintable(m_sim->errorString()));
        writeSetup();
    }

    void killsLoseNoAlert() {
        // A server that takes the connection and never says a word, and one
        // that turns every mail away for now.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        SmtpSink refusing(SmtpSink::TempFail);
        QVERIFY2(refusing.isReady(), qPrintable(refusing.errorString()));

        std::map<QString, QByteArray> seen;
        QRandomGenerator random(17);
        for (int k = 0; k < Kills; ++k) {
            setServer(k % 2 ? refusing.server()
                            : QStringLiteral("127.0.0.1:%1").arg(silent.serverPort()));
            QCOMPARE(m_sim->command(QStringLiteral("error all %1").arg(1 + k % 9)), QString("OK"));
            start();
            // Killed as soon as this run's alerts start to reach the spool,
            // or a little later, when some of them may be half written.
            QTRY_VERIFY_WITH_TIMEOUT(spooled().size() > seen.size(), Wait);
            QTest::qWait(int(random.bounded(150)));
            kill();

            const std::map<QString, QByteArray> now = spooled();
            for (const auto& [name, content] : seen) {
                const auto found = now.find(name);
                QVERIFY2(found != now.end(),
                         qPrintable(QStringLiteral("kill %1 lost %2").arg(k).arg(name)));
                QCOMPARE(found->second, content);
            }
            seen = now;
        }
        QVERIFY(seen.size() > std::size_t(Kills));
        QVERIFY(spool().entryList({QStringLiteral("*.unreadable")}).isEmpty());

        // An orderly stop while alerts come in: every alert it keeps for the
        // next start is on disk by the time it has ended.
        QCOMPARE(m_sim->command(QStringLiteral("error all 3")), QString("OK"));
        start();
        QTRY_VERIFY_WITH_TIMEOUT(spooled().size() > seen.size(), Wait);
        m_service.terminate();
        QVERIFY(m_service.waitForFinished(Wait));
        const std::map<QString, QByteArray> kept = spooled();
        for (const auto& [name, content] : seen)
            QVERIFY2(kept.count(name) != 0, qPrintable(QStringLiteral("the stop lost ") + name));
        QCOMPARE(lastKeptCount(), int(kept.size()));
        seen = kept;

        // A server that takes mail: every alert kept goes out, once.
        SmtpSink sink;
        QVERIFY2(sink.isReady(), qPrintable(sink.errorString()));
        setServer(sink.server());
        QCOMPARE(m_sim->command(QStringLiteral("error all 0")), QString("OK"));
        start();
        QTRY_VERIFY_WITH_TIMEOUT(spooled().empty(), 10 * Wait);
        QVERIFY(sink.waitForMails(int(seen.size())));
        m_service.terminate();
        QVERIFY(m_service.waitForFinished(Wait));
        QCOMPARE(sink.mails().size(), qsizetype(seen.size()));
        // Nothing but its files was ever in the spool folder.
        QCOMPARE(spool().entryList(QDir::Files | QDir::System | QDir::Hidden), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestSpoolKill)
#include "tst_spoolkill.moc"
