// The endpoint's control routes against the program core and simulated
// projectors: commands reach the projectors and their outcome reads back,
// every way of asking wrongly gets its own answer, and every request is in
// the history with its token's name.

#include "ControlFixture.h"

#include "status/HttpRules.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QProcess>

#include "schedule/ScheduleRunner.h"

class TestControlApi : public QObject {
    Q_OBJECT
    std::unique_ptr<ControlFleet> m_fleet;

    QString projectorPath(int p) {
        return QStringLiteral("/api/v1/projectors/%1/commands").arg(m_fleet->idOf(p));
    }
    // "p<n>" for projector n's commands, "{p<n>}" and "{P<n>}" for its id
    // in the path, in lower and upper case.
    QString expanded(QString path) {
        if (path.startsWith(u'p'))
            return projectorPath(path.mid(1).toInt());
        for (int p = 1; p <= 3; ++p)
            path.replace(QStringLiteral("{p%1}").arg(p), m_fleet->idOf(p))
                .replace(QStringLiteral("{P%1}").arg(p), m_fleet->idOf(p).toUpper());
        return path;
    }
    qint64 m_minute = 0; // how many minutes the audit test moved the clock on

  private slots:
    void initTestCase() {
        m_fleet = std::make_unique<ControlFleet>();
        if (!m_fleet->isReady())
            QSKIP(qPrintable(m_fleet->problem()));
        QVERIFY(m_fleet->serving());
        QVERIFY(m_fleet->pass());
        AddGroupNode(m_fleet->state(), QStringLiteral("Rack/2"), nullptr);
    }
    void cleanupTestCase() { m_fleet.reset(); }

