#pragma once

// Clients that trickle their request heads at an HTTP endpoint, and beside
// them a well-behaved client, for tests and benchmarks of the endpoint
// under load:
//
//   SlowClients load({server, port, SlowClients::Sources(first, 100), probeSource});
//   load.start(800, 10);             // 800 slow ones; 10 requests, one a second
//   ... run the event loop until load.done() ...
//   load.answered(), load.answerMs(), load.report()
//
// Each slow connection sends one byte of a head every 250 ms and opens
// again as soon as the endpoint closes it. The well-behaved client opens a
// new connection for each GET /metrics; a request is answered when a 200
// comes back within the probe limit. Sockets are opened as the load goes
// on, each in the network namespace the thread is in at that moment: keep
// the thread on the clients' side while the load runs.

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <vector>

class SlowClients {
  public:
    struct Setup {
        QHostAddress server;
        quint16 port = 0;
        std::vector<QHostAddress> sources; // the slow clients take turns among them
        QHostAddress probeSource;
        std::chrono::milliseconds probeLimit{10000};
    };

    // `count` addresses counting up from `first` (127.0.1.1 -> 127.0.1.2 ...).
    static std::vector<QHostAddress> Sources(const QHostAddress& first, int count) {
        std::vector<QHostAddress> sources;
        for (int i = 0; i < count; ++i)
            sources.emplace_back(first.toIPv4Address() + quint32(i));
        return sources;
    }

    explicit SlowClients(Setup setup) : m_setup(std::move(setup)) {
        m_drip.setInterval(std::chrono::milliseconds(250));
        QObject::connect(&m_drip, &QTimer::timeout, [this] { drip(); });
        m_probe.setInterval(std::chrono::seconds(1));
        QObject::connect(&m_probe, &QTimer::timeout, [this] { probe(); });
    }
    ~SlowClients() {
        // Requests still out end with the load, telling nobody.
        for (QObject* socket : m_probes.children())
            socket->disconnect();
    }
    SlowClients(const SlowClients&) = delete;
    SlowClients& operator=(const SlowClients&) = delete;

    // Opens the slow connections; the well-behaved requests start once they
    // had two seconds to take their slots.
    void start(int slow, int requests) {
        m_requests = requests;
        m_slow.resize(std::size_t(std::max(0, slow)));
        const std::size_t sources = std::max<std::size_t>(1, m_setup.sources.size());
        for (std::size_t i = 0; i < m_slow.size(); ++i) {
            m_slow[i].source =
                m_setup.sources.empty() ? QHostAddress() : m_setup.sources[i % sources];
            open(m_slow[i]);
        }
        m_drip.start();
        QTimer::singleShot(std::chrono::seconds(2), &m_probe, [this] { m_probe.start(); });
    }

    // Every request was sent and has its outcome.
    bool done() const { return m_sent == m_requests && m_pending == 0; }
    int sent() const { return m_sent; }
    int answered() const { return int(m_answerMs.size()); }
    const std::vector<double>& answerMs() const { return m_answerMs; }
    int connectedSlow() const {
        return int(std::count_if(m_slow.begin(), m_slow.end(), [](const Slow& slow) {
            return slow.socket->state() == QAbstractSocket::ConnectedState;
        }));
    }
    int reopened() const { return m_reopened; }

    // The slow clients, and the well-behaved one's answers and their times.
    QString report() const {
        std::vector<double> ms = m_answerMs;
        std::sort(ms.begin(), ms.end());
        const auto at = [&ms](double share) {
            return ms.empty() ? 0.0
                              : ms[std::min(ms.size() - 1, std::size_t(share * double(ms.size())))];
        };
        return QStringLiteral("slow clients: %1 from %2 addresses, %3 connected at the end, %4 "
                              "opened again after a close\n"
                              "well-behaved client from %5: answered %6 of %7; answer time "
                              "median %8 ms, 90th percentile %9 ms, slowest %10 ms\n")
            .arg(m_slow.size())
            .arg(std::min(m_setup.sources.size(), m_slow.size()))
            .arg(connectedSlow())
            .arg(m_reopened)
            .arg(m_setup.probeSource.toString())
            .arg(ms.size())
            .arg(m_sent)
            .arg(at(0.5), 0, 'f', 1)
            .arg(at(0.9), 0, 'f', 1)
            .arg(ms.empty() ? 0.0 : ms.back(), 0, 'f', 1);
    }

  private:
    struct Slow {
        std::unique_ptr<QTcpSocket> socket;
        QHostAddress source;
        qsizetype sent = 0;
    };

    QByteArray head() const {
        return "GET /metrics HTTP/1.1\r\nHost: " + m_setup.server.toString().toLatin1() +
               "\r\nX-Slow: " + QByteArray(60, 'a');
    }

    void open(Slow& slow) {
        slow.socket = std::make_unique<QTcpSocket>();
        slow.sent = 0;
        if (!slow.source.isNull())
            slow.socket->bind(slow.source);
        QTcpSocket* socket = slow.socket.get();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
        socket->connectToHost(m_setup.server, m_setup.port);
    }

    void drip() {
        const QByteArray bytes = head();
        for (Slow& slow : m_slow) {
            QTcpSocket& socket = *slow.socket;
            if (socket.state() == QAbstractSocket::UnconnectedState) {
                ++m_reopened;
                open(slow);
            } else if (socket.state() == QAbstractSocket::ConnectedState &&
                       slow.sent < bytes.size()) {
                socket.write(bytes.mid(slow.sent++, 1));
            }
        }
    }

    void probe() {
        if (m_sent == m_requests) {
            m_probe.stop();
            return;
        }
        ++m_sent;
        ++m_pending;
        auto* socket = new QTcpSocket(&m_probes);
        if (!m_setup.probeSource.isNull())
            socket->bind(m_setup.probeSource);
        auto clock = std::make_shared<QElapsedTimer>();
        auto answer = std::make_shared<QByteArray>();
        auto finished = std::make_shared<bool>(false);
        const auto finish = [this, socket, finished](std::optional<double> ms) {
            if (*finished)
                return;
            *finished = true;
            --m_pending;
            if (ms)
                m_answerMs.push_back(*ms);
            socket->abort();
            socket->deleteLater();
        };
        const auto ended = [answer, clock, finish] {
            finish(answer->startsWith("HTTP/1.1 200")
                       ? std::optional<double>(double(clock->nsecsElapsed()) / 1e6)
                       : std::nullopt);
        };
        const QByteArray request =
            "GET /metrics HTTP/1.1\r\nHost: " + m_setup.server.toString().toLatin1() +
            "\r\nConnection: close\r\n\r\n";
        QObject::connect(socket, &QTcpSocket::connected, socket,
                         [socket, request] { socket->write(request); });
        QObject::connect(socket, &QTcpSocket::readyRead, socket,
                         [socket, answer] { *answer += socket->readAll(); });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, ended);
        QObject::connect(socket, &QTcpSocket::errorOccurred, socket, ended);
        QTimer::singleShot(m_setup.probeLimit, socket, [finish] { finish(std::nullopt); });
        clock->start();
        socket->connectToHost(m_setup.server, m_setup.port);
    }

    Setup m_setup;
    std::vector<Slow> m_slow;
    QTimer m_drip;
    QTimer m_probe;
    int m_requests = 0;
    int m_sent = 0;
    int m_pending = 0;
    int m_reopened = 0;
    std::vector<double> m_answerMs; // answered requests
    QObject m_probes;               // the well-behaved requests' sockets
};
