// The history and the forecasts from outside, through the status endpoint on
// 127.0.0.1 over a real history file: pages chained by their cursors to the
// end with no event twice or missing, the filters, refused parameters, the
// answer without a readable history, the forecast route and its metrics.

#include "core/AppState.h"
#include "core/Fleet.h"
#include "history/HistoryTime.h"
#include "status/HttpRules.h"
#include "status/SchemaCheck.h"
#include "status/StatusServer.h"
#include "support/HistoryFixture.h"

#include "support/ProjectorRecords.h"
#include "support/Promtool.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>
#include <set>

namespace {

constexpr int Wait = 20000;
const QByteArray Token = "fedcba9876543210";
constexpr int Events = 2500;

QString IdOf(int p) {
    return QStringLiteral("0b5e7c1a-3f2d-4e6b-8a71-%1").arg(p, 12, 10, QLatin1Char('0'));
}

struct Answer {
    int status = 0;
    QByteArray body;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

// One request on a connection of its own, read until the server closes it.
Answer Fetch(quint16 port, const QByteArray& path, const QByteArray& token = Token) {
    QTcpSocket socket;
    QByteArray received;
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] { received += socket.readAll(); });
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.write("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
                 (token.isEmpty() ? QByteArray() : "Authorization: Bearer " + token + "\r\n") +
                 "\r\n");
    QDeadlineTimer deadline(Wait);
    while (socket.state() != QAbstractSocket::UnconnectedState && !deadline.hasExpired())
        QTest::qWait(5);
    received += socket.readAll();
    const qsizetype headEnd = received.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return {};
    return {received.split(' ').value(1).toInt(), received.mid(headEnd + 4)};
}

// 16 projectors with ids, the even ones in the group "Main Hall", over a
// program folder of their own.
struct Fleet {
    QTemporaryDir folder;
    AppState state;
    StatusServer server;

    Fleet() : server(state, StatusEndpointSettings{"127.0.0.1", 0, QString::fromLatin1(Token)}) {
        state.ProgramFolder = folder.path();
        ResetAllProjectors(state);
        ResetTree(state);
        const int hall = AddGroupNode(state, QStringLiteral("Main Hall"), nullptr);
        AddGroupNode(state, QStringLiteral("Empty"), nullptr);
        for (int p = 1; p <= 16; ++p)
            AddProjector(state, p % 2 == 0 ? hall : 1,
                         LanProjector(QStringLiteral("R%1").arg(200 + p),
                                      QStringLiteral("192.0.2.%1").arg(p), QString())
                             .id(IdOf(p)));
    }
    QString historyFile() const { return folder.filePath(QStringLiteral("History.sqlite")); }
    QStringList ids() const {
        QStringList list;
        for (int p = 1; p <= 16; ++p)
            list << IdOf(p);
        return list;
    }
    Answer get(const QByteArray& path) { return Fetch(server.port(), path); }
};

// Every event's id of a chain of pages, following `next` to the end.
struct Chain {
    std::vector<qint64> ids;
    QList<int> pageSizes;
    QString problem;
};

Chain Follow(Fleet& fleet, const QByteArray& query) {
    Chain chain;
    QByteArray cursor;
    for (int pages = 0; pages < 100; ++pages) {
        const Answer answer = fleet.get("/api/v1/events?" + query + cursor);
        if (answer.status != 200) {
            chain.problem = QStringLiteral("%1: %2").arg(answer.status).arg(answer.body);
            return chain;
        }
        const QJsonObject o = answer.json();
        const QJsonArray events = o["events"].toArray();
        chain.pageSizes << int(events.size());
        for (const QJsonValue& e : events)
            chain.ids.push_back(e["id"].toInteger());
        if (!o.contains("next"))
            return chain;
        cursor = "&cursor=" + o["next"].toString().toLatin1();
    }
    chain.problem = QStringLiteral("no last page");
    return chain;
}

using Keep = std::function<bool(const HistoryEvent&)>;

} // namespace

Q_DECLARE_METATYPE(Keep)

class TestHistoryApi : public QObject {
    Q_OBJECT

