// norvik3d with one simulated projector answers every route of its table as
// docs/api/openapi.yaml describes it: with and without a token, another method
// (405 with Allow), HEAD (GET's answer without its body), each refusal, 429.

#include "status/HttpRules.h"
#include "status/StatusServer.h"

#include "status/SchemaCheck.h"
#include "support/SimProcess.h"
#include "support/TestPrograms.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

namespace {

constexpr int Wait = 30000;
const QString ProjectorId = QStringLiteral("0d4e8b52-3f6a-4a7c-8e21-9b0c5d7f1a31");
const QByteArray Mute = "{\"command\":\"mute\",\"value\":\"on\"}";
using Headers = QList<std::pair<QByteArray, QByteArray>>;

struct Answer {
    int status = 0; // 0: no answer
    Headers headers;
    QByteArray body;

    QByteArray header(const QByteArray& name) const {
        for (const auto& [key, value] : headers)
            if (key.compare(name, Qt::CaseInsensitive) == 0)
                return value;
        return {};
    }
};

// A request of the table: `route` as the description names it (empty for a
// path it does not have), `path` as asked; the status and Allow it expects.
struct Request {
    QByteArray method;
    QString route, path;
    QByteArray token, body;
    int status;
    QByteArray allow = {};
};

// One request on a connection of its own, read until the endpoint closes it,
// so that HEAD shows whatever it sent after the head.
Answer Ask(quint16 port, const QByteArray& method, const QString& path, const QByteArray& token,
           const QByteArray& body = {}) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(Wait))
        return {};
    socket.write(method + ' ' + path.toUtf8() +
                 " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
                 (token.isEmpty() ? QByteArray() : "Authorization: Bearer " + token + "\r\n") +
                 (body.isEmpty() ? QByteArray()
                                 : "Content-Type: application/json\r\nContent-Length: " +
                                       QByteArray::number(body.size()) + "\r\n") +
                 "\r\n" + body);
    QByteArray bytes;
    const QDeadlineTimer deadline(Wait);
    while (socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired())
        bytes += socket.waitForReadyRead(100) ? socket.readAll() : QByteArray();
    bytes += socket.readAll();
    const qsizetype end = bytes.indexOf("\r\n\r\n");
    if (end < 0)
        return {};
    const QList<QByteArray> lines = bytes.first(end).split('\n');
    Answer answer{lines[0].split(' ').value(1).toInt(), {}, bytes.mid(end + 4)};
    for (const QByteArray& line : lines.mid(1))
        if (const qsizetype colon = line.indexOf(':'); colon > 0)
            answer.headers.append({line.first(colon).trimmed(), line.mid(colon + 1).trimmed()});
    return answer;
}

// The answer for openapi_check.py.
QJsonObject Exchange(const QString& label, const QByteArray& method, const QString& route,
                     const Answer& answer) {
    QJsonObject headers;
    for (const auto& [name, value] : answer.headers)
        headers.insert(QString::fromLatin1(name), QString::fromLatin1(value));
    QJsonObject exchange{{"label", label},     {"method", QString::fromLatin1(method)},
                         {"route", route},     {"status", answer.status},
                         {"headers", headers}, {"body", QString::fromUtf8(answer.body)}};
    if (route.isEmpty())
        exchange.insert("response", QStringLiteral("NotFound"));
    return exchange;
}

// The headers but Content-Length, which differs where the body does.
Headers Described(const Answer& answer) {
    Headers headers;
    for (const auto& [name, value] : answer.headers)
        if (name.compare("Content-Length", Qt::CaseInsensitive) != 0)
            headers.append({name.toLower(), value});
    std::sort(headers.begin(), headers.end());
    return headers;
}

} // namespace

Q_DECLARE_METATYPE(Request)

