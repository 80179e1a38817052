// The status endpoint in-process on 127.0.0.1, with real sockets: hostile
// clients meet its limits while a well-behaved one is still answered, the
// metrics leave out what the JSON shows as null and list the projectors in
// table order by their ids, the JSON answers follow their schema, and the
// health answer follows the state.

#include "comm/ContactWatch.h"
#include "core/AppState.h"
#include "core/Fleet.h"
#include "core/Version.h"
#include "platform/OpenFiles.h"
#include "status/EndpointLimits.h"
#include "status/GzipBody.h"
#include "status/HttpRules.h"
#include "status/ProcessFigures.h"
#include "status/StatusServer.h"

#include "status/SchemaCheck.h"
#include "support/ProjectorRecords.h"
#include "support/Promtool.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <optional>
#include <tuple>
#include <vector>

#include <sys/resource.h>

namespace {

constexpr int Wait = 20000;
const QByteArray Token = "0123456789abcdef";
const QByteArray Auth = "Authorization: Bearer " + Token + "\r\n";

QByteArray Get(const QByteArray& path, const QByteArray& headers = Auth,
               const QByteArray& version = "HTTP/1.1") {
    return "GET " + path + ' ' + version + "\r\nHost: 127.0.0.1\r\n" + headers + "\r\n";
}

// One raw HTTP client from a chosen loopback address. It sends its requests
// one after another, each once the previous one is answered, and keeps the
// answers; a dripping client then sends one more byte every 250 ms until it
// hears anything.
class Client : public QObject {
  public:
    Client(const QString& source, quint16 port, QList<QByteArray> requests, bool drip = false)
        : m_requests(std::move(requests)) {
        m_socket.bind(QHostAddress(source));
        connect(&m_socket, &QTcpSocket::connected, this, [this] {
            m_connected = true;
            sendNext();
        });
        connect(&m_socket, &QTcpSocket::readyRead, this, &Client::received);
        if (drip) {
            connect(&m_drip, &QTimer::timeout, this, [this] {
                if (m_socket.state() == QAbstractSocket::ConnectedState && m_buffer.isEmpty() &&
                    m_statuses.isEmpty())
                    m_socket.write("a");
            });
            m_drip.start(250);
        }
        m_socket.connectToHost(QHostAddress::LocalHost, port);
    }

    bool connected() const { return m_connected; }
    bool closed() const {
        return m_connected && m_socket.state() == QAbstractSocket::UnconnectedState;
    }
    const QList<int>& statuses() const { return m_statuses; }
    const QList<QByteArray>& bodies() const { return m_bodies; }
    const QList<QByteArray>& heads() const { return m_heads; }

  private:
    void sendNext() {
        if (m_sent < m_requests.size())
            m_socket.write(m_requests[m_sent++]);
    }

    void received() {
        m_buffer += m_socket.readAll();
        static const QRegularExpression length(QStringLiteral("\r\ncontent-length: *(\\d+)"),
                                               QRegularExpression::CaseInsensitiveOption);
        for (;;) {
            const qsizetype headEnd = m_buffer.indexOf("\r\n\r\n");
            if (headEnd < 0)
                return;
            const QString head = QString::fromLatin1(m_buffer.first(headEnd));
            const QRegularExpressionMatch match = length.match(head);
            const qsizetype bodyLength = match.hasMatch() ? match.captured(1).toLongLong() : 0;
            if (m_buffer.size() < headEnd + 4 + bodyLength)
                return;
            m_statuses << head.section(QLatin1Char(' '), 1, 1).toInt();
            m_heads << m_buffer.first(headEnd);
            m_bodies << m_buffer.mid(headEnd + 4, bodyLength);
            m_buffer.remove(0, headEnd + 4 + bodyLength);
            sendNext();
        }
    }

    QTcpSocket m_socket;
    QTimer m_drip;
    QList<QByteArray> m_requests;
    qsizetype m_sent = 0;
    QByteArray m_buffer;
    QList<int> m_statuses;
    QList<QByteArray> m_bodies;
    QList<QByteArray> m_heads;
    bool m_connected = false;
};

// An endpoint of its own on an ephemeral port, over a state of its own.
struct Endpoint {
    AppState state;
    StatusServer server;

    explicit Endpoint(EndpointLimits limits = {}, const QString& address = "127.0.0.1",
                      const QByteArray& token = Token)
        : server(state, StatusEndpointSettings{address, 0, QString::fromLatin1(token)}, limits) {}
};

struct Answer {
    int status = 0;
    QByteArray body;
    QByteArray head;
};

// Projector p's id in the tests' fleets.
QString IdOf(int p) {
    return QStringLiteral("6f1c2a9e-0b7d-4c1e-9a53-%1").arg(p, 12, 10, QLatin1Char('0'));
}

QByteArray IdLabel(int p) {
    return "id=\"" + IdOf(p).toLatin1() + '"';
}

// A fleet of `count` answering LAN projectors with ids; the even ones stand
// in the group "Hall", the others under the root.
void MakeFleet(AppState& state, int count) {
    ResetAllProjectors(state);
    ResetTree(state);
    const int hall = AddGroupNode(state, QStringLiteral("Hall"), nullptr);
    for (int p = 1; p <= count; ++p) {
        AddProjector(state, p % 2 == 0 ? hall : 1,
                     LanProjector(QStringLiteral("P%1").arg(p), QStringLiteral("192.0.2.%1").arg(p))
                         .id(IdOf(p)));
        ProjectorInfo& info = state.Projectors[p];
        info.Disconnected = false;
        info.ContactKnown = true;
        info.PowerStatus = 1;
        info.ErrorStatus = 0;
        info.InputStatus = 1;
        info.LampTime = qint16(100 * p);
        info.FilterTime = qint16(10 * p);
    }
}

// Makes projector p a PJLink projector of the class that reported its
// identity, two lamps (the second one off), a class 2 input with its name.
void MakePJLink(AppState& state, int p, int pjClass) {
    ProjectorInfo& info = state.Projectors[p];
    info.Protocol = ProtocolPJLink;
    info.PortNo = DefaultPJLinkPortNo;
    info.ModelName.clear();
    PJLinkFacts& pj = info.PJLink;
    pj.Class = qint16(pjClass);
    pj.Name = QStringLiteral("Hall left");
    pj.Maker = QStringLiteral("Maker \"A\"");
    pj.Product = QStringLiteral("L-9000");
    pj.SerialNumber = pjClass == 2 ? QStringLiteral("SN 0042") : QString();
    pj.InputCode = pjClass == 2 ? QStringLiteral("3A") : QStringLiteral("31");
    pj.InputName = pjClass == 2 ? QStringLiteral("Lectern") : QString();
    pj.Inputs = {QStringLiteral("11"), pj.InputCode};
    pj.LampCount = 2;
    pj.Lamps[0] = {40000, true};
    pj.Lamps[1] = {1200, false};
    info.LampTime = 40000; // above what 16 bits hold
    info.FilterTime = pjClass == 2 ? 900 : -1;
    pj.Identified = true;
}

// The lines of a family's samples, in the order the text gives them.
QList<QByteArray> Samples(const QByteArray& metrics, const QByteArray& name) {
    QList<QByteArray> lines;
    for (const QByteArray& line : metrics.split('\n'))
        if (line.startsWith(name + '{') || line.startsWith(name + ' '))
            lines << line;
    return lines;
}

// The value of the first sample of `name` whose labels contain `labels`.
std::optional<double> Sample(const QByteArray& metrics, const QByteArray& name,
                             const QByteArray& labels = {}) {
    for (const QByteArray& line : metrics.split('\n')) {
        const bool named = labels.isEmpty() ? line.startsWith(name + ' ')
                                            : line.startsWith(name + '{') && line.contains(labels);
        if (named)
            return line.mid(line.lastIndexOf(' ') + 1).toDouble();
    }
    return std::nullopt;
}

struct Hostile {
    const char* name;
    const char* source;
    int copies;
    QList<QByteArray> requests;
    bool drip;
    QList<int> answers; // what each answered copy hears
    int unanswered;     // copies closed without any answer
    bool closedByServer;
    QList<std::pair<RefusalReason, int>> refusals;
    // Above 1, the copies take turns among this many addresses, `source`
    // followed by 1, 2, ...
    int addresses = 1;