    void commandsReachTheProjectors_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("token");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("projectors");
        QTest::addColumn<bool>("power"); // the power status of the first changes
        QTest::newRow("projector on")
            << "p1" << OpsToken << QByteArray("{\"command\":\"power\",\"value\":\"on\"}") << 1
            << true;
        QTest::newRow("id in capitals")
            << "/api/v1/projectors/{P2}/commands" << OpsToken
            << QByteArray("{\"command\":\"mute\",\"value\":\"off\"}") << 1 << false;
        QTest::newRow("group off, group token")
            << "/api/v1/groups/Hall/commands" << BookingToken
            << QByteArray("{\"command\":\"power\",\"value\":\"off\"}") << 2 << true;
        QTest::newRow("aspect") << "p1" << OpsToken
                                << QByteArray("{\"command\":\"aspect\",\"value\":\"16:9\"}") << 1
                                << false;
        QTest::newRow("pjlink power on")
            << "p3" << OpsToken << QByteArray("{\"command\":\"power\",\"value\":\"on\"}") << 1
            << false;
        // The input as /api/v1/projectors shows it, and its code.
        QTest::newRow("pjlink input by its text")
            << "p3" << OpsToken << QByteArray("{\"command\":\"input\",\"value\":\"RGB 2\"}") << 1
            << false;
        QTest::newRow("pjlink input by its code")
            << "p3" << OpsToken << QByteArray("{\"command\":\"input\",\"value\":\"21\"}") << 1
            << false;
    }
    void commandsReachTheProjectors() {
        QFETCH(QString, path);
        QFETCH(QByteArray, token);
        QFETCH(QByteArray, body);
        QFETCH(int, projectors);
        QFETCH(bool, power);
        path = expanded(path);
        // An input is taken once the projector is on, not while it warms up.
        if (body.contains("input"))
            m_fleet->control(QStringLiteral("pj 3 power 1"));
        const qint16 before = m_fleet->state().Projectors[1].PowerStatus;
        const Answered a = m_fleet->call("POST", path, token, body);
        QCOMPARE(a.status, 202);
        const QByteArray id =
            QJsonDocument::fromJson(a.body).object().value("id").toString().toLatin1();
        QVERIFY(!id.isEmpty());
        const QJsonArray outcome = m_fleet->outcome(id);
        QCOMPARE(outcome.size(), projectors);
        for (const QJsonValue& v : outcome)
            QCOMPARE(v.toObject().value("outcome").toString(), QStringLiteral("acknowledged"));
        if (power) {
            QVERIFY(m_fleet->pass());
            const int p = ProjectorIndexOfId(m_fleet->state(),
                                             outcome[0].toObject().value("projector").toString());
            QVERIFY(m_fleet->state().Projectors[std::size_t(p)].PowerStatus != before);
        }
    }

    void wrongRequestsAreRefused_data() {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("token");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("reason");
        const QByteArray on = "{\"command\":\"power\",\"value\":\"on\"}";
        QTest::newRow("no token") << QByteArray("POST") << "p1" << QByteArray() << on << 401
                                  << "unauthorized";
        QTest::newRow("wrong token")
            << QByteArray("POST") << "p1" << QByteArray("nope") << on << 401 << "unauthorized";
        QTest::newRow("read token")
            << QByteArray("POST") << "p1" << PanelToken << on << 403 << "read token";
        QTest::newRow("read token, schedule") << QByteArray("POST") << "/api/v1/schedule/start"
                                              << PanelToken << QByteArray() << 403 << "read token";
        QTest::newRow("other group's projector")
            << QByteArray("POST") << "p3" << BookingToken << on << 403 << "may not control";
        QTest::newRow("other group") << QByteArray("POST") << "/api/v1/groups/Lab/commands"
                                     << BookingToken << on << 403 << "may not control";
        QTest::newRow("unknown projector")
            << QByteArray("POST")
            << "/api/v1/projectors/6f1c2a4e-0000-4000-8000-000000000001/commands" << OpsToken << on
            << 404 << "no projector";
        QTest::newRow("unknown group") << QByteArray("POST") << "/api/v1/groups/Attic/commands"
                                       << OpsToken << on << 404 << "no group";
        QTest::newRow("group token, schedule stop")
            << QByteArray("POST") << "/api/v1/schedule/stop" << BookingToken << QByteArray() << 403
            << "limited to groups";
        QTest::newRow("group token, schedule start")
            << QByteArray("POST") << "/api/v1/schedule/start" << BookingToken << QByteArray() << 403
            << "limited to groups";
        QTest::newRow("id with a tail")
            << QByteArray("POST") << "/api/v1/projectors/{p1}xyz/commands" << OpsToken << on << 404
            << "no projector";
        QTest::newRow("id with a zero byte")
            << QByteArray("POST") << "/api/v1/projectors/{p1}%00/commands" << OpsToken << on << 404
            << "no projector";
        QTest::newRow("id in braces")
            << QByteArray("POST") << "/api/v1/projectors/%7B{p1}%7D/commands" << OpsToken << on
            << 404 << "no projector";
        // Found: its body is what is refused.
        QTest::newRow("group name with a slash")
            << QByteArray("POST") << "/api/v1/groups/Rack%2F2/commands" << OpsToken
            << QByteArray("[1]") << 400 << "not a JSON object";
        QTest::newRow("unknown command id") << QByteArray("GET") << "/api/v1/commands/999999"
                                            << OpsToken << QByteArray() << 404 << "no command";
        QTest::newRow("not json") << QByteArray("POST") << "p1" << OpsToken << QByteArray("{power")
                                  << 400 << "not JSON";
        QTest::newRow("not an object") << QByteArray("POST") << "p1" << OpsToken
                                       << QByteArray("[1]") << 400 << "not a JSON object";
        QTest::newRow("unknown field")
            << QByteArray("POST") << "p1" << OpsToken
            << QByteArray("{\"command\":\"power\",\"value\":\"on\",\"x\":1}") << 400
            << "unknown field";
        QTest::newRow("unknown command")
            << QByteArray("POST") << "p1" << OpsToken << QByteArray("{\"command\":\"dance\"}")
            << 400 << "unknown command";
        QTest::newRow("bad value")
            << QByteArray("POST") << "p1" << OpsToken
            << QByteArray("{\"command\":\"power\",\"value\":\"maybe\"}") << 400 << "takes";
        QTest::newRow("unknown input")
            << QByteArray("POST") << "p1" << OpsToken
            << QByteArray("{\"command\":\"input\",\"value\":\"DVI\"}") << 400 << "no input";
        QTest::newRow("unknown aspect")
            << QByteArray("POST") << "p1" << OpsToken
            << QByteArray("{\"command\":\"aspect\",\"value\":\"Cinema\"}") << 400 << "no aspect";
        QTest::newRow("pjlink aspect") << QByteArray("POST") << "p3" << OpsToken
                                       << QByteArray("{\"command\":\"aspect\",\"value\":\"16:9\"}")
                                       << 400 << "PJLink projectors have no aspect";
        QTest::newRow("reset unconfirmed")
            << QByteArray("POST") << "p1" << OpsToken << QByteArray("{\"command\":\"lamp-reset\"}")
            << 400 << "confirm";
        QTest::newRow("oversized")
            << QByteArray("POST") << "p1" << OpsToken
            << ("{\"command\":\"power\",\"value\":\"" + QByteArray(5000, 'x') + "\"}") << 413
            << "over 4096";
        QTest::newRow("wrong method")
            << QByteArray("GET") << "p1" << OpsToken << QByteArray() << 405 << "method";
    }
    void wrongRequestsAreRefused() {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(QByteArray, token);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QString, reason);
        path = expanded(path);
        const int queued = QueueLength(m_fleet->state(), 1);
        const Answered a = m_fleet->call(method, path, token, body);
        QCOMPARE(a.status, status);
        const QJsonObject error = QJsonDocument::fromJson(a.body).object();
        QCOMPARE(error["error"].toString().toLatin1(), ErrorName(status));
        QVERIFY2(QString::fromUtf8(a.body).contains(reason), a.body.constData());
        QCOMPARE(QueueLength(m_fleet->state(), 1), queued);
        // Polling goes on whatever a client sent.
        QVERIFY(m_fleet->pass());
    }

    // While the tree is edited, or a power question of the window is open
    // over a node whose queues "Yes" flushes, its commands are held.
    void heldWhileTheWindowActs_data() {
        QTest::addColumn<QString>("hold"); // "edit", or the node flushed: "Hall" or "p1"
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("status");
        const QString hall = QStringLiteral("/api/v1/groups/Hall/commands");
        QTest::newRow("tree edited") << "edit"
                                     << "p1" << 409;
        QTest::newRow("group flushed, member") << "Hall"
                                               << "p2" << 409;
        QTest::newRow("group flushed, the group") << "Hall" << hall << 409;
        QTest::newRow("group flushed, outsider") << "Hall"
                                                 << "p3" << 202;
        QTest::newRow("projector flushed, its group") << "p1" << hall << 409;
        QTest::newRow("projector flushed, another") << "p1"
                                                    << "p2" << 202;
    }
    void heldWhileTheWindowActs() {
        QFETCH(QString, hold);
        QFETCH(QString, path);
        QFETCH(int, status);
        AppState& s = m_fleet->state();
        if (path.startsWith(u'p'))
            path = projectorPath(path.mid(1).toInt());
        if (hold == QLatin1String("edit"))
            s.ProjectorDialogMode = 1;
        else
            s.FlushPendingNode =
                qint16(hold == QLatin1String("Hall") ? m_fleet->hall : NodeOfProjector(s, 1));
        const Answered a =
            m_fleet->call("POST", path, OpsToken, "{\"command\":\"mute\",\"value\":\"on\"}");
        s.ProjectorDialogMode = -1;
        s.FlushPendingNode = -1;
        QCOMPARE(a.status, status);
        if (status == 409 && hold != QLatin1String("edit"))
            QVERIFY(a.body.contains("about to flush the queue"));
        QVERIFY(m_fleet->idle());
    }

    void pastTheRateIsRefused() {
        AppState& s = m_fleet->state();
        s.clock.set(QDateTime(QDate(2026, 3, 2), QTime(9, 0)));
        QList<int> statuses;
        for (int n = 0; n <= ControlRoutes::MaxPerSecond; ++n)
            statuses << m_fleet
                            ->call("POST", projectorPath(2), OpsToken,
                                   "{\"command\":\"mute\",\"value\":\"off\"}")
                            .status;
        s.clock.advance(1000);
        statuses << m_fleet
                        ->call("POST", projectorPath(2), OpsToken,
                               "{\"command\":\"mute\",\"value\":\"off\"}")
                        .status;
        s.clock.reset();
        QList<int> expected(ControlRoutes::MaxPerSecond, 202);
        expected << 429 << 202;
        QCOMPARE(statuses, expected);
        QVERIFY(m_fleet->idle());
    }

    void scheduleStartsAndStops() {
        QCOMPARE(m_fleet->call("POST", "/api/v1/schedule/start", OpsToken).body.trimmed(),
                 QByteArray("{\"running\":true}"));
        QVERIFY(m_fleet->core.runner().isRunning());
        QCOMPARE(m_fleet->call("POST", "/api/v1/schedule/stop", OpsToken).body.trimmed(),
                 QByteArray("{\"running\":false}"));
        QVERIFY(!m_fleet->core.runner().isRunning());
    }

    // Accepted requests each; the refusals of one address at most once a
    // minute, counted, once the minute is over.
    void everyRequestIsInTheHistory() {
        AppState& s = m_fleet->state();
        s.clock.set(QDateTime::currentDateTime().addSecs(61));
        QVERIFY(m_fleet->pass());
        s.clock.reset();
        QVERIFY(m_fleet->settle());
        std::vector<HistoryEvent> audits;
        std::vector<HistoryEvent> refusals;
        for (const HistoryEvent& e : m_fleet->events(EventKind::Command))
            if (e.source == EventSource::Endpoint && !e.client.isEmpty())
                (e.outcome.startsWith(u'2') || e.outcome.at(0).isLetter() ? audits : refusals)
                    .push_back(e);
        const auto has = [&](const QString& client, const QString& outcome) {
            return std::any_of(audits.begin(), audits.end(), [&](const HistoryEvent& e) {
                return e.client == client && e.outcome.startsWith(outcome);
            });
        };
        QVERIFY(has("ops@127.0.0.1", "202"));
        QVERIFY(has("booking@127.0.0.1", "202"));
        // The commands themselves, with their outcome, name the client too.
        QVERIFY(has("ops@127.0.0.1", "acknowledged"));
        // Over 30 refusals in a few events: the first, one after the pinned
        // clock of the rate test went back and forth, and the rest counted.
        QVERIFY2(refusals.size() >= 2 && refusals.size() <= 4,
                 qPrintable(QString::number(refusals.size())));
        qint64 counted = 0;
        for (const HistoryEvent& e : refusals)
            counted += e.value.value_or(1);
        QVERIFY2(counted >= 30, qPrintable(QString::number(counted)));
        QVERIFY(std::any_of(refusals.begin(), refusals.end(), [](const HistoryEvent& e) {
            return e.client == QLatin1String("-@127.0.0.1") && e.outcome.startsWith("401");
        }));
        QVERIFY(std::any_of(refusals.begin(), refusals.end(), [](const HistoryEvent& e) {
            return e.value > 1 && e.text.contains(QLatin1String("refused requests, the last: "));
        }));
        // The history's search finds a token's requests by its name.
        EventStore store(m_fleet->historyFile(), EventStore::Mode::Read);
        QCOMPARE(store.open(), EventStore::OpenResult::Opened);
        EventFilter filter;
        filter.text = QStringLiteral("booking");
        const EventPage page = store.page(filter, std::nullopt, EventStore::MaxPage);
        QVERIFY(!page.events.empty());
        for (const HistoryEvent& e : page.events)
            QVERIFY(e.client.startsWith(QLatin1String("booking@")));
    }

    // What the history keeps of a request: the method as sent, the route
    // with its id cut short, the parsed body, all on one line.
    void theRecordShowsTheRequest_data() {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("token");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("outcome");
        const QByteArray off = "{\"command\":\"power\",\"value\":\"off\"}";
        QTest::newRow("blanks before the body")
            << QByteArray("POST") << "p1" << OpsToken << QByteArray(600, ' ') + off
            << "POST /api/v1/projectors/{p1}/commands " + QString::fromLatin1(off)
            << "202 accepted";
        QTest::newRow("put") << QByteArray("PUT") << "p1" << OpsToken << off
                             << "PUT /api/v1/projectors/{p1}/commands " + QString::fromLatin1(off)
                             << "405 method";
        QTest::newRow("delete") << QByteArray("DELETE") << "p1" << OpsToken << QByteArray()
                                << "DELETE /api/v1/projectors/{p1}/commands"
                                << "405 method";
        QTest::newRow("a long id")
            << QByteArray("POST") << "/api/v1/projectors/" + QString(20000, u'x') + "/commands"
            << QByteArray() << off
            << "POST /api/v1/projectors/" + QString(ControlRoutes::MaxShownId, u'x') +
                   "…(20000 chars)/commands " + QString::fromLatin1(off)
            << "401 unauthorized";
        QTest::newRow("line breaks in the body")
            << QByteArray("POST") << "p2" << QByteArray() << QByteArray("x\ncontrol ops@1 -> 202")
            << "POST /api/v1/projectors/{p2}/commands x\\ncontrol ops@1 -> 202"
            << "401 unauthorized";
    }
    void theRecordShowsTheRequest() {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(QByteArray, token);
        QFETCH(QByteArray, body);
        QFETCH(QString, text);
        QFETCH(QString, outcome);
        // A minute of its own, so that a refusal is recorded at once.
        AppState& s = m_fleet->state();
        s.clock.set(QDateTime::currentDateTime().addSecs(3600 + 61 * ++m_minute));
        const qint64 at = s.clock.now().toMSecsSinceEpoch();
        m_fleet->call(method, expanded(path), token, body);
        s.clock.reset();
        QVERIFY(m_fleet->idle());
        QVERIFY(m_fleet->settle());
        std::vector<HistoryEvent> recorded;
        for (const HistoryEvent& e : m_fleet->events(EventKind::Command))
            if (e.timeMs == at && e.outcome.at(0).isDigit())
                recorded.push_back(e);
        QCOMPARE(recorded.size(), std::size_t(1));
        QCOMPARE(recorded[0].text, expanded(text));
        QVERIFY2(recorded[0].outcome.startsWith(outcome), qPrintable(recorded[0].outcome));
        QCOMPARE(recorded[0].client,
                 (token.isEmpty() ? "-" : "ops") + QStringLiteral("@127.0.0.1"));
    }

    // The description names every route the endpoint has, and each of them
    // answers there.
    void describedRoutesAreServed() {
        const QString file = qEnvironmentVariable("NORVIK3_SOURCE_DIR") + "/docs/api/openapi.yaml";
        QVERIFY2(QFile::exists(file), qPrintable(file));
        QProcess python;
        python.start(QStringLiteral("/usr/bin/python3"),
                     {QStringLiteral("-c"),
                      QStringLiteral("import sys, yaml\n"
                                     "d = yaml.safe_load(open(sys.argv[1]))\n"
                                     "for path, item in d['paths'].items():\n"
                                     "    for method, op in item.items():\n"
                                     "        assert op['responses'], path\n"
                                     "        print(method.upper(), path)\n"),
                      file});
        QVERIFY(python.waitForFinished(60000));
        if (python.exitCode() != 0 && python.readAllStandardError().contains("No module named"))
            QSKIP("python3-yaml is not installed (scripts/setup installs it)");
        QCOMPARE(python.exitCode(), 0);
        QStringList described =
            QString::fromUtf8(python.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        QStringList served;
        for (const auto& [method, path] : StatusServer::Routes())
            served << QString::fromLatin1(method) + u' ' +
                          QString(path).replace(QStringLiteral("<id>"), QStringLiteral("{id}"));
        described.sort();
        served.sort();
        QCOMPARE(described, served);

        const Answered posted = m_fleet->call("POST", projectorPath(2), OpsToken,
                                              "{\"command\":\"mute\",\"value\":\"on\"}");
        QCOMPARE(posted.status, 202);
        const QString command =
            QJsonDocument::fromJson(posted.body).object().value("id").toString();
        const QHash<QString, QString> ids = {{QStringLiteral("projectors"), m_fleet->idOf(2)},
                                             {QStringLiteral("groups"), QStringLiteral("Hall")},
                                             {QStringLiteral("commands"), command}};
        for (const QString& route : served) {
            const QByteArray method = route.section(u' ', 0, 0).toLatin1();
            QString path = route.section(u' ', 1);
            if (path.contains(QLatin1String("{id}")))
                path.replace(QStringLiteral("{id}"), ids.value(path.section(u'/', 3, 3)));
            const QByteArray body = path.endsWith(QLatin1String("/commands"))
                                        ? QByteArray("{\"command\":\"mute\",\"value\":\"off\"}")
                                        : QByteArray();
            const int status = m_fleet->call(method, path, OpsToken, body).status;
            QVERIFY2(status != 404 && status != 0,
                     qPrintable(route + QStringLiteral(": ") + QString::number(status)));
        }
        QVERIFY(m_fleet->idle());
    }

    // Last: it deletes projector 1 while projector 2, silent, has a command
    // pending, and the projector renumbered into 2's position answers.
    void aDeletedProjectorsIdIsUnknown() {
        AppState& s = m_fleet->state();
        const QString gone = m_fleet->idOf(1);
        const QString kept = m_fleet->idOf(2);
        const QByteArray on = "{\"command\":\"power\",\"value\":\"on\"}";
        m_fleet->control(QStringLiteral("silent 2 on"));
        const Answered pending = m_fleet->call("POST", projectorPath(2), OpsToken, on);
        QCOMPARE(pending.status, 202);
        DeleteProjectorNode(s, NodeOfProjector(s, 1));
        QCOMPARE(m_fleet->idOf(1), kept);
        const QJsonArray moved = m_fleet->outcome(
            QJsonDocument::fromJson(pending.body).object().value("id").toString().toLatin1());
        QCOMPARE(moved.size(), 1);
        QCOMPARE(moved[0].toObject().value("outcome").toString(), QStringLiteral("cancelled"));
        QVERIFY(m_fleet->idle());
        m_fleet->control(QStringLiteral("silent 2 off"));
        QCOMPARE(m_fleet
                     ->call("POST", QStringLiteral("/api/v1/projectors/%1/commands").arg(gone),
                            OpsToken, on)
                     .status,
                 404);
        const Answered a = m_fleet->call(
            "POST", QStringLiteral("/api/v1/projectors/%1/commands").arg(kept), OpsToken, on);
        QCOMPARE(a.status, 202);
        const QJsonArray outcome = m_fleet->outcome(
            QJsonDocument::fromJson(a.body).object().value("id").toString().toLatin1());
        QCOMPARE(outcome.size(), 1);
        QCOMPARE(outcome[0].toObject().value("projector").toString(), kept);
        QCOMPARE(outcome[0].toObject().value("outcome").toString(), QStringLiteral("acknowledged"));
    }

    void controlNeedsHttpsBeyondLoopback() {
        QString address;
        for (const QHostAddress& a : QNetworkInterface::allAddresses())
            if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback())
                address = a.toString();
        if (address.isEmpty())
            QSKIP("this machine has no address beyond loopback");
        m_fleet.reset();
        ControlFleet remote(address);
        QVERIFY(remote.serving());
        const Answered a = remote.call(
            "POST", QStringLiteral("/api/v1/projectors/%1/commands").arg(remote.idOf(1)), OpsToken,
            "{\"command\":\"power\",\"value\":\"on\"}");
        QCOMPARE(a.status, 403);
        QVERIFY(a.body.contains(ControlNeedsTlsText));
        QCOMPARE(remote.call("GET", "/api/v1/projectors", PanelToken).status, 200);
    }
};

QTEST_MAIN(TestControlApi)
#include "test_control_api.moc"
