#include "SlowClients.h"

#include <algorithm>

using namespace std::chrono_literals;

namespace {

const QByteArray SlowHead = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: "
                            "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
const QByteArray Request = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
constexpr auto ProbeLimit = 10s;

QHostAddress SlowSource(int address) {
    return QHostAddress(
        QStringLiteral("127.0.%1.%2").arg(1 + address / 250).arg(1 + address % 250));
}

} // namespace

SlowClients::SlowClients(quint16 port, int slow, int addresses, int seconds)
    : m_port(port), m_addresses(std::max(1, addresses)), m_seconds(seconds) {
    m_slow.resize(std::size_t(std::max(0, slow)));
    for (std::size_t i = 0; i < m_slow.size(); ++i)
        m_slow[i].source = SlowSource(int(i) % m_addresses);
    m_drip.setInterval(250ms);
    connect(&m_drip, &QTimer::timeout, this, &SlowClients::drip);
    m_probe.setInterval(1s);
    connect(&m_probe, &QTimer::timeout, this, &SlowClients::probe);
}

void SlowClients::start() {
    for (Slow& slow : m_slow)
        open(slow);
    m_drip.start();
    // The slow clients take their slots first.
    QTimer::singleShot(2s, this, [this] { m_probe.start(); });
}

void SlowClients::open(Slow& slow) {
    slow.socket = std::make_unique<QTcpSocket>();
    slow.sent = 0;
    slow.socket->bind(slow.source);
    QTcpSocket* socket = slow.socket.get();
    connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
    slow.socket->connectToHost(QHostAddress::LocalHost, m_port);
}

void SlowClients::drip() {
    for (Slow& slow : m_slow) {
        QTcpSocket& socket = *slow.socket;
        if (socket.state() == QAbstractSocket::UnconnectedState) {
            ++m_reopened;
            open(slow);
        } else if (socket.state() == QAbstractSocket::ConnectedState &&
                   slow.sent < SlowHead.size()) {
            socket.write(SlowHead.mid(slow.sent++, 1));
        }
    }
}

void SlowClients::probe() {
    if (m_probes == m_seconds) {
        m_probe.stop();
        QTimer::singleShot(ProbeLimit, this, &SlowClients::finished);
        return;
    }
    ++m_probes;
    ++m_pending;
    auto* socket = new QTcpSocket(this);
    socket->bind(QHostAddress(QStringLiteral("127.0.9.1")));
    auto clock = std::make_shared<QElapsedTimer>();
    auto answer = std::make_shared<QByteArray>();
    auto done = std::make_shared<bool>(false);
    const auto finish = [this, socket, done](std::optional<double> ms) {
        if (*done)
            return;
        *done = true;
        --m_pending;
        if (ms)
            m_answerMs.push_back(*ms);
        else
            ++m_unanswered;
        socket->abort();
        socket->deleteLater();
    };
    connect(socket, &QTcpSocket::connected, socket, [socket] { socket->write(Request); });
    connect(socket, &QTcpSocket::readyRead, socket,
            [socket, answer] { *answer += socket->readAll(); });
    connect(socket, &QTcpSocket::disconnected, socket, [answer, clock, finish] {
        if (answer->startsWith("HTTP/1.1 200"))
            finish(double(clock->nsecsElapsed()) / 1e6);
        else
            finish(std::nullopt);
    });
    connect(socket, &QTcpSocket::errorOccurred, socket, [socket, answer, clock, finish] {
        if (socket->error() == QAbstractSocket::RemoteHostClosedError &&
            answer->startsWith("HTTP/1.1 200"))
            finish(double(clock->nsecsElapsed()) / 1e6);
        else
            finish(std::nullopt);
    });
    QTimer::singleShot(ProbeLimit, socket, [finish] { finish(std::nullopt); });
    clock->start();
    socket->connectToHost(QHostAddress::LocalHost, m_port);
}

QString SlowClients::report() const {
    std::vector<double> ms = m_answerMs;
    std::sort(ms.begin(), ms.end());
    const auto at = [&ms](double share) {
        return ms.empty() ? 0.0
                          : ms[std::min(ms.size() - 1, std::size_t(share * double(ms.size())))];
    };
    int connected = 0;
    for (const Slow& slow : m_slow)
        connected += slow.socket->state() == QAbstractSocket::ConnectedState ? 1 : 0;
    return QStringLiteral("slow clients: %1 from %2 addresses, %3 connected at the end, %4 "
                          "opened again after a close\n"
                          "well-behaved client: answered %5 of %6 (unanswered %7); answer time "
                          "median %8 ms, 90th percentile %9 ms, slowest %10 ms\n")
        .arg(m_slow.size())
        .arg(std::min<std::size_t>(std::size_t(m_addresses), m_slow.size()))
        .arg(connected)
        .arg(m_reopened)
        .arg(ms.size())
        .arg(m_probes)
        .arg(m_unanswered + m_pending)
        .arg(at(0.5), 0, 'f', 1)
        .arg(at(0.9), 0, 'f', 1)
        .arg(ms.empty() ? 0.0 : ms.back(), 0, 'f', 1);
}
