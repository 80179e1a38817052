// history_search: a history of 1.5 million events (--events) in the
// program's file, the endpoint on 127.0.0.1 and 256 simulated projectors.
// Measures one search that matches nothing (the whole file is looked at):
// the time to its first answer, and to its last page following `next`;
// then the polling pass, and the longest event-loop stall, without and
// with three clients searching in a loop.

#include "BenchKit.h"

#include "comm/CommEngine.h"
#include "core/AppState.h"
#include "history/EventStore.h"
#include "status/StatusServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

using namespace std::chrono_literals;

namespace {

const QByteArray Search = "/api/v1/events?text=no-event-says-this&limit=100";

// Made-up events, newest now, two every 8 s: about 140 days.
QString Fill(const QString& file, int count) {
    EventStore store(file, EventStore::Mode::Write);
    if (store.open() != EventStore::OpenResult::Opened)
        return store.message();
    const qint64 newest = QDateTime::currentMSecsSinceEpoch();
    std::vector<HistoryEvent> batch;
    for (int n = 0; n < count; ++n) {
        HistoryEvent e;
        e.timeMs = newest - qint64(count - n) * 4000;
        e.kind = EventKind(n % EventKindCount);
        e.projectorId =
            QStringLiteral("6f1c2a4e-0000-4000-8000-%1").arg(n % 256, 12, 10, QLatin1Char('0'));
        e.projectorName = QStringLiteral("Room %1").arg(n % 256);
        e.groupName = QStringLiteral("G%1").arg(n % 16);
        e.text = n % 3 ? QString() : QStringLiteral("Lamp 1 overheated");
        e.outcome = n % 5 ? QString() : QStringLiteral("acknowledged");
        batch.push_back(std::move(e));
        if (batch.size() == 5000 || n == count - 1) {
            if (store.append(batch) != EventStore::WriteResult::Written)
                return store.message();
            batch.clear();
        }
    }
    return {};
}

// One GET on a connection of its own; done(status, body) once it closes.
class Fetch : public QObject {
  public:
    Fetch(quint16 port, const QByteArray& path, std::function<void(int, QByteArray)> done)
        : m_done(std::move(done)) {
        connect(&m_socket, &QTcpSocket::readyRead, this,
                [this] { m_received += m_socket.readAll(); });
        connect(&m_socket, &QTcpSocket::disconnected, this, &Fetch::finish);
        connect(&m_socket, &QTcpSocket::errorOccurred, this, &Fetch::finish);
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        m_socket.write("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    }

  private:
    void finish() {
        if (!m_done)
            return;
        m_received += m_socket.readAll();
        const qsizetype headEnd = m_received.indexOf("\r\n\r\n");
        const int status = m_received.split(' ').value(1).toInt();
        std::exchange(m_done, nullptr)(status,
                                       headEnd < 0 ? QByteArray() : m_received.mid(headEnd + 4));
    }
    QTcpSocket m_socket;
    QByteArray m_received;
    std::function<void(int, QByteArray)> m_done;
};

// Follows the search's pages to the end, again and again while `going`.
class Searcher {
  public:
    Searcher(quint16 port, std::function<bool()> going) : m_port(port), m_going(std::move(going)) {}
    void start(const QByteArray& cursor = {}) {
        m_fetch =
            std::make_unique<Fetch>(m_port, Search + cursor, [this](int status, QByteArray body) {
                QMetaObject::invokeMethod(
                    qApp, [this, status, body] { answered(status, body); }, Qt::QueuedConnection);
            });
    }
    int answers = 0;
    int searches = 0;
    int failures = 0;
    int firstPageMs = -1;
    int wholeMs = -1;

  private:
    void answered(int status, const QByteArray& body) {
        if (firstPageMs < 0)
            firstPageMs = int(m_wall.elapsed());
        ++answers;
        const QString next = QJsonDocument::fromJson(body).object().value("next").toString();
        if (status != 200)
            ++failures;
        if (status == 200 && !next.isEmpty()) {
            start("&cursor=" + next.toLatin1());
            return;
        }
        ++searches;
        if (wholeMs < 0)
            wholeMs = int(m_wall.elapsed());
        if (m_going())
            start();
        else
            m_fetch.reset();
    }
    quint16 m_port;
    std::function<bool()> m_going;
    std::unique_ptr<Fetch> m_fetch;
    QElapsedTimer m_wall{[] {
        QElapsedTimer t;
        t.start();
        return t;
    }()};
};

// `passes` polling passes back to back.
Pace Poll(BenchFleet& fleet, int passes) {
    return PollWhile(fleet, [passes, done = 1](qint64) mutable { return done++ < passes; });
}

void PrintPace(const char* what, const Pace& pace) {
    std::printf("%-28s %zu passes, median %lld ms, longest %lld ms, longest event-loop stall "
                "%.1f ms\n",
                what, pace.passesMs.size(), static_cast<long long>(pace.medianMs()),
                static_cast<long long>(pace.longestMs()), pace.longestStallMs);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Endpoint searches over a large history while 256 projectors are polled."));
    parser.addHelpOption();
    const QCommandLineOption eventsOption =
        NumberOption({QStringLiteral("events")}, QStringLiteral("Events"), 1500000);
    const QCommandLineOption passesOption =
        NumberOption({QStringLiteral("passes")}, QStringLiteral("Passes measured each way"), 10);
    parser.addOptions({eventsOption, passesOption});
    parser.process(app);
    const int events = NumberValue(parser, eventsOption, 1);
    const int passes = NumberValue(parser, passesOption, 1);

    BenchFleet fleet(256, 16);
    if (!fleet.problem().isEmpty())
        return Failed("history_search", fleet.problem());
    ProgramCore& core = fleet.core();
    QElapsedTimer filling;
    filling.start();
    const QString problem = Fill(fleet.home() + QStringLiteral("/History.sqlite"), events);
    if (!problem.isEmpty())
        return Failed("history_search", problem);
    std::printf("history of %d events made in %.1f s\n", events, double(filling.elapsed()) / 1000);
    {
        // The page read in one query, as the endpoint once did on the event loop.
        EventStore store(fleet.home() + QStringLiteral("/History.sqlite"), EventStore::Mode::Read);
        EventFilter filter;
        filter.text = QStringLiteral("no-event-says-this");
        QElapsedTimer once;
        once.start();
        const bool read = store.open() == EventStore::OpenResult::Opened &&
                          store.page(filter, std::nullopt, 100).problem.isEmpty();
        std::printf("the same search in one query: %lld ms%s\n",
                    static_cast<long long>(once.elapsed()), read ? "" : " (failed)");
    }
    const quint16 port = FreeLocalPort();
    core.startStatusEndpoint(QStringLiteral("127.0.0.1"), port);
    if (!core.statusServer() || !core.statusServer()->isListening())
        return Failed("history_search", QStringLiteral("the endpoint does not listen"));
    if (!RunPass(core.engine(), fleet.state(), 120s))
        return Failed("history_search", QStringLiteral("the first pass did not end"));

    {
        StallMeter meter;
        meter.start();
        Searcher one(port, [] { return false; });
        one.start();
        while (one.searches == 0 && one.failures == 0)
            Pause(5ms);
        std::printf("one search: first answer after %d ms, last page after %d ms (%d pages, %d "
                    "failed), longest event-loop stall %.1f ms\n",
                    one.firstPageMs, one.wholeMs, one.answers, one.failures, meter.longestMs());
    }

    const Pace idle = Poll(fleet, passes);
    PrintPace("polling alone:", idle);
    bool searching = true;
    std::vector<std::unique_ptr<Searcher>> searchers;
    for (int n = 0; n < 3; ++n) {
        searchers.push_back(std::make_unique<Searcher>(port, [&] { return searching; }));
        searchers.back()->start();
    }
    const Pace loaded = Poll(fleet, passes);
    searching = false;
    PrintPace("with three searches looping:", loaded);
    int answers = 0;
    int searches = 0;
    int failures = 0;
    for (const auto& s : searchers) {
        answers += s->answers;
        searches += s->searches;
        failures += s->failures;
    }
    std::printf("meanwhile: %d searches followed to their end, %d answers, %d not 200\n", searches,
                answers, failures);
    Pause(2s);
    return 0;
}