    QString sourceOf(int copy) const {
        return addresses > 1 ? QString::fromLatin1(source) + QString::number(1 + copy % addresses)
                             : QString::fromLatin1(source);
    }
};

const QList<Hostile>& HostileClients() {
    static const QList<Hostile> table = {
        {"slow-loris drip",
         "127.0.0.2",
         8,
         {"GET /metrics HTTP/1.1\r\nX-Drip: "},
         true,
         {408},
         0,
         true,
         {{RefusalReason::Deadline, 8}}},
        {"slow heads from 100 addresses",
         "127.0.1.",
         800,
         {"GET /metrics HTTP/1.1\r\nX-Drip: "},
         true,
         {408},
         0,
         true,
         {{RefusalReason::Deadline, 800}},
         100},
        {"too many from one address",
         "127.0.0.3",
         9,
         {"GET /api/v1/health HTTP/1.1\r\n"},
         false,
         {408},
         1,
         true,
         {{RefusalReason::PerAddress, 1}, {RefusalReason::Deadline, 8}}},
        {"HTTP/1.0 closes after the answer",
         "127.0.0.4",
         1,
         {Get("/api/v1/health", Auth, "HTTP/1.0"), Get("/api/v1/health", Auth, "HTTP/1.0")},
         false,
         {200},
         0,
         true,
         {}},
        {"Connection: close closes after the answer",
         "127.0.0.4",
         1,
         {Get("/api/v1/health", Auth + "Connection: keep-alive, Close\r\n"), Get("/api/v1/health")},
         false,
         {200},
         0,
         true,
         {}},
        {"keep-alive serves the next request",
         "127.0.0.4",
         1,
         {Get("/api/v1/health"), Get("/metrics")},
         false,
         {200, 200},
         0,
         false,
         {}},
        {"a body is not taken for the next request",
         "127.0.0.4",
         1,
         {"POST /metrics HTTP/1.1\r\n" + Auth + "Content-Length: 14\r\n\r\nGET / HTTP/1.1",
          Get("/api/v1/health")},
         false,
         {405, 200},
         0,
         false,
         {}},
        {"lower-case bearer",
         "127.0.0.4",
         1,
         {Get("/api/v1/health", "authorization: bearer " + Token + "\r\n")},
         false,
         {200},
         0,
         false,
         {}},
        {"upper-case bearer",
         "127.0.0.4",
         1,
         {Get("/api/v1/health", "Authorization: BEARER " + Token + "\r\n")},
         false,
         {200},
         0,
         false,
         {}},
        {"wrong token of the same length",
         "127.0.0.4",
         1,
         {Get("/metrics", "Authorization: Bearer 0123456789abcdeF\r\n")},
         false,
         {401},
         0,
         false,
         {}},
        {"token without its scheme",
         "127.0.0.4",
         1,
         {Get("/metrics", "Authorization: " + Token + "\r\n")},
         false,
         {401},
         0,
         false,
         {}},
        {"token as a prefix",
         "127.0.0.4",
         1,
         {Get("/metrics", "Authorization: Bearer " + Token.first(8) + "\r\n")},
         false,
         {401},
         0,
         false,
         {}},
        {"oversized request",
         "127.0.0.5",
         1,
         {"GET /" + QByteArray(70 * 1024, 'a')},
         false,
         {},
         1,
         true,
         {{RefusalReason::TooLarge, 1}}},
    };
    return table;
}

} // namespace

class TestStatus : public QObject {
    Q_OBJECT

    std::unique_ptr<Endpoint> endpoint;

    void startEndpoint(EndpointLimits limits = {}) {
        endpoint = std::make_unique<Endpoint>(limits);
        QVERIFY2(endpoint->server.start(), qPrintable(endpoint->server.problem()));
    }

    // A well-behaved client's request from 127.0.0.1.
    Answer fetch(const QByteArray& path, const QByteArray& headers = Auth) {
        Client client(QStringLiteral("127.0.0.1"), endpoint->server.port(), {Get(path, headers)});
        QDeadlineTimer deadline(Wait);
        while (client.statuses().isEmpty() && !client.closed() && !deadline.hasExpired())
            QTest::qWait(5);
        if (client.statuses().isEmpty())
            return {};
        return {client.statuses().first(), client.bodies().first(), client.heads().first()};
    }

    QByteArray metrics() {
        const Answer answer = fetch("/metrics");
        return answer.status == 200 ? answer.body : QByteArray();
    }

  private slots:
    // The clients and the endpoint's side of their connections share this
    // process's descriptors.
    void initTestCase() { RaiseOpenFilesLimit(); }
    void init() { startEndpoint(); }
    void cleanup() { endpoint.reset(); }

    void hostileClients_data() {
        QTest::addColumn<int>("row");
        for (int i = 0; i < HostileClients().size(); ++i)
            QTest::addRow("%s", HostileClients()[i].name) << i;
    }

    void hostileClients() {
        QFETCH(int, row);
        const Hostile& hostile = HostileClients()[row];
        std::vector<std::unique_ptr<Client>> clients;
        for (int i = 0; i < hostile.copies; ++i)
            clients.push_back(std::make_unique<Client>(hostile.sourceOf(i), endpoint->server.port(),
                                                       hostile.requests, hostile.drip));
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(clients.begin(), clients.end(),
                                             [](const auto& c) { return c->connected(); }),
                                 Wait);
        // Served while the hostile clients are still at it.
        QCOMPARE(fetch("/api/v1/health").status, 200);

        const auto done = [&](const Client& c) {
            return hostile.closedByServer ? c.closed()
                                          : c.statuses().size() >= hostile.answers.size();
        };
        QTRY_VERIFY_WITH_TIMEOUT(
            std::all_of(clients.begin(), clients.end(), [&](const auto& c) { return done(*c); }),
            Wait);
        int unanswered = 0;
        for (const auto& c : clients) {
            if (c->statuses().isEmpty() && c->closed())
                ++unanswered;
            else
                QCOMPARE(c->statuses(), hostile.answers);
        }
        QCOMPARE(unanswered, hostile.unanswered);