class TestApiDescription : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    std::unique_ptr<SimProcess> m_sim;
    QProcess m_service;
    quint16 m_port = 0;
    QByteArray m_ops;       // a control token
    QByteArray m_panel;     // a read token
    QString m_command;      // the id of a command queued at the start
    QJsonArray m_exchanges; // every answer, checked against the description last

    void startService(QProcess& process, const QStringList& arguments) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("NORVIK3_HOME"), m_home.path());
        process.setProcessEnvironment(environment);
        process.start(TestBinary(QStringLiteral("norvik3d")), arguments);
    }

    QByteArray addToken(const QString& name, const QString& scope) {
        QProcess add;
        startService(add, {"--add-token", name, scope});
        return add.waitForFinished(Wait) && add.exitCode() == 0
                   ? add.readAllStandardOutput().trimmed()
                   : QByteArray();
    }

    void writeSettings() {
        QSettings s(m_home.filePath(QStringLiteral("Norvik3.conf")), QSettings::IniFormat);
        const std::pair<const char*, QString> values[] = {
            {"PJInfo/PJNum", "1"},
            {"PJInfo/1/ProjectorName", "R204"},
            {"PJInfo/1/ModelName", "VX-5100N"},
            {"PJInfo/1/ConnectionKind", "1"},
            {"PJInfo/1/IPAddress", "127.0.0.1"},
            {"PJInfo/1/PortNo", QString::number(m_sim->tcpPort(1))},
            {"PJInfo/1/ProjectorId", ProjectorId},
            {"PJTree/Node Count", "3"},
            {"Setting/StatusCheckInterval", "1"},
            {"Setting/StatusHttpPort", QString::number(m_port)}};
        for (const auto& [key, value] : values)
            s.setValue(key, value);
        const QStringList fields{"KeyName", "ParentKey", "Text", "PJIndex"};
        const QStringList nodes[] = {
            {"rt", "", "Campus", "-1"}, {"g0", "rt", "Hall", "-1"}, {"p0", "g0", "R204", "1"}};
        for (int n = 0; n < 3; ++n)
            for (int k = 0; k < 4; ++k)
                s.setValue(QStringLiteral("PJTree/%1/").arg(n + 1) + fields[k], nodes[n][k]);
    }

    // Asks again after Retry-After while the answer is 429: the refusals of
    // the table come faster than the endpoint takes them.
    Answer asked(const QString& label, const Request& request) {
        for (int attempt = 1;; ++attempt) {
            const Answer answer =
                Ask(m_port, request.method, request.path, request.token, request.body);
            m_exchanges.append(Exchange(label, request.method, request.route, answer));
            if (answer.status != 429 || attempt == 5)
                return answer;
            QTest::qWait(qMax(1, answer.header("Retry-After").toInt()) * 1000);
        }
    }

    // The route's path with the projector, the group or the command of this test.
    QString concrete(QString route) const {
        const QString kind = route.section(u'/', 3, 3);
        const QString id = kind == QLatin1String("projectors") ? ProjectorId
                           : kind == QLatin1String("groups")   ? QStringLiteral("Hall")
                           : kind == QLatin1String("commands") ? m_command
                                                               : QString();
        return id.isEmpty() ? route : route.replace(QStringLiteral("{id}"), id);
    }

  private slots:
    void initTestCase() {
        QVERIFY(m_home.isValid());
        m_sim = std::make_unique<SimProcess>(QStringList{"--tcp", "1"});
        QVERIFY2(m_sim->isReady(), qPrintable(m_sim->errorString()));
        m_port = FreeTcpPort();
        writeSettings();
        m_ops = addToken(QStringLiteral("ops"), QStringLiteral("control"));
        m_panel = addToken(QStringLiteral("panel"), QStringLiteral("read"));
        QVERIFY(!m_ops.isEmpty() && !m_panel.isEmpty());
        startService(m_service, {"--no-schedule"});
        QByteArray log;
        QTRY_VERIFY_WITH_TIMEOUT((log += m_service.readAllStandardError()).contains("started on"),
                                 Wait);
        // Healthy once the projector answered; the history once written.
        QTRY_COMPARE_WITH_TIMEOUT(Ask(m_port, "GET", "/api/v1/health", m_ops).status, 200, Wait);
        QTRY_COMPARE_WITH_TIMEOUT(Ask(m_port, "GET", "/api/v1/events", m_ops).status, 200, Wait);
        const Answer queued =
            Ask(m_port, "POST", "/api/v1/projectors/" + ProjectorId + "/commands", m_ops, Mute);
        QCOMPARE(queued.status, 202);
        m_command = QJsonDocument::fromJson(queued.body).object().value("id").toString();
        QVERIFY(!m_command.isEmpty());
    }

    void cleanupTestCase() {
        m_service.terminate();
        QVERIFY(m_service.waitForFinished(Wait));
    }

    void answers_data() {
        QTest::addColumn<Request>("request");
        for (const auto& [taken, pattern] : StatusServer::Routes()) {
            const QString route =
                QString(pattern).replace(QStringLiteral("<id>"), QStringLiteral("{id}"));
            const QString path = concrete(route);
            const QByteArray allow = AllowedMethods(taken);
            const bool get = taken == "GET";
            const QByteArray body = route.endsWith(QLatin1String("/commands")) ? Mute : "";
            const int answered = get || route.contains(QLatin1String("schedule")) ? 200 : 202;
            const int open = route == QLatin1String("/api/v1/health") ? 200 : 401;
            const QByteArray r = route.toLatin1();
            QTest::addRow("%s %s", taken.constData(), r.constData())
                << Request{taken, route, path, m_ops, body, answered};
            QTest::addRow("%s %s without a token", taken.constData(), r.constData())
                << Request{taken, route, path, {}, body, open};
            QTest::addRow("%s with another method", r.constData())
                << Request{get ? "DELETE" : "GET", route, path, m_ops, body, 405, allow};
            QTest::addRow("HEAD %s", r.constData())
                << Request{"HEAD", route, path, m_ops, {}, get ? answered : 405, get ? "" : allow};
        }
        const QString projector = QStringLiteral("/api/v1/projectors/{id}/commands");
        const QString schedule = QStringLiteral("/api/v1/schedule/start");
        const QString events = QStringLiteral("/api/v1/events");
        const QByteArray big = "{\"command\":\"mute\",\"value\":\"" + QByteArray(5000, 'x') + "\"}";
        const QString stranger =
            QStringLiteral("/api/v1/projectors/6f1c2a4e-0000-4000-8000-000000000001/commands");
        const QString group = QStringLiteral("/api/v1/groups/{id}/commands");
        const QString command = QStringLiteral("/api/v1/commands/{id}");
        const QString v2 = QStringLiteral("/api/v2/projectors");
        const std::pair<const char*, Request> refusals[] = {
            {"events, limit over 1000", {"GET", events, events + "?limit=1001", m_ops, {}, 400}},
            {"events, unknown kind", {"GET", events, events + "?kind=dance", m_ops, {}, 400}},
            {"unknown projector", {"POST", projector, stranger, m_ops, Mute, 404}},
            {"unknown group", {"POST", group, "/api/v1/groups/Attic/commands", m_ops, Mute, 404}},
            {"unknown command", {"GET", command, "/api/v1/commands/999999", m_ops, {}, 404}},
            {"not a command", {"POST", projector, concrete(projector), m_ops, "{power", 400}},
            {"read token controls", {"POST", projector, concrete(projector), m_panel, Mute, 403}},
            {"read token starts the schedule", {"POST", schedule, schedule, m_panel, {}, 403}},
            {"body over 4 KiB", {"POST", projector, concrete(projector), m_ops, big, 413}},
            {"no such path", {"GET", {}, v2, m_ops, {}, 404}},
            {"HEAD of no such path", {"HEAD", {}, v2, m_ops, {}, 404}}};
        for (const auto& [tag, request] : refusals)
            QTest::newRow(tag) << request;
    }

    void answers() {
        QFETCH(Request, request);
        const QString label = QString::fromLatin1(QTest::currentDataTag());
        const Answer answer = asked(label, request);
        QCOMPARE(answer.status, request.status);
        QCOMPARE(answer.header("Allow"), request.allow);
        if (request.method != "HEAD") {
            if (request.status >= 400)
                QVERIFY2(answer.header("Content-Type") == "application/json",
                         answer.body.constData());
            QCOMPARE(answer.header("Content-Length").toInt(), answer.body.size());
            return;
        }
        QVERIFY(answer.body.isEmpty());
        QVERIFY(!answer.header("Content-Length").isEmpty());
        if (request.status == 405)
            return;
        const Answer get = asked(label + QStringLiteral(", its GET"),
                                 {"GET", request.route, request.path, request.token, {}, 0});
        QCOMPARE(answer.status, get.status);
        QCOMPARE(Described(answer), Described(get));
    }

    // A client refused past 10 times a second is told when to come back, and
    // is looked at again once it waited that long.
    void tooManyRefusalsTellWhenToComeBack() {
        const QString schedule = QStringLiteral("/api/v1/schedule/start");
        Answer answer;
        for (int i = 0; i < 200 && answer.status != 429; ++i)
            answer = Ask(m_port, "POST", schedule, m_panel);
        m_exchanges.append(Exchange(QStringLiteral("refused too often"), "POST", schedule, answer));
        QCOMPARE(answer.status, 429);
        const int seconds = answer.header("Retry-After").toInt();
        QVERIFY(seconds >= 1);
        QTest::qWait(seconds * 1000);
        QCOMPARE(Ask(m_port, "POST", schedule, m_panel).status, 403);
    }

    // Last: every answer above against its route's description.
    void answersMatchTheDescription() {
        QVERIFY(m_exchanges.size() >= 4 * StatusServer::Routes().size());
        const QByteArray findings = OpenApiFindings(m_exchanges);
        QVERIFY2(findings.isEmpty(), findings.constData());
    }
};

QTEST_GUILESS_MAIN(TestApiDescription)
#include "test_api_description.moc"