    std::unique_ptr<Fleet> m_fleet;
    std::unique_ptr<SampleHistory> m_history;

  private slots:
    void initTestCase() {
        m_fleet = std::make_unique<Fleet>();
        m_history = std::make_unique<SampleHistory>(m_fleet->historyFile(), Events, m_fleet->ids());
        QVERIFY2(m_history->problem.isEmpty(), qPrintable(m_history->problem));
        QVERIFY2(m_fleet->server.start(), qPrintable(m_fleet->server.problem()));
    }

    void pagesChainToTheEnd_data() {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<Keep>("keep");
        QTest::addColumn<int>("limit");
        const qint64 since = SampleHistory::T0 + 1000 * SampleHistory::Step;
        const auto all = [](const HistoryEvent&) { return true; };
        QTest::addRow("all, pages of 1000") << QByteArray("limit=1000") << Keep(all) << 1000;
        QTest::addRow("default limit") << QByteArray() << Keep(all) << 100;
        QTest::addRow("one kind") << QByteArray("kind=error&limit=50")
                                  << Keep([](const HistoryEvent& e) {
                                         return e.kind == EventKind::Error;
                                     })
                                  << 50;
        QTest::addRow("two kinds")
            << QByteArray("kind=power,%20disconnect&limit=1000") << Keep([](const HistoryEvent& e) {
                   return e.kind == EventKind::Power || e.kind == EventKind::Disconnect;
               })
            << 1000;
        QTest::addRow("a projector, any spelling of its id")
            << "projector=" + IdOf(3).toUpper().toLatin1() + "&limit=40"
            << Keep([](const HistoryEvent& e) { return e.projectorId == IdOf(3); }) << 40;
        QTest::addRow("a group and a projector")
            << "group=main%20hall&projector=" + IdOf(5).toLatin1() + "&limit=1000"
            << Keep([](const HistoryEvent& e) {
                   const int p = e.projectorId.right(2).toInt();
                   return !e.projectorId.isEmpty() && (p % 2 == 0 || p == 5);
               })
            << 1000;
        QTest::addRow("since a time in UTC")
            << "since=" + HistoryTimeText(since).toLatin1() + "&limit=1000"
            << Keep([since](const HistoryEvent& e) { return e.timeMs >= since; }) << 1000;
        QTest::addRow("since and until, as offsets")
            << QByteArray("since=2026-05-28T22:36:40%2B02:00&until=2026-05-28T21:36:40Z&limit=1000")
            << Keep([](const HistoryEvent& e) {
                   return e.timeMs >= SampleHistory::T0 + 10 * SampleHistory::Step &&
                          e.timeMs < SampleHistory::T0 + 70 * SampleHistory::Step;
               })
            << 1000;
        QTest::addRow("text and kind")
            << QByteArray("text=FAN%20%222%22&kind=power&limit=1000")
            << Keep([](const HistoryEvent& e) {
                   return e.kind == EventKind::Power && e.text.contains("fan \"2\"");
               })
            << 1000;
        QTest::addRow("an empty group")
            << QByteArray("group=Empty") << Keep([](const HistoryEvent&) { return false; }) << 100;
    }

    void pagesChainToTheEnd() {
        QFETCH(QByteArray, query);
        QFETCH(Keep, keep);
        QFETCH(int, limit);
        const Chain chain = Follow(*m_fleet, query);
        QVERIFY2(chain.problem.isEmpty(), qPrintable(chain.problem));
        std::vector<qint64> expected;
        for (const HistoryEvent& e : m_history->newestFirst(keep))
            expected.push_back(e.id);
        QCOMPARE(chain.ids, expected);
        // Full pages, then the rest; one empty page when nothing matches.
        QList<int> sizes;
        int left = int(expected.size());
        for (; left > limit; left -= limit)
            sizes << limit;
        sizes << left;
        QCOMPARE(chain.pageSizes, sizes);
    }

