// The endpoint's tokens: the file's lines and what is wrong with them, a
// file open to others refused, the lookup of a presented token (and the
// setting's token as a read token), the endpoint opening its read routes to
// the file's tokens, and norvik3d --add-token / --remove-token run as
// programs, alone and beside a running service that reads them on SIGHUP.

#include "core/AppState.h"
#include "status/ApiTokens.h"
#include "status/StatusServer.h"

#include "status/EndpointFetch.h"
#include "support/TestPrograms.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sys/stat.h>

namespace {

const QByteArray SettingToken = "setting-token-0123";

QByteArray HashHex(const QByteArray& token) {
    return TokenHash(token).toHex();
}

void WriteFile(const QString& path, const QByteArray& text, mode_t mode = 0600) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
    file.close();
    QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

mode_t ModeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

struct Run {
    int code = -1;
    QByteArray out;
    QByteArray err;
};

} // namespace

class TestApiTokens : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    QString m_file;

    Run norvik3d(const QStringList& arguments) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("NORVIK3_HOME"), m_home.path());
        process.setProcessEnvironment(environment);
        process.start(TestBinary(QStringLiteral("norvik3d")), arguments);
        Run run;
        if (!process.waitForFinished(30000))
            return run;
        run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.out = process.readAllStandardOutput();
        run.err = process.readAllStandardError();
        return run;
    }

    ApiTokens fileTokens(const QString& setting = {}) {
        ApiTokens tokens(m_file, setting);
        tokens.reload();
        return tokens;
    }

  private slots:
    void init() {
        QVERIFY(m_home.isValid());
        m_file = ApiTokensFilePath(m_home.filePath(QStringLiteral("Norvik3.conf")));
        QFile::remove(m_file);
    }

    void parse_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QList<int>>("badLines");
        QTest::addColumn<QString>("firstScope");
        QTest::addColumn<QStringList>("firstGroups");
        const QByteArray h = HashHex("a");
        QTest::newRow("read") << "desk:read=" + h << QStringList{"desk"} << QList<int>{} << "read"
                              << QStringList{};
        QTest::newRow("control with groups, hash in capitals")
            << "panel:control:Hall A, Lab=" + h.toUpper() << QStringList{"panel"} << QList<int>{}
            << "control" << QStringList{"Hall A", "Lab"};
        QTest::newRow("a group holding a colon")
            << "x:control:Hall:2=" + h << QStringList{"x"} << QList<int>{} << "control"
            << QStringList{"Hall:2"};
        QTest::newRow("comments, blanks, CR LF")
            << "# tokens\r\n\r\n  \r\nx:read=" + h + "\r\n"
            << QStringList{"x"} << QList<int>{} << "read" << QStringList{};
        QTest::newRow("bad lines by number")
            << "a:read=" + h + "\nnohash:read\nb:write=" + h + "\n# fine\nc:read=abc\n" +
                   "bad name:read=" + h + "\nd:control:Hall,,Lab=" + h + "\na:control=" + h +
                   "\n:read=" + h + "\ne=" + h + "\nf:read=" + h
            << QStringList{"a", "f"} << QList<int>{2, 3, 5, 6, 7, 8, 9, 10} << "read"
            << QStringList{};
    }

    void parse() {
        QFETCH(QByteArray, text);
        QFETCH(QStringList, names);
        QFETCH(QList<int>, badLines);
        const TokenFile file = ParseTokens(text);
        QStringList found;
        for (const ApiToken& token : file.tokens)
            found << token.name;
        QCOMPARE(found, names);
        QList<int> lines;
        for (const TokenFileProblem& problem : file.problems) {
            lines << problem.line;
            QVERIFY(!problem.text.isEmpty());
        }
        QCOMPARE(lines, badLines);
        QFETCH(QString, firstScope);
        QFETCH(QStringList, firstGroups);
        QCOMPARE(TokenScopeName(file.tokens.first().scope), firstScope);
        QCOMPARE(file.tokens.first().groups, firstGroups);
        QCOMPARE(file.tokens.first().hash, TokenHash("a"));
        // What the program writes for an entry reads back as that entry.
        const TokenFile again = ParseTokens(TokenLine(file.tokens.first()));
        QCOMPARE(again.tokens.size(), 1);
        QCOMPARE(again.tokens.first().groups, file.tokens.first().groups);
        QCOMPARE(again.tokens.first().hash, file.tokens.first().hash);
    }

    void fileMode_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("used");
        QTest::newRow("owner only") << 0600 << true;
        QTest::newRow("owner read only") << 0400 << true;
        QTest::newRow("group reads") << 0640 << false;
        QTest::newRow("group writes") << 0620 << false;
        QTest::newRow("others read") << 0604 << false;
        QTest::newRow("others write") << 0602 << false;
    }

    void fileMode() {
        QFETCH(int, mode);
        QFETCH(bool, used);
        WriteFile(m_file, "desk:read=" + HashHex("t1") + '\n', mode_t(mode));
        ApiTokens tokens(m_file, {});
        const QStringList problems = tokens.reload();
        QCOMPARE(tokens.find("Bearer t1").has_value(), used);
        QCOMPARE(problems.join('\n').contains("chmod 600"), !used);
        // Refused or not, a file there means the endpoint asks for a token.
        QVERIFY(tokens.required());
    }

    void lookup_data() {
        QTest::addColumn<QByteArray>("authorization");
        QTest::addColumn<QString>("name");
        QTest::newRow("first") << QByteArray("Bearer t1") << "desk";
        QTest::newRow("last, scheme in lower case, blanks")
            << QByteArray("  bearer\t t3 ") << "ops";
        QTest::newRow("the setting's token") << "Bearer " + SettingToken << "StatusHttpToken";
        QTest::newRow("wrong token") << QByteArray("Bearer t4") << "";
        QTest::newRow("longer token") << QByteArray("Bearer t1x") << "";
        QTest::newRow("other scheme") << QByteArray("Basic t1") << "";
        QTest::newRow("no scheme") << QByteArray("t1") << "";
        QTest::newRow("scheme only") << QByteArray("Bearer ") << "";
        QTest::newRow("nothing") << QByteArray() << "";
    }

    void lookup() {
        QFETCH(QByteArray, authorization);
        QFETCH(QString, name);
        WriteFile(m_file, "desk:read=" + HashHex("t1") + "\npanel:control:Hall=" + HashHex("t2") +
                              "\nops:control=" + HashHex("t3") + '\n');
        const ApiTokens tokens = fileTokens(QString::fromLatin1(SettingToken));
        QCOMPARE(tokens.count(), 4);
        const std::optional<ApiToken> found = tokens.find(authorization);
        QCOMPARE(found ? found->name : QString(), name);
        if (name == "StatusHttpToken")
            QCOMPARE(found->scope, TokenScope::Read);
    }

    void required() {
        QVERIFY(!fileTokens().required());
        QVERIFY(fileTokens(QString::fromLatin1(SettingToken)).required());
        WriteFile(m_file, {});
        QVERIFY(fileTokens().required());
        QCOMPARE(fileTokens().count(), 0);
    }

    // The read routes open to any token of the file, the setting's too, and
    // to a new one only once the file is read again.
    void endpointReadRoutes() {
        WriteFile(m_file, "desk:read=" + HashHex("t1") + "\nops:control=" + HashHex("t3") + '\n');
        AppState state;
        StatusEndpointSettings settings{"127.0.0.1", 0, QString::fromLatin1(SettingToken)};
        settings.tokensFile = m_file;
        StatusServer server(state, settings);
        QVERIFY2(server.start(), qPrintable(server.problem()));
        const auto status = [&server](const QByteArray& token) {
            return Fetch("http", server.port(), "/api/v1/projectors", token).status;
        };
        QCOMPARE(status("t1"), 200);
        QCOMPARE(status("t3"), 200);
        QCOMPARE(status(SettingToken), 200);
        QCOMPARE(status("t2"), 401);
        QCOMPARE(status({}), 401);
        WriteFile(m_file, "desk:read=" + HashHex("t1") + "\nlate:read=" + HashHex("t2") + '\n');
        QCOMPARE(status("t2"), 401);
        server.reloadTokens();
        QCOMPARE(status("t2"), 200);
        QCOMPARE(status("t3"), 401);
    }

    // A file refused or with a skipped line is a health condition naming
    // the file and the reason until a reload finds it sound.
    void refusedFileIsInTheHealth_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("reason");
        const QByteArray good = "desk:read=" + HashHex("t1") + '\n';
        QTest::newRow("readable by others") << good << 0644 << "readable or writable by others";
        QTest::newRow("bad line") << good + "desk:admin=00\n" << 0600 << "line 2, is skipped";
    }
    void refusedFileIsInTheHealth() {
        QFETCH(QByteArray, text);
        QFETCH(int, mode);
        QFETCH(QString, reason);
        WriteFile(m_file, text, mode_t(mode));
        AppState state;
        StatusEndpointSettings settings{"127.0.0.1", 0, QString::fromLatin1(SettingToken)};
        settings.tokensFile = m_file;
        StatusServer server(state, settings);
        QVERIFY2(server.start(), qPrintable(server.problem()));
        // Seen with the setting's token, and by a client with none or a
        // wrong one (then without the fleet), whatever the file holds.
        const auto reasons = [&server](const QByteArray& token) {
            const QByteArray body = Fetch("http", server.port(), "/api/v1/health", token).body;
            QStringList found;
            const QJsonObject health = QJsonDocument::fromJson(body).object();
            if (token != SettingToken && health.contains("projectors"))
                found << "fleet shown without a token";
            for (const QJsonValue& r : health["reasons"].toArray())
                if (r["name"].toString() == QLatin1String("api_tokens_refused"))
                    found << r["text"].toString();
            return found;
        };
        for (const QByteArray& token : {SettingToken, QByteArray(), QByteArray("wrong")}) {
            const QStringList raised = reasons(token);
            QCOMPARE(raised.size(), 1);
            QVERIFY2(raised[0].contains(m_file) && raised[0].contains(reason),
                     qPrintable(raised[0]));
        }
        WriteFile(m_file, "desk:read=" + HashHex("t1") + '\n');
        server.reloadTokens();
        QCOMPARE(reasons(SettingToken), QStringList());
        QCOMPARE(reasons({}), QStringList());
    }

    void addAndRemove() {
        const Run added = norvik3d({"--add-token", "panel", "control", "Hall A,Lab"});
        QCOMPARE(added.code, 0);
        const QByteArray token = added.out.trimmed();
        // 32 bytes in base64url without padding.
        QCOMPARE(token.size(), 43);
        QCOMPARE(QByteArray::fromBase64(token, QByteArray::Base64UrlEncoding).size(), 32);
        QVERIFY(!ReadFile(m_file).contains(token));
        QVERIFY(ReadFile(m_file).contains(HashHex(token)));
        QCOMPARE(ModeOf(m_file), mode_t(0600));
        std::optional<ApiToken> found = fileTokens().find("Bearer " + token);
        QVERIFY(found);
        QCOMPARE(found->name, "panel");
        QCOMPARE(found->scope, TokenScope::Control);
        QCOMPARE(found->groups, QStringList({"Hall A", "Lab"}));

        const Run second = norvik3d({"--add-token", "desk", "read"});
        QCOMPARE(second.code, 0);
        QVERIFY(second.out.trimmed() != token);
        QCOMPARE(fileTokens().count(), 2);

        const Run duplicate = norvik3d({"--add-token", "panel", "read"});
        QCOMPARE(duplicate.code, 1);
        QVERIFY(duplicate.out.isEmpty());
        QVERIFY(duplicate.err.contains("exists already"));
        QVERIFY(fileTokens().find("Bearer " + token));

        QCOMPARE(norvik3d({"--remove-token", "panel"}).code, 0);
        QVERIFY(!fileTokens().find("Bearer " + token));
        QVERIFY(fileTokens().find("Bearer " + second.out.trimmed()));
        QCOMPARE(norvik3d({"--remove-token", "panel"}).code, 1);
        QCOMPARE(ModeOf(m_file), mode_t(0600));
    }

    void commandLineRefusals_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("code");
        QTest::newRow("no scope") << QStringList{"--add-token", "x"} << 2;
        QTest::newRow("unknown scope") << QStringList{"--add-token", "x", "write"} << 2;
        QTest::newRow("bad name") << QStringList{"--add-token", "a:b", "read"} << 2;
        QTest::newRow("empty group") << QStringList{"--add-token", "x", "control", "Hall,"} << 2;
        QTest::newRow("too many") << QStringList{"--add-token", "x", "read", "G", "more"} << 2;
        QTest::newRow("remove without a name") << QStringList{"--remove-token"} << 2;
        QTest::newRow("remove an absent one") << QStringList{"--remove-token", "x"} << 1;
        QTest::newRow("file open to others") << QStringList{"--add-token", "x", "read"} << 1;
    }

    void commandLineRefusals() {
        QFETCH(QStringList, arguments);
        QFETCH(int, code);
        const QByteArray before = "keep:read=" + HashHex("k") + '\n';
        const bool open = QByteArray(QTest::currentDataTag()) == "file open to others";
        WriteFile(m_file, before, open ? 0604 : 0600);
        const Run run = norvik3d(arguments);
        QCOMPARE(run.code, code);
        QVERIFY(run.out.isEmpty());
        QVERIFY(!run.err.isEmpty());
        QCOMPARE(ReadFile(m_file), before);
    }

    // A running service takes a token added beside it at SIGHUP.
    void serviceReloads() {
        const Run first = norvik3d({"--add-token", "desk", "read"});
        QCOMPARE(first.code, 0);
        const quint16 port = FreeTcpPort();
        QProcess service;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("NORVIK3_HOME"), m_home.path());
        service.setProcessEnvironment(environment);
        service.start(TestBinary(QStringLiteral("norvik3d")),
                      {"--no-schedule", "--http-port", QString::number(port)});
        QByteArray log;
        const auto logged = [&service, &log](const QByteArray& what, int times) {
            log += service.readAllStandardError();
            return log.count(what) >= times;
        };
        QTRY_VERIFY_WITH_TIMEOUT(logged("started on", 1), 30000);
        QCOMPARE(Fetch("http", port, "/api/v1/projectors", first.out.trimmed()).status, 200);
        const Run second = norvik3d({"--add-token", "late", "control"});
        QCOMPARE(second.code, 0);
        QCOMPARE(Fetch("http", port, "/api/v1/projectors", second.out.trimmed()).status, 401);
        ::kill(pid_t(service.processId()), SIGHUP);
        QTRY_VERIFY_WITH_TIMEOUT(logged("settings reloaded", 1), 30000);
        QCOMPARE(Fetch("http", port, "/api/v1/projectors", second.out.trimmed()).status, 200);
        QCOMPARE(norvik3d({"--remove-token", "desk"}).code, 0);
        ::kill(pid_t(service.processId()), SIGHUP);
        QTRY_VERIFY_WITH_TIMEOUT(logged("settings reloaded", 2), 30000);
        QCOMPARE(Fetch("http", port, "/api/v1/projectors", first.out.trimmed()).status, 401);
        service.terminate();
        QVERIFY(service.waitForFinished(30000));
    }
};

QTEST_GUILESS_MAIN(TestApiTokens)
#include "test_api_tokens.moc"