        const QByteArray text = metrics();
        for (int r = 0; r < int(RefusalReason::Count); ++r) {
            int expected = 0;
            for (const auto& [reason, count] : hostile.refusals)
                if (reason == RefusalReason(r))
                    expected = count;
            const QByteArray label =
                QByteArray("reason=\"") + RefusalReasonName(RefusalReason(r)) + '"';
            QCOMPARE(Sample(text, "norvik3_http_connections_refused_total", label),
                     std::optional<double>(expected));
        }
        QCOMPARE(endpoint->state.Health.isActive(HealthCondition::EndpointLimits),
                 !hostile.refusals.isEmpty());
    }

    void limitsClearAfterAQuietPeriod() {
        EndpointLimits limits;
        limits.perAddress = 1;
        limits.quietPeriod = std::chrono::milliseconds(200);
        startEndpoint(limits);
        Client first(QStringLiteral("127.0.0.6"), endpoint->server.port(), {});
        Client second(QStringLiteral("127.0.0.6"), endpoint->server.port(), {});
        QTRY_VERIFY_WITH_TIMEOUT(second.closed() || first.closed(), Wait);
        const HealthReport& health = endpoint->state.Health;
        QVERIFY(health.isActive(HealthCondition::EndpointLimits));
        QVERIFY2(health.entry(HealthCondition::EndpointLimits).text.contains("127.0.0.6"),
                 qPrintable(health.entry(HealthCondition::EndpointLimits).text));
        QTRY_VERIFY_WITH_TIMEOUT(!health.isActive(HealthCondition::EndpointLimits), Wait);
    }

    // A request that begins late on a kept-alive connection is not cut off
    // by the rest of the idle wait.
    void keptAliveRequestGetsItsOwnDeadline() {
        EndpointLimits limits;
        limits.requestDeadline = std::chrono::milliseconds(1500);
        startEndpoint(limits);
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, endpoint->server.port());
        QVERIFY(socket.waitForConnected(Wait));
        const QByteArray request = Get("/api/v1/health");
        QByteArray answers;
        const auto awaitAnswers = [&](int count) {
            QTRY_VERIFY_WITH_TIMEOUT((answers += socket.readAll()).count("HTTP/1.1 ") >= count,
                                     Wait);
        };
        socket.write(request);
        awaitAnswers(1);
        QTest::qWait(1000);
        socket.write(request.first(10));
        QTest::qWait(1000);
        socket.write(request.mid(10));
        awaitAnswers(2);
        QCOMPARE(answers.count("HTTP/1.1 200"), 2);
    }

    void admission_data() {
        QTest::addColumn<int>("maxConnections");
        QTest::addColumn<int>("perAddress");
        QTest::addColumn<int>("reserve");
        // "a.b.c.d" admits, "-a.b.c.d" releases ("-" in the outcome).
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("outcome");
        QTest::addRow("per address")
            << 64 << 2 << 8 << QStringList{"127.0.0.1", "127.0.0.1", "127.0.0.1", "127.0.0.2"}
            << "ok ok per_address ok";
        QTest::addRow("last slots kept for loopback")
            << 4 << 8 << 2
            << QStringList{"192.0.2.1", "192.0.2.2", "192.0.2.3", "127.0.0.1", "::1", "127.0.0.1"}
            << "ok ok loopback_reserve ok ok connections";
        QTest::addRow("a release frees the slot")
            << 2 << 1 << 0 << QStringList{"192.0.2.1", "192.0.2.1", "-192.0.2.1", "192.0.2.1"}
            << "ok per_address - ok";
        QTest::addRow("IPv4-mapped IPv6 counts as IPv4")
            << 8 << 1 << 0
            << QStringList{"192.0.2.1", "::ffff:192.0.2.1", "-::ffff:192.0.2.1", "192.0.2.1"}
            << "ok per_address - ok";
        QTest::addRow("an unknown release changes nothing")
            << 1 << 8 << 0 << QStringList{"-192.0.2.9", "192.0.2.1", "192.0.2.2"}
            << "- ok connections";
    }

    void admission() {
        QFETCH(int, maxConnections);
        QFETCH(int, perAddress);
        QFETCH(int, reserve);
        QFETCH(QStringList, steps);
        QFETCH(QString, outcome);
        EndpointLimits limits;
        limits.maxConnections = maxConnections;
        limits.perAddress = perAddress;
        limits.loopbackReserve = reserve;
        ConnectionAdmission admission(limits);
        QStringList results;
        for (const QString& step : steps) {
            if (step.startsWith('-')) {
                admission.release(QHostAddress(step.mid(1)));
                results << QStringLiteral("-");
            } else {
                const auto refusal = admission.admit(QHostAddress(step));
                results << (refusal ? QString::fromLatin1(RefusalReasonName(*refusal))
                                    : QStringLiteral("ok"));
            }
        }
        QCOMPARE(results.join(' '), outcome);
    }

    void limitsFitTheOpenFiles_data() {
        QTest::addColumn<int>("maxConnections");
        QTest::addColumn<qulonglong>("openFiles");
        QTest::addColumn<int>("fitted");
        QTest::addRow("room to spare") << 1024 << qulonglong(1048576) << 1024;
        QTest::addRow("just enough") << 1024 << qulonglong(1536) << 1024;
        QTest::addRow("the common default") << 1024 << qulonglong(1024) << 512;
        QTest::addRow("hardly any") << 1024 << qulonglong(100) << 16;
        QTest::addRow("never above the limit set") << 4 << qulonglong(100) << 4;
    }

    void limitsFitTheOpenFiles() {
        QFETCH(int, maxConnections);
        QFETCH(qulonglong, openFiles);
        QFETCH(int, fitted);
        EndpointLimits limits;
        limits.maxConnections = maxConnections;
        QCOMPARE(FittedToOpenFiles(limits, openFiles).maxConnections, fitted);
    }

    void openFilesLimitIsRaised() {
        const OpenFilesLimit before = CurrentOpenFilesLimit();
        rlimit lowered{rlim_t(std::min<std::uint64_t>(before.hard, 256)), rlim_t(before.hard)};
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
        QCOMPARE(CurrentOpenFilesLimit().soft, std::uint64_t(lowered.rlim_cur));
        const OpenFilesLimit raised = RaiseOpenFilesLimit();
        QCOMPARE(raised.soft, before.hard);
        QCOMPARE(CurrentOpenFilesLimit().soft, before.hard);
    }

    void closeAfterAnswer_data() {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<bool>("close");
        QTest::addRow("HTTP/1.1") << Get("/") << false;
        QTest::addRow("HTTP/1.0") << Get("/", {}, "HTTP/1.0") << true;
        QTest::addRow("close among options")
            << Get("/", "Connection: keep-alive, close\r\n") << true;
        QTest::addRow("any case, no blank") << Get("/", "connection:CLOSE\r\n") << true;
        QTest::addRow("another header's value") << Get("/", "X-Connection: close\r\n") << false;
        QTest::addRow("close as a word of a value") << Get("/", "Connection: closed\r\n") << false;
    }

    void closeAfterAnswer() {
        QFETCH(QByteArray, head);
        QFETCH(bool, close);
        QCOMPARE(WantsCloseAfterAnswer(head), close);
    }

    // A value the JSON shows as null has no sample in the value gauges; the
    // state sets have one series per state and say "not_reported" instead.
    void metricsLeaveOutWhatJsonShowsAsNull_data() {
        QTest::addColumn<bool>("disconnected");
        QTest::addColumn<bool>("refusing");
        QTest::addColumn<QList<int>>("values"); // power, error, lamp hours, filter hours
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<int>("up"); // -1: no series, nothing is known yet
        QTest::addColumn<QByteArray>("power");
        QTest::addColumn<QByteArray>("error");
        const QStringList all{"power", "error", "lamp_hours", "filter_hours"};
        QTest::addRow("answering") << false << false << QList<int>{1, 0, 120, 40} << all << 1
                                   << QByteArray("on") << QByteArray("normal");
        QTest::addRow("disconnected with stale values")
            << true << false << QList<int>{1, 3, 120, 40} << QStringList{} << 0
            << QByteArray("not_reported") << QByteArray("not_reported");
        QTest::addRow("refusing, some not reported")
            << false << true << QList<int>{-1, -1, -1, 40} << QStringList{"filter_hours"} << 0
            << QByteArray("not_reported") << QByteArray("not_reported");
        QTest::addRow("never answered, failed")
            << true << false << QList<int>{-1, -1, -1, -1} << QStringList{} << 0
            << QByteArray("not_reported") << QByteArray("not_reported");
        QTest::addRow("not asked yet")
            << true << false << QList<int>{-1, -1, -1, -1} << QStringList{} << -1
            << QByteArray("not_reported") << QByteArray("not_reported");
        QTest::addRow("only its ping answered yet")
            << false << false << QList<int>{-1, -1, -1, -1} << QStringList{} << -1
            << QByteArray("not_reported") << QByteArray("not_reported");
        QTest::addRow("answering, lamp not reported")
            << false << false << QList<int>{0, 0, -1, 7}
            << QStringList{"power", "error", "filter_hours"} << 1 << QByteArray("off")
            << QByteArray("normal");
        QTest::addRow("cooling with a lamp error")
            << false << false << QList<int>{2, 3, 9, 7} << all << 1 << QByteArray("cooling")
            << QByteArray("lamp");
        QTest::addRow("air flow error") << false << false << QList<int>{1, 5, 9, 7} << all << 1
                                        << QByteArray("on") << QByteArray("air_flow");
        QTest::addRow("lamp time over") << false << false << QList<int>{1, 6, 9, 7} << all << 1
                                        << QByteArray("on") << QByteArray("lamp_time_over");
        QTest::addRow("code 16 is another error")
            << false << false << QList<int>{0, 16, 9, 7} << all << 1 << QByteArray("off")
            << QByteArray("other");
    }

    void metricsLeaveOutWhatJsonShowsAsNull() {
        QFETCH(bool, disconnected);
        QFETCH(bool, refusing);
        QFETCH(QList<int>, values);
        QFETCH(QStringList, shown);
        QFETCH(int, up);
        QFETCH(QByteArray, power);
        QFETCH(QByteArray, error);
        AppState& state = endpoint->state;
        MakeFleet(state, 1);
        ProjectorInfo& info = state.Projectors[1];
        info.ProjectorName = QStringLiteral("Aula");
        info.Disconnected = disconnected;
        info.Refusing = refusing;
        info.ContactKnown = up >= 0;
        info.PowerStatus = qint16(values[0]);
        info.ErrorStatus = qint16(values[1]);
        info.LampTime = qint16(values[2]);
        info.FilterTime = qint16(values[3]);

        const QByteArray text = metrics();
        const Answer json = fetch("/api/v1/projectors");
        QCOMPARE(json.status, 200);
        const QJsonObject o = QJsonDocument::fromJson(json.body).array().first().toObject();
        QCOMPARE(o["refusing"].toBool(), refusing);
        QCOMPARE(o["id"].toString(), IdOf(1));
        QCOMPARE(Sample(text, "norvik3_projector_up", IdLabel(1)),
                 up < 0 ? std::nullopt : std::optional<double>(up));
        QCOMPARE(Sample(text, "norvik3_projector_authentication_error", IdLabel(1)),
                 up < 0 ? std::nullopt : std::optional<double>(0));
        const struct {
            const char* field;
            const char* metric;
            double scale;
        } fields[] = {{"power", "norvik3_projector_power_state", 1},
                      {"error", "norvik3_projector_error_state", 1},
                      {"lamp_hours", "norvik3_projector_lamp_usage_seconds", 3600},
                      {"filter_hours", "norvik3_projector_filter_usage_seconds", 3600}};
        for (const auto& f : fields) {
            const QJsonValue value = o[QLatin1String(f.field)];
            const auto sample = Sample(text, f.metric, IdLabel(1));
            QVERIFY2(value.isNull() != shown.contains(f.field), f.field);
            QVERIFY2(sample.has_value() == shown.contains(f.field), f.metric);
            if (sample) {
                const double number =
                    value.isObject() ? value["code"].toDouble() : value.toDouble();
                QCOMPARE(*sample, number * f.scale);
            }
        }

        const struct {
            QByteArray family;
            QByteArray current;
            QList<QByteArray> states;
        } sets[] = {
            {"norvik3_projector_power", power, {"off", "on", "cooling", "warmup", "not_reported"}},
            {"norvik3_projector_error",
             error,
             {"normal", "cover", "fan", "lamp", "temp", "air_flow", "lamp_time_over", "cool",
              "filter", "other", "not_reported"}},
        };
        for (const auto& set : sets) {
            QList<QByteArray> lines = Samples(text, set.family);
            QCOMPARE(lines.size(), set.states.size());
            for (qsizetype k = 0; k < lines.size(); ++k) {
                QVERIFY2(lines[k].contains(IdLabel(1) + ",projector=\"Aula\",group=\"\",state=\"" +
                                           set.states[k] + "\"}"),
                         lines[k].constData());
                QCOMPARE(lines[k].endsWith(" 1"), set.states[k] == set.current);
            }
        }
    }

    // What the contact watch learns of a projector decides its up series:
    // none until it has answered or failed, whatever a ping says.
    void upFollowsWhatIsKnown_data() {
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<int>("up"); // -1: no series
        QTest::addRow("nothing yet") << QStringList{} << -1;
        QTest::addRow("only a ping answered") << QStringList{"ping"} << -1;
        QTest::addRow("four time-outs")
            << QStringList{"ping", "timeout", "timeout", "timeout", "timeout"} << -1;
        QTest::addRow("five time-outs")
            << QStringList{"ping", "timeout", "timeout", "timeout", "timeout", "timeout"} << 0;
        QTest::addRow("ping failed") << QStringList{"ping failed"} << 0;
        QTest::addRow("a reply") << QStringList{"reply"} << 1;
        QTest::addRow("a refused status query") << QStringList{"refused"} << 1;
        QTest::addRow("answered, then the ping failed") << QStringList{"reply", "ping failed"} << 0;
        QTest::addRow("failed, then answered") << QStringList{"ping failed", "reply"} << 1;
    }

    void upFollowsWhatIsKnown() {
        QFETCH(QStringList, events);
        QFETCH(int, up);
        AppState& state = endpoint->state;
        MakeFleet(state, 1);
        // As the record is loaded: nothing heard of it yet.
        state.Projectors[1].Disconnected = true;
        state.Projectors[1].ContactKnown = false;
        ContactWatch watch(state, nullptr);
        const QHash<QString, void (ContactWatch::*)(int)> happen{
            {"ping", &ContactWatch::pingAnswered},
            {"ping failed", &ContactWatch::pingFailed},
            {"timeout", &ContactWatch::commandTimedOut},
            {"reply", &ContactWatch::replyAccepted},
            {"refused", &ContactWatch::statusRefused}};
        for (const QString& event : events)
            (watch.*happen.value(event))(1);
        QCOMPARE(Sample(metrics(), "norvik3_projector_up", IdLabel(1)),
                 up < 0 ? std::nullopt : std::optional<double>(up));
    }

    // A PJLink projector beside one of the own protocol: its protocol, its
    // identity, every lamp, its warning and a refused password reach both
    // answers, and both agree; lamps that are not current are in neither.
    void pjlinkFactsInJsonAndMetrics_data() {
        QTest::addColumn<int>("pjClass");
        QTest::addColumn<bool>("disconnected");
        QTest::addColumn<bool>("authenticationError");
        QTest::addColumn<bool>("queriesRefused"); // the lamp and error queries
        QTest::addColumn<int>("power");
        QTest::addColumn<QString>("warning");
        QTest::addColumn<QByteArray>("powerState");
        QTest::addColumn<QByteArray>("warningState");
        QTest::addRow("class 1 on")
            << 1 << false << false << false << 1 << "" << QByteArray("on") << QByteArray("none");
        QTest::addRow("class 2 warming up, lamp warning")
            << 2 << false << false << false << 3 << "Lamp Warning" << QByteArray("warmup")
            << QByteArray("lamp");
        QTest::addRow("temperature warning") << 2 << false << false << false << 1 << "Temp Warning"
                                             << QByteArray("on") << QByteArray("temp");
        QTest::addRow("filter warning") << 1 << false << false << false << 0 << "Filter Warning"
                                        << QByteArray("off") << QByteArray("filter");
        QTest::addRow("password refused, disconnected")
            << 2 << true << true << true << -1 << "" << QByteArray("not_reported")
            << QByteArray("not_reported");
        QTest::addRow("password refused while it answers")
            << 2 << false << true << true << -1 << "" << QByteArray("not_reported")
            << QByteArray("not_reported");
        QTest::addRow("disconnected keeps no stale values")
            << 1 << true << false << false << 1 << "Fan Warning" << QByteArray("not_reported")
            << QByteArray("not_reported");
    }

    void pjlinkFactsInJsonAndMetrics() {
        QFETCH(int, pjClass);
        QFETCH(bool, disconnected);
        QFETCH(bool, authenticationError);
        QFETCH(bool, queriesRefused);
        QFETCH(int, power);
        QFETCH(QString, warning);
        QFETCH(QByteArray, powerState);
        QFETCH(QByteArray, warningState);
        AppState& state = endpoint->state;
        MakeFleet(state, 2);
        MakePJLink(state, 2, pjClass);
        ProjectorInfo& info = state.Projectors[2];
        info.Disconnected = disconnected;
        // A refused query sets its value to "not reported"; the lamps it
        // listed before stay in the record.
        if (queriesRefused)
            info.LampTime = info.ErrorStatus = -1;
        const bool lampsCurrent = !disconnected && !queriesRefused;
        info.PowerStatus = qint16(power);
        info.PJLink.Warning = warning;
        info.PJLink.AuthenticationError = authenticationError;
        state.Counters.PJLinkNotificationsApplied = 7;
        state.Counters.PJLinkNotificationsIgnored = 2;

        const QJsonArray list = QJsonDocument::fromJson(fetch("/api/v1/projectors").body).array();
        QCOMPARE(list.size(), 2);
        const QJsonObject own = list[0].toObject();
        QCOMPARE(own["protocol"].toString(), QStringLiteral("native"));
        QCOMPARE(own["pjlink"], QJsonValue());
        QCOMPARE(own["authentication_error"], QJsonValue(false));
        QCOMPARE(own["warning"], QJsonValue());

        const QJsonObject o = list[1].toObject();
        QCOMPARE(o["protocol"].toString(), QStringLiteral("pjlink"));
        QCOMPARE(o["port"].toInt(), 4352);
        QCOMPARE(o["model"], QJsonValue());
        QCOMPARE(o["authentication_error"].toBool(), authenticationError);
        QCOMPARE(o["warning"],
                 disconnected || warning.isEmpty() ? QJsonValue() : QJsonValue(warning));
        QCOMPARE(o["power"].isNull(), disconnected || power < 0);
        if (!disconnected && power >= 0) {
            QCOMPARE(o["power"]["code"].toInt(), power);
            // The input as the window names it: its class 2 name, else its kind.
            QCOMPARE(o["input"]["text"].toString(),
                     pjClass == 2 ? QStringLiteral("Lectern") : QStringLiteral("DIGITAL 1"));
        }
        QCOMPARE(o["lamp_hours"], lampsCurrent ? QJsonValue(40000) : QJsonValue());
        QCOMPARE(o["filter_hours"], disconnected || pjClass == 1 ? QJsonValue() : QJsonValue(900));
        const QJsonObject pj = o["pjlink"].toObject();
        QCOMPARE(pj["class"].toInt(), pjClass);
        QCOMPARE(pj["maker"].toString(), QStringLiteral("Maker \"A\""));
        QCOMPARE(pj["product"].toString(), QStringLiteral("L-9000"));
        QCOMPARE(pj["name"].toString(), QStringLiteral("Hall left"));
        QCOMPARE(pj["serial_number"],
                 pjClass == 2 ? QJsonValue(QStringLiteral("SN 0042")) : QJsonValue());
        QCOMPARE(pj["input_code"], disconnected ? QJsonValue() : QJsonValue(info.PJLink.InputCode));
        QCOMPARE(pj["input_name"], disconnected || pjClass == 1
                                       ? QJsonValue()
                                       : QJsonValue(QStringLiteral("Lectern")));
        const QJsonArray lamps = pj["lamps"].toArray();
        QCOMPARE(lamps.size(), lampsCurrent ? 2 : 0);
        if (lampsCurrent) {
            QCOMPARE(lamps[0]["hours"].toInt(), 40000);
            QCOMPARE(lamps[0]["on"].toBool(), true);
            QCOMPARE(lamps[1]["lamp"].toInt(), 2);
            QCOMPARE(lamps[1]["hours"].toInt(), 1200);
            QCOMPARE(lamps[1]["on"].toBool(), false);
        }

        const QByteArray text = metrics();
        const QByteArray labels = IdLabel(2) + ",projector=\"P2\",group=\"Hall\"";
        QVERIFY2(Sample(text, "norvik3_projector_up", labels), text.constData());
        QCOMPARE(Sample(text, "norvik3_projector_authentication_error", labels),
                 std::optional<double>(authenticationError ? 1 : 0));
        QCOMPARE(Sample(text, "norvik3_projector_authentication_error",
                        IdLabel(1) + ",projector=\"P1\",group=\"\""),
                 std::optional<double>(0));
        QCOMPARE(Sample(text, "norvik3_projector_power", labels + ",state=\"" + powerState + '"'),
                 std::optional<double>(1));
        // One warning series per state for the PJLink projector, none for
        // the other.
        const QList<QByteArray> warnings = Samples(text, "norvik3_projector_warning");
        QCOMPARE(warnings.size(), 8);
        for (const QByteArray& line : warnings) {
            QVERIFY2(line.contains(labels), line.constData());
            QCOMPARE(line.endsWith(" 1"), line.contains("state=\"" + warningState + '"'));
        }
        const auto lamp = [&](const char* family, const char* number) {
            return Sample(text, family, labels + ",lamp=\"" + number + "\"}");
        };
        for (const auto& [family, number, value] :
             {std::tuple{"norvik3_projector_lamp_usage_seconds", "1", 40000.0 * 3600},
              {"norvik3_projector_lamp_usage_seconds", "2", 1200.0 * 3600},
              {"norvik3_projector_lamp_on", "1", 1.0},
              {"norvik3_projector_lamp_on", "2", 0.0}})
            QCOMPARE(lamp(family, number),
                     lampsCurrent ? std::optional<double>(value) : std::nullopt);
        QVERIFY(!lamp("norvik3_projector_lamp_usage_seconds", "3"));
        QCOMPARE(Sample(text, "norvik3_projector_lamp_usage_seconds",
                        IdLabel(1) + ",projector=\"P1\",group=\"\",lamp=\"1\"}"),
                 std::optional<double>(100.0 * 3600));
        QCOMPARE(Samples(text, "norvik3_projector_lamp_on").size(), lampsCurrent ? 2 : 0);
        QCOMPARE(Sample(text, "norvik3_pjlink_notifications_total", "result=\"applied\""),
                 std::optional<double>(7));
        QCOMPARE(Sample(text, "norvik3_pjlink_notifications_total", "result=\"ignored\""),
                 std::optional<double>(2));
        // The password is never shown, whatever the projector did with it.
        state.PJLinkPassword = [](int) { return QStringLiteral("never-shown-secret"); };
        QVERIFY(!metrics().contains("never-shown-secret"));
        QVERIFY(!fetch("/api/v1/projectors").body.contains("never-shown-secret"));
    }

    // Every per-projector family lists the projectors in table order, each
    // with its id, name and group, also after a deletion renumbered them;
    // the info series adds what dashboards join on.
    void seriesFollowTheTableWithTheirIds() {
        AppState& state = endpoint->state;
        MakeFleet(state, 12);
        for (int p = 1; p <= 12; ++p) {
            state.Projectors[p].LastReply = QDateTime::fromSecsSinceEpoch(1'800'000'000 + p);
            state.Projectors[p].MACAddress =
                QStringLiteral("00:1A:2B:3C:4D:%1").arg(p, 2, 10, QLatin1Char('0'));
        }
        state.Projectors[5].ModelName = QStringLiteral("VX \"5100\"");
        state.Projectors[6].Protocol = ProtocolPJLink;
        DeleteProjectorNode(state, NodeOfProjector(state, 4));
        const QByteArray text = metrics();
        const QList<QByteArray> infos = Samples(text, "norvik3_projector_info");
        QCOMPARE(infos.size(), 11);
        QCOMPARE(infos[3], "norvik3_projector_info{" + IdLabel(5) +
                               ",projector=\"P5\",group=\"\",model=\"VX \\\"5100\\\"\","
                               "protocol=\"native\",address=\"192.0.2.5\","
                               "mac=\"00:1A:2B:3C:4D:05\"} 1");
        QVERIFY2(
            infos[4].contains(R"(group="Hall",model="",protocol="pjlink",address="192.0.2.6")"),
            infos[4].constData());
        const QList<QByteArray> families{"norvik3_projector_up",
                                         "norvik3_projector_power_state",
                                         "norvik3_projector_error_state",
                                         "norvik3_projector_lamp_usage_seconds",
                                         "norvik3_projector_filter_usage_seconds",
                                         "norvik3_projector_last_reply_timestamp_seconds",
                                         "norvik3_projector_authentication_error"};
        for (const QByteArray& family : families) {
            const QList<QByteArray> lines = Samples(text, family);
            QCOMPARE(lines.size(), 11);
            for (int k = 0; k < 11; ++k) {
                const int original = k < 3 ? k + 1 : k + 2;
                const QByteArray labels = IdLabel(original) + ",projector=\"P" +
                                          QByteArray::number(original) + "\",group=\"" +
                                          (original % 2 == 0 ? "Hall" : "") + '"' +
                                          (family.contains("lamp") ? ",lamp=\"1\"}" : "}");
                QVERIFY2(lines[k].startsWith(family + '{' + labels), lines[k].constData());
            }
        }
        QVERIFY(!text.contains("index="));
        const QJsonArray list = QJsonDocument::fromJson(fetch("/api/v1/projectors").body).array();
        QCOMPARE(list.size(), 11);
        QCOMPARE(list[3]["index"].toInt(), 4);
        QCOMPARE(list[3]["id"].toString(), IdOf(5));
        QCOMPARE(ProjectorIndexOfId(state, IdOf(5)), 4);
    }

    void runAndProcessMetrics() {
        bool running = false;
        endpoint->server.setScheduleRunning([&running] { return running; });
        QByteArray text = metrics();
        QCOMPARE(Sample(text, "norvik3_schedule_running"), std::optional<double>(0));
        running = true;
        text = metrics();
        QCOMPARE(Sample(text, "norvik3_schedule_running"), std::optional<double>(1));
        QVERIFY2(text.contains("norvik3_build_info{version=\"" + ProgramVersion().toLatin1() +
                               "\",qt_version=\"" + qVersion() + "\",site=\"\"} 1"),
                 text.constData());
        // The site names the instance in the metrics and the health answer.
        endpoint->state.SiteName = QStringLiteral("Main \"Building\"");
        QVERIFY(metrics().contains(",site=\"Main \\\"Building\\\"\"} 1"));
        QCOMPARE(QJsonDocument::fromJson(fetch("/api/v1/health").body)["site"].toString(),
                 endpoint->state.SiteName);

        const auto figure = [&](const char* name) {
            const auto value = Sample(text, name);
            return value.value_or(-1);
        };
        const double now = double(QDateTime::currentSecsSinceEpoch());
        QVERIFY(figure("process_resident_memory_bytes") > 1024 * 1024);
        QVERIFY(figure("process_virtual_memory_bytes") >= figure("process_resident_memory_bytes"));
        QVERIFY(figure("process_cpu_seconds_total") >= 0);
        QVERIFY(figure("process_open_fds") >= 3);
        QVERIFY(figure("process_max_fds") >= figure("process_open_fds"));
        QVERIFY(figure("process_start_time_seconds") > now - 24 * 3600);
        QVERIFY(figure("process_start_time_seconds") <= now + 1);
        QVERIFY(text.contains("# TYPE process_cpu_seconds_total counter"));
    }

    void processStatParsing_data() {
        QTest::addColumn<QByteArray>("stat");
        QTest::addColumn<QByteArray>("systemStat");
        // cpu seconds, start time, virtual bytes, resident bytes; -1 absent
        QTest::addColumn<QList<double>>("figures");
        const QByteArray tail = " S 1 1234 1234 0 -1 4194560 100 0 0 0 250 50 0 0 20 0 1 0 5000 "
                                "104857600 2560 18446744073709551615 1 1 0 0\n";
        const QByteArray boot = "cpu  1 2 3\nbtime 1700000000\nprocesses 9\n";
        QTest::addRow("plain name") << "1234 (norvik3d)" + tail << boot
                                    << QList<double>{3, 1700000050, 104857600, 10485760};
        QTest::addRow("name with blanks and parentheses")
            << "1234 (a) (b c)" + tail << boot << QList<double>{3, 1700000050, 104857600, 10485760};
        QTest::addRow("no boot time") << "1234 (x)" + tail << QByteArray("cpu 1\n")
                                      << QList<double>{3, -1, 104857600, 10485760};
        QTest::addRow("cut after the cpu times")
            << QByteArray("1234 (x) S 1 1234 1234 0 -1 4194560 100 0 0 0 250 50") << boot
            << QList<double>{3, -1, -1, -1};
        QTest::addRow("unreadable")
            << QByteArray() << QByteArray() << QList<double>{-1, -1, -1, -1};
    }

    void processStatParsing() {
        QFETCH(QByteArray, stat);
        QFETCH(QByteArray, systemStat);
        QFETCH(QList<double>, figures);
        const ProcessFigures parsed = ParseProcessStat(stat, systemStat, 100, 4096);
        const std::optional<double> got[] = {parsed.cpuSeconds, parsed.startTimeSeconds,
                                             parsed.virtualBytes, parsed.residentBytes};
        for (int k = 0; k < 4; ++k)
            QCOMPARE(got[k].value_or(-1), figures[k]);
    }

    // What is not set is null, never "", and the port is a number.
    void jsonValuesAreTypedOrNull_data() {
        QTest::addColumn<QString>("portNo");
        QTest::addColumn<qint16>("comPort");
        QTest::addColumn<QString>("text"); // name, model, address and MAC at once
        QTest::addColumn<QJsonValue>("port");
        QTest::addColumn<QJsonValue>("textShown");
        QTest::addColumn<QJsonValue>("comShown");
        QTest::addRow("set") << "10023" << qint16(0) << "X" << QJsonValue(10023) << QJsonValue("X")
                             << QJsonValue();
        QTest::addRow("blanks around the port")
            << " 23 " << qint16(2) << "X" << QJsonValue(23) << QJsonValue("X") << QJsonValue(2);
        QTest::addRow("nothing set")
            << "" << qint16(0) << "" << QJsonValue() << QJsonValue() << QJsonValue();
        QTest::addRow("port not a number")
            << "23a" << qint16(0) << "" << QJsonValue() << QJsonValue() << QJsonValue();
        QTest::addRow("port out of range")
            << "70000" << qint16(0) << "" << QJsonValue() << QJsonValue() << QJsonValue();
        QTest::addRow("port 0") << "0" << qint16(0) << "" << QJsonValue() << QJsonValue()
                                << QJsonValue();
    }

    void jsonValuesAreTypedOrNull() {
        QFETCH(QString, portNo);
        QFETCH(qint16, comPort);
        QFETCH(QString, text);
        QFETCH(QJsonValue, port);
        QFETCH(QJsonValue, textShown);
        QFETCH(QJsonValue, comShown);
        AppState& state = endpoint->state;
        MakeFleet(state, 1);
        ProjectorInfo& info = state.Projectors[1];
        info.PortNo = portNo;
        info.COMPort = comPort;
        info.ProjectorName = info.ModelName = info.IPAddress = info.MACAddress = text;
        const QJsonObject o =
            QJsonDocument::fromJson(fetch("/api/v1/projectors").body).array().first().toObject();
        QCOMPARE(o["port"], port);
        QCOMPARE(o["com_port"], comShown);
        for (const char* field : {"name", "model", "address", "mac"})
            QCOMPARE(o[QLatin1String(field)], textShown);
        QCOMPARE(o["group"], QJsonValue()); // under the root
    }

    // Real answers in several states of the fleet and the program, each
    // checked by a real JSON Schema validator against the published schema.
    void answersFollowTheSchema() {
        AppState& state = endpoint->state;
        QList<std::pair<QString, QByteArray>> answers;
        const auto take = [&](const char* when) {
            for (const auto& [definition, path] :
                 {std::pair{"projectors", "/api/v1/projectors"}, {"health", "/api/v1/health"}}) {
                const Answer answer = fetch(path);
                QVERIFY2(answer.status == 200 || answer.status == 503, when);
                answers.append({QString::fromLatin1(definition), answer.body});
            }
        };
        take("no projectors");
        MakeFleet(state, 6);
        take("all answering, before the first pass");
        ProjectorInfo& serial = state.Projectors[2];
        serial.ConnectionKind = ConnectionSerial;
        serial.COMPort = 3;
        serial.IPAddress.clear();
        serial.PortNo.clear();
        state.Projectors[1].MACAddress = QStringLiteral("00:1A:2B:3C:4D:5E");
        state.Projectors[1].LastReply = QDateTime::currentDateTime();
        state.Projectors[3].Disconnected = true;
        state.Projectors[4].Refusing = true;
        state.Projectors[4].PowerStatus = state.Projectors[4].ErrorStatus = -1;
        state.Projectors[5].ErrorStatus = 16;
        state.Projectors[5].ConnectionKind = -1;
        state.Projectors[6].PortNo = QStringLiteral("not a port");
        state.Projectors[6].ModelName.clear();
        MakePJLink(state, 5, 2);
        state.Projectors[5].PJLink.Warning = QStringLiteral("Filter Warning");
        state.Projectors[5].PowerStatus = 3;
        MakePJLink(state, 6, 1);
        state.Projectors[6].PJLink.AuthenticationError = true;
        state.Projectors[6].PJLink.Class = 0;
        state.Projectors[6].PJLink.LampCount = 0;
        state.Projectors[6].PJLink.Lamps[0].hours = -1;
        state.Polling.LastPassEnd = QDateTime::currentDateTimeUtc();
        state.SiteName = QStringLiteral("Library");
        state.Health.raise(HealthCondition::PasswordsRefused,
                           QStringLiteral("The PJLink passwords file is open to others"));
        state.Health.raise(HealthCondition::MailFailing, QStringLiteral("Server \"mx\" refuses"));
        take("mixed fleet, degraded");
        for (int p = 1; p <= 6; ++p)
            state.Projectors[p].Disconnected = true;
        take("failing");
        QCOMPARE(answers.size(), 8);
        const QByteArray findings = SchemaFindings(answers);
        QVERIFY2(findings.isEmpty(), findings.constData());

        // The validator does catch what the schema forbids.
        const QByteArray bad = SchemaFindings(
            {{"projectors", answers[2].second.replace("\"port\":23", "\"port\":\"23\"")},
             {"health", R"({"status":"fine","reasons":[],"version":"","projectors":1,)"
                        R"("schedule_running":false})"}});
        QVERIFY2(bad.contains("projectors 0/port") && bad.contains("health status") &&
                     bad.contains("health version"),
                 bad.constData());
    }

    void health_data() {
        QTest::addColumn<int>("projectors");
        QTest::addColumn<int>("answering");
        QTest::addColumn<bool>("passDone");
        QTest::addColumn<QList<HealthCondition>>("conditions");
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("httpStatus");
        QTest::addColumn<QStringList>("reasons");
        using C = HealthCondition;
        QTest::addRow("all well") << 3 << 1 << true << QList<C>{} << "ok" << 200 << QStringList{};
        QTest::addRow("none answers before the first pass")
            << 3 << 0 << false << QList<C>{} << "ok" << 200 << QStringList{};
        QTest::addRow("no projectors configured")
            << 0 << 0 << true << QList<C>{} << "ok" << 200 << QStringList{};
        QTest::addRow("mail failing") << 3 << 3 << true << QList<C>{C::MailFailing} << "degraded"
                                      << 200 << QStringList{"mail_failing"};
        QTest::addRow("every condition, in order")
            << 3 << 2 << true
            << QList<C>{C::NotificationsFailing, C::PasswordsRefused, C::SaveFailing,
                        C::SpoolDropping,        C::PollingBehind,    C::LogWriteFailing,
                        C::NoRecipient,          C::MailFailing,      C::EndpointLimits}
            << "degraded" << 200
            << QStringList{"endpoint_limits",
                           "mail_failing",
                           "no_recipient",
                           "log_write_failing",
                           "polling_behind",
                           "spool_dropping",
                           "save_failing",
                           "pjlink_passwords_refused",
                           "pjlink_notifications_failing"};
        QTest::addRow("no projector answers") << 3 << 0 << true << QList<C>{} << "failing" << 503
                                              << QStringList{"no_projector_answering"};
        QTest::addRow("failing and behind")
            << 2 << 0 << true << QList<C>{C::PollingBehind} << "failing" << 503
            << QStringList{"no_projector_answering", "polling_behind"};
    }

    void health() {
        QFETCH(int, projectors);
        QFETCH(int, answering);
        QFETCH(bool, passDone);
        QFETCH(QList<HealthCondition>, conditions);
        QFETCH(QString, status);
        QFETCH(int, httpStatus);
        QFETCH(QStringList, reasons);
        AppState& state = endpoint->state;
        state.ProjectorCount = qint16(projectors);
        // Those not answering alternate between the two ways of not answering.
        for (int p = 1; p <= projectors; ++p) {
            state.Projectors[p].Disconnected = p > answering && p % 2 == 0;
            state.Projectors[p].AnswerLost = p > answering && p % 2 == 1;
        }
        if (passDone)
            state.Polling.LastPassEnd = QDateTime::currentDateTime();
        const QString text = QStringLiteral("Something is wrong \"here\"");
        for (const HealthCondition c : conditions)
            state.Health.raise(c, text + HealthConditionName(c));

        const Answer answer = fetch("/api/v1/health");
        QCOMPARE(answer.status, httpStatus);
        const QJsonObject o = QJsonDocument::fromJson(answer.body).object();
        QCOMPARE(o["status"].toString(), status);
        QCOMPARE(o["projectors"].toInt(), projectors);
        QVERIFY(o["version"].isString() && o["schedule_running"].isBool());
        QStringList names;
        for (const QJsonValue& reason : o["reasons"].toArray()) {
            const QString name = reason["name"].toString();
            names << name;
            if (name == QLatin1String("no_projector_answering")) {
                QVERIFY(reason["text"].toString().contains(QString::number(projectors)));
                continue;
            }
            QCOMPARE(reason["text"].toString(), text + name);
            QVERIFY(!reason["since"].toString().isEmpty());
        }
        QCOMPARE(names, reasons);
        QCOMPARE(o["site"], QJsonValue()); // not set

        // The metrics give every reason the answer can give, 1 for those it
        // gives now.
        const QList<QByteArray> series = Samples(metrics(), "norvik3_health_condition");
        QCOMPARE(series.size(), int(HealthCondition::Count) + 1);
        QStringList raised, expected = reasons;
        for (const QByteArray& line : series) {
            const QByteArray name = line.split('"').value(1),
                             head = "norvik3_health_condition{name=\"";
            QVERIFY2(line == head + name + "\"} 1" || line == head + name + "\"} 0",
                     line.constData());
            if (line.endsWith(" 1"))
                raised << QString::fromLatin1(name);
        }
        raised.sort();
        expected.sort();
        QCOMPARE(raised, expected);

        // Without a token: the same status and reasons, nothing of the fleet.
        const Answer brief = fetch("/api/v1/health", {});
        QCOMPARE(brief.status, httpStatus);
        const QJsonObject b = QJsonDocument::fromJson(brief.body).object();
        QCOMPARE(b.keys(), QStringList({"reasons", "status"}));
        QCOMPARE(b["status"], o["status"]);
        QCOMPARE(b["reasons"], o["reasons"]);
    }

    void metricsOfTheRunPassPromtool() {
        AppState& state = endpoint->state;
        MakeFleet(state, 3);
        const QStringList names{"Saal \"Nord\"\\1", "Foyer\nÄ", "Aula"};
        for (int p = 1; p <= 3; ++p) {
            state.Projectors[p].ProjectorName = names[p - 1];
            state.Projectors[p].Disconnected = p == 2;
            state.Projectors[p].Refusing = p == 3;
            state.Projectors[p].PowerStatus = p == 3 ? -1 : 1;
            state.Projectors[p].LampTime = 300;
        }
        MakePJLink(state, 3, 2);
        state.Projectors[3].PJLink.AuthenticationError = true;
        state.Projectors[3].PJLink.Warning = QStringLiteral("Lamp Warning");
        const Forecast due{Forecast::State::Due, 0, 1900, 100, 1'800'000'000'000};
        state.Projectors[1].LampForecasts = {due};
        state.Projectors[1].FilterForecast = due;
        // Two lamps: lamp 1 with no date yet, lamp 2 due.
        state.Projectors[3].LampForecasts = {
            Forecast{Forecast::State::NoData, 0, 1200, 800, 0},
            Forecast{Forecast::State::Due, 0, 1500, 500, 1'700'000'000'000}};
        state.Health.raise(HealthCondition::MailFailing, QStringLiteral("mx refuses"));
        state.Counters.AlertsDroppedQueueFull = 3;
        state.Counters.AlertsDroppedRefused = 2;
        state.Counters.PJLinkNotificationsIgnored = 4;
        QByteArray text = metrics();
        QVERIFY(!text.contains("norvik3_poll_duration_seconds "));
        QVERIFY(!text.contains("norvik3_last_poll_timestamp_seconds "));
        QCOMPARE(Sample(text, "norvik3_poll_behind"), std::optional<double>(0));

        const QDateTime end = QDateTime::fromMSecsSinceEpoch(1'800'000'000'123);
        state.Polling.LastPassEnd = end;
        // Printed as the decimals they are, not as 8.111000000000001.
        state.Polling.LastPassSeconds = 8111 / 1000.0;
        state.Counters.PJLinkNotificationsLimited = 7;
        state.Polling.Behind = true;
        Client huge(QStringLiteral("127.0.0.7"), endpoint->server.port(),
                    {"GET /" + QByteArray(100 * 1024, 'x')});
        QTRY_VERIFY_WITH_TIMEOUT(huge.closed(), Wait);
        text = metrics();
        QCOMPARE(Sample(text, "norvik3_alerts_dropped_total", "reason=\"queue_full\""),
                 std::optional<double>(3));
        QCOMPARE(Sample(text, "norvik3_alerts_dropped_total", "reason=\"refused\""),
                 std::optional<double>(2));
        QVERIFY2(text.contains("\nnorvik3_poll_duration_seconds 8.111\n"), text.constData());
        QVERIFY(text.contains("\nnorvik3_last_poll_timestamp_seconds 1800000000.123\n"));
        QCOMPARE(Sample(text, "norvik3_pjlink_notifications_total", "result=\"limited\""),
                 std::optional<double>(7));
        QCOMPARE(Sample(text, "norvik3_poll_behind"), std::optional<double>(1));
        QCOMPARE(Sample(text, "norvik3_http_connections_refused_total", "reason=\"too_large\""),
                 std::optional<double>(1));
        // Remaining time in seconds, per lamp; the due time as a timestamp.
        // Each line: projector, lamp ("" for the filter), value.
        using Line = std::tuple<int, QByteArray, double>;
        for (const auto& [family, expected] :
             {std::pair{"norvik3_lamp_remaining_seconds", QList<Line>{{1, "1", 100.0 * 3600},
                                                                      {3, "1", 800.0 * 3600},
                                                                      {3, "2", 500.0 * 3600}}},
              {"norvik3_filter_remaining_seconds", {{1, "", 100.0 * 3600}}},
              {"norvik3_lamp_due_timestamp_seconds",
               {{1, "1", 1'800'000'000.0}, {3, "2", 1'700'000'000.0}}}}) {
            const QList<QByteArray> lines = Samples(text, family);
            QCOMPARE(lines.size(), expected.size());
            for (const auto& [p, lamp, value] : expected) {
                const QByteArray end = lamp.isEmpty() ? "\"} " : ",lamp=\"" + lamp + "\"} ";
                const auto line =
                    std::find_if(lines.begin(), lines.end(), [&](const QByteArray& l) {
                        return l.contains(IdLabel(p)) && l.contains(end);
                    });
                QVERIFY2(line != lines.end(), family);
                QCOMPARE(line->mid(line->lastIndexOf(' ') + 1).toDouble(), value);
            }
        }

        // promtool with nothing excepted.
        const QByteArray findings = PromtoolFindings(text, Wait);
        QVERIFY2(findings.isEmpty(), findings.constData());
    }

    // Each value is printed as the shortest decimal that reads back as the
    // number, never rounded to sixteen digits nor with an exponent.
    void valuesAreExactDecimals_data() {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QByteArray>("printed");
        QTest::addRow("milliseconds") << 8111 / 1000.0 << QByteArray("8.111");
        QTest::addRow("sixteen digits would round")
            << 0.1 + 0.2 << QByteArray("0.30000000000000004");
        QTest::addRow("small") << 0.00005 << QByteArray("0.00005");
        QTest::addRow("whole") << 12.0 << QByteArray("12");
        QTest::addRow("zero") << 0.0 << QByteArray("0");
        QTest::addRow("beyond any duration") << 1e20 << QByteArray("1e+20");
    }

    void valuesAreExactDecimals() {
        QFETCH(double, seconds);
        QFETCH(QByteArray, printed);
        endpoint->state.Polling.LastPassSeconds = seconds;
        const QByteArray text = metrics();
        QVERIFY2(text.contains("\nnorvik3_poll_duration_seconds " + printed + '\n'),
                 text.constData());
        QCOMPARE(Sample(text, "norvik3_poll_duration_seconds"), std::optional<double>(seconds));
    }

    void acceptsGzip_data() {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<bool>("accepts");
        QTest::addRow("none") << QByteArray() << false;
        QTest::addRow("gzip") << QByteArray("gzip") << true;
        QTest::addRow("among others, any case") << QByteArray("deflate, GZip;Q=0.8, br") << true;
        QTest::addRow("refused by q=0") << QByteArray("gzip;q=0, deflate") << false;
        QTest::addRow("q=0.000 refuses too") << QByteArray("gzip; q=0.000") << false;
        QTest::addRow("x-gzip") << QByteArray("x-gzip") << true;
        QTest::addRow("any") << QByteArray("*") << true;
        QTest::addRow("any, but not gzip") << QByteArray("*, gzip;q=0") << false;
        QTest::addRow("identity only") << QByteArray("identity") << false;
        QTest::addRow("a name that holds gzip") << QByteArray("gzipped") << false;
    }

    void acceptsGzip() {
        QFETCH(QByteArray, header);
        QFETCH(bool, accepts);
        QCOMPARE(AcceptsGzip(header), accepts);
    }

    // A scraper that asks for gzip gets the same text compressed, which the
    // real gzip reads back; one that does not gets it plain.
    void metricsCompressedWhenAsked() {
        AppState& state = endpoint->state;
        MakeFleet(state, 40);
        for (int p = 1; p <= 40; p += 4)
            MakePJLink(state, p, 2);
        const Answer plain = fetch("/metrics");
        const Answer packed = fetch("/metrics", Auth + "Accept-Encoding: deflate, gzip\r\n");
        QCOMPARE(plain.status, 200);
        QCOMPARE(packed.status, 200);
        const QByteArray head = packed.head.toLower();
        QVERIFY(!plain.head.toLower().contains("content-encoding"));
        QVERIFY2(head.contains("\r\ncontent-encoding: gzip"), head.constData());
        QVERIFY(head.contains("\r\nvary: accept-encoding"));
        QVERIFY2(packed.body.size() * 8 < plain.body.size(),
                 QByteArray::number(packed.body.size()));
        QProcess gzip;
        gzip.start(QStringLiteral("gzip"), {QStringLiteral("-dc")});
        QVERIFY(gzip.waitForStarted(Wait));
        gzip.write(packed.body);
        gzip.closeWriteChannel();
        QVERIFY(gzip.waitForFinished(Wait));
        QCOMPARE(gzip.exitCode(), 0);
        // The process figures move between two scrapes; the rest is equal.
        const auto steady = [](const QByteArray& text) {
            QList<QByteArray> lines;
            for (const QByteArray& line : text.split('\n'))
                if (!line.startsWith("process_"))
                    lines << line;
            return lines;
        };
        QCOMPARE(steady(gzip.readAllStandardOutput()), steady(plain.body));
    }

    void warnsWithoutTokenBeyondLoopback_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QByteArray>("token");
        QTest::addColumn<bool>("warns");
        QTest::addRow("loopback, no token") << "127.0.0.1" << QByteArray() << false;
        QTest::addRow("IPv6 loopback, no token") << "::1" << QByteArray() << false;
        QTest::addRow("every address, no token") << "0.0.0.0" << QByteArray() << true;
        QTest::addRow("every address, token") << "0.0.0.0" << Token << false;
    }

    void warnsWithoutTokenBeyondLoopback() {
        QFETCH(QString, address);
        QFETCH(QByteArray, token);
        QFETCH(bool, warns);
        Endpoint other({}, address, token);
        if (!other.server.start())
            QSKIP(qPrintable(other.server.problem()));
        QCOMPARE(!other.server.warning().isEmpty(), warns);
        if (warns)
            QVERIFY(other.server.warning().contains("StatusHttpToken"));
    }
};

QTEST_GUILESS_MAIN(TestStatus)
#include "test_status.moc"