    void eventsCarryWhatTheyHave() {
        const QJsonArray events =
            m_fleet->get("/api/v1/events?limit=1000").json()["events"].toArray();
        QCOMPARE(events.size(), 1000);
        const auto byId = [&](qint64 id) {
            for (const QJsonValue& e : events)
                if (e["id"].toInteger() == id)
                    return e.toObject();
            return QJsonObject();
        };
        for (const HistoryEvent& e : m_history->newestFirst()) {
            if (e.id <= Events - 1000)
                break;
            const QJsonObject o = byId(e.id);
            QCOMPARE(o["time"].toString(), HistoryTimeText(e.timeMs));
            QVERIFY2(o["time"].toString().endsWith(".000Z"), qPrintable(o["time"].toString()));
            QCOMPARE(o["kind"].toString(), EventKindName(e.kind));
            const auto text = [&](const char* key, const QString& value) {
                QCOMPARE(o.contains(key), !value.isEmpty());
                QCOMPARE(o[key].toString(), value);
            };
            text("projector_id", e.projectorId);
            text("projector", e.projectorName);
            text("group", e.groupName);
            text("text", e.text);
            text("outcome", e.outcome);
            text("source", EventSourceName(e.source));
            text("client", e.client);
            QCOMPARE(o.contains("value"), e.value.has_value());
            QCOMPARE(o["value"].toInteger(), e.value.value_or(0));
            QCOMPARE(o.contains("value2"), e.value2.has_value());
            QCOMPARE(o["value2"].toInteger(), e.value2.value_or(0));
        }
    }

    void wrongRequestsAreRefused_data() {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("token");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("reason");
        const QByteArray events = "/api/v1/events?";
        QTest::addRow("limit 0") << events + "limit=0" << Token << 400 << QByteArray("limit");
        QTest::addRow("limit 1001") << events + "limit=1001" << Token << 400 << QByteArray("1000");
        QTest::addRow("limit not a number")
            << events + "limit=ten" << Token << 400 << QByteArray("limit");
        QTest::addRow("made-up cursor")
            << events + "cursor=abc" << Token << 400 << QByteArray("cursor");
        QTest::addRow("cursor without id")
            << events + "cursor=1780000000000.0" << Token << 400 << QByteArray("cursor");
        QTest::addRow("unknown kind")
            << events + "kind=power,lamp" << Token << 400 << QByteArray("\"lamp\"");
        QTest::addRow("no projector id")
            << events + "projector=R204" << Token << 400 << QByteArray("\"R204\"");
        QTest::addRow("unknown group")
            << events + "group=Attic" << Token << 400 << QByteArray("\"Attic\"");
        QTest::addRow("since not a date")
            << events + "since=yesterday" << Token << 400 << QByteArray("since");
        QTest::addRow("until not a date")
            << events + "until=2026-13-01" << Token << 400 << QByteArray("until");
        QTest::addRow("unknown parameter") << events + "projetor=" + IdOf(1).toLatin1() << Token
                                           << 400 << QByteArray("\"projetor\"");
        QTest::addRow("twice") << events + "kind=power&kind=error" << Token << 400
                               << QByteArray("more than once");
        QTest::addRow("events without the token")
            << events << QByteArray() << 401 << QByteArray("no token");
        QTest::addRow("forecast without the token")
            << QByteArray("/api/v1/forecast") << QByteArray("wrong") << 401
            << QByteArray("a token the endpoint does not know");
    }

    void wrongRequestsAreRefused() {
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, token);
        QFETCH(int, status);
        QFETCH(QByteArray, reason);
        const Answer answer = Fetch(m_fleet->server.port(), path, token);
        QCOMPARE(answer.status, status);
        const QJsonObject error = answer.json();
        QCOMPARE(error["error"].toString().toLatin1(), ErrorName(status));
        QVERIFY2(error["reason"].toString().contains(QString::fromUtf8(reason)),
                 answer.body.constData());
    }

    // Without a readable file the answer says why, and once the program
    // (re)starts the file the endpoint reads that one.
    void historyThatCannotBeRead() {
        Fleet fleet;
        QVERIFY(fleet.server.start());
        Answer answer = fleet.get("/api/v1/events");
        QCOMPARE(answer.status, 503);
        QVERIFY2(answer.body.contains("does not exist"), answer.body.constData());

        QFile broken(fleet.historyFile());
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write(QByteArray(8192, 'x'));
        broken.close();
        answer = fleet.get("/api/v1/events");
        QCOMPARE(answer.status, 503);
        QVERIFY2(answer.body.contains("cannot be read"), answer.body.constData());
        // Moving a damaged file aside is the program's, not a reader's.
        QCOMPARE(QDir(fleet.folder.path()).entryList({"History.sqlite*"}, QDir::Files),
                 QStringList{"History.sqlite"});

        QVERIFY(QFile::remove(fleet.historyFile()));
        QVERIFY(SampleHistory(fleet.historyFile(), 3, fleet.ids()).problem.isEmpty());
        answer = fleet.get("/api/v1/events");
        QCOMPARE(answer.status, 200);
        QCOMPARE(answer.json()["events"].toArray().size(), 3);

        // A new file in its place (the old one moved aside) is read anew.
        QVERIFY(QFile::rename(fleet.historyFile(), fleet.historyFile() + ".broken-1"));
        QVERIFY(SampleHistory(fleet.historyFile(), 5, fleet.ids()).problem.isEmpty());
        answer = fleet.get("/api/v1/events");
        QCOMPARE(answer.json()["events"].toArray().size(), 5);

        // A query that fails is no empty history.
        QCOMPARE(DropEvents(fleet.historyFile()), QString());
        answer = fleet.get("/api/v1/events");
        QCOMPARE(answer.status, 503);
        QVERIFY2(answer.body.contains("events"), answer.body.constData());
    }

    void forecastsInJsonAndMetrics() {
        AppState& state = m_fleet->state;
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        const qint64 dueMs = (now / 1000 + 10 * 86400) * 1000;
        const auto forecast = [](Forecast::State s, qint32 hours, qint32 remaining, double perDay,
                                 qint64 due) {
            Forecast f;
            f.state = s;
            f.hours = hours;
            f.remaining = remaining;
            f.hoursPerDay = perDay;
            f.dueMs = due;
            return f;
        };
        using S = Forecast::State;
        // Projector 1 has two lamps, the second due sooner.
        state.Projectors[1].LampForecasts = {forecast(S::Due, 1900, 100, 10, dueMs),
                                             forecast(S::Due, 1950, 50, 10, dueMs - 5 * 86400000)};
        state.Projectors[1].FilterForecast =
            forecast(S::Overdue, 2100, -100, 10.456, now - 86400000);
        state.Projectors[2].LampForecasts = {forecast(S::NotBurning, 500, 1500, 0, 0)};
        state.Projectors[3].LampForecasts = {forecast(S::NoData, 700, 1300, 0, 0)};
        state.Projectors[3].ProjectorName = QStringLiteral("Aula \"Nord\"\\1");

        const Answer answer = m_fleet->get("/api/v1/forecast");
        QCOMPARE(answer.status, 200);
        const QJsonArray list = QJsonDocument::fromJson(answer.body).array();
        QCOMPARE(list.size(), 16);
        // "lamps N": the entry of lamp N in `lamps`.
        const auto part = [&](int p, const QString& which) {
            const QJsonObject o = list[p - 1].toObject();
            if (!which.startsWith("lamps "))
                return o[which].toObject();
            return o["lamps"].toArray()[which.mid(6).toInt() - 1].toObject();
        };
        // `lamps` as long as the lamps the history knows, lamp 1 always.
        for (const auto& [p, count] : {std::pair{1, 2}, {2, 1}, {4, 1}}) {
            const QJsonArray lamps = list[p - 1]["lamps"].toArray();
            QCOMPARE(lamps.size(), count);
            for (int l = 1; l <= count; ++l)
                QCOMPARE(lamps[l - 1]["lamp"], QJsonValue(l));
            QJsonObject first = lamps[0].toObject();
            first.remove("lamp");
            QCOMPARE(first, part(p, "lamp"));
        }
        QCOMPARE(list[1]["id"].toString(), IdOf(2));
        QCOMPARE(list[1]["group"].toString(), "Main Hall");
        QCOMPARE(list[0]["group"], QJsonValue());
        const struct {
            int p;
            const char* which;
            QJsonValue hours, threshold, perDay, remaining, due;
            const char* state;
            const char* text;
        } rows[] = {
            {1, "lamp", 1900, 2000, 10, 100, HistoryTimeText(dueMs), "due", "in 10 days"},
            {1, "lamps 2", 1950, 2000, 10, 50, HistoryTimeText(dueMs - 5 * 86400000), "due",
             "in 5 days"},
            {4, "lamps 1", {}, {}, {}, {}, {}, "no-data", "-"},
            {1, "filter", 2100, 2000, 10.46, -100, HistoryTimeText(now - 86400000), "overdue",
             "overdue"},
            {2, "lamp", 500, 2000, 0, 1500, {}, "not-burning", "-"},
            {3, "lamp", 700, 2000, {}, 1300, {}, "no-data", "-"},
            {4, "filter", {}, {}, {}, {}, {}, "no-data", "-"},
        };
        for (const auto& row : rows) {
            const QJsonObject o = part(row.p, row.which);
            const QByteArray where = QByteArray::number(row.p) + ' ' + row.which;
            QVERIFY2(o["hours"] == row.hours, where);
            QVERIFY2(o["threshold"] == row.threshold, where);
            QVERIFY2(o["hours_per_day"] == row.perDay, where);
            QVERIFY2(o["remaining"] == row.remaining, where);
            QVERIFY2(o["due"] == row.due, where);
            QCOMPARE(o["state"].toString(), row.state);
            QCOMPARE(o["text"].toString(), row.text);
        }

        const QByteArray metrics = m_fleet->get("/metrics").body;
        const auto series = [&](const QByteArray& name, int p,
                                const QByteArray& lamp = "1") -> std::optional<double> {
            for (const QByteArray& line : metrics.split('\n'))
                if (line.startsWith(name + '{') && line.contains(IdOf(p).toLatin1()) &&
                    (!name.startsWith("norvik3_lamp") || line.contains("lamp=\"" + lamp + '"')))
                    return line.mid(line.lastIndexOf(' ') + 1).toDouble();
            return std::nullopt;
        };
        using O = std::optional<double>;
        constexpr double Hour = 3600;
        QCOMPARE(series("norvik3_lamp_remaining_seconds", 1), O(100 * Hour));
        QCOMPARE(series("norvik3_filter_remaining_seconds", 1), O(-100 * Hour));
        QCOMPARE(series("norvik3_lamp_due_timestamp_seconds", 1), O(double(dueMs) / 1000));
        QCOMPARE(series("norvik3_lamp_remaining_seconds", 1, "2"), O(50 * Hour));
        QCOMPARE(series("norvik3_lamp_due_timestamp_seconds", 1, "2"),
                 O(double(dueMs - 5 * 86400000) / 1000));
        QCOMPARE(series("norvik3_lamp_remaining_seconds", 2, "2"), O());
        QCOMPARE(series("norvik3_filter_due_timestamp_seconds", 1),
                 O(double(now - 86400000) / 1000));
        QCOMPARE(series("norvik3_lamp_remaining_seconds", 2), O(1500 * Hour));
        QCOMPARE(series("norvik3_lamp_due_timestamp_seconds", 2), O());
        QCOMPARE(series("norvik3_lamp_remaining_seconds", 3), O(1300 * Hour));
        QCOMPARE(series("norvik3_lamp_due_timestamp_seconds", 3), O());
        QCOMPARE(series("norvik3_lamp_remaining_seconds", 4), O());
        QCOMPARE(series("norvik3_filter_remaining_seconds", 4), O());
        QVERIFY(metrics.contains("# TYPE norvik3_lamp_due_timestamp_seconds gauge"));

        const QByteArray findings = PromtoolFindings(metrics, Wait);
        QVERIFY2(findings.isEmpty(), findings.constData());

        const QByteArray schema =
            SchemaFindings({{"forecast", answer.body},
                            {"events", m_fleet->get("/api/v1/events?limit=1000").body},
                            {"events", m_fleet->get("/api/v1/events?group=Empty").body}});
        QVERIFY2(schema.isEmpty(), schema.constData());
    }
};

QTEST_GUILESS_MAIN(TestHistoryApi)
#include "test_history_api.moc"
