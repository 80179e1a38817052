#include "PJLinkEndpoint.h"

#include "PJLinkProjector.h"
#include "TcpEndpoint.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTimer>

#include <deque>
#include <sys/socket.h>

namespace sim {

namespace {

constexpr int DigestSize = 32;
constexpr qsizetype FloodSize = 5 * 1024;
// A client that sends a line this long, or this much without a line end, is
// cut off, so no peer can grow the simulator's memory.
constexpr qsizetype MaxLineBytes = 4096;
// Replies waiting for the reply delay; lines beyond these go unanswered.
constexpr size_t MaxWaitingReplies = 256;

} // namespace

// One accepted connection. It owns its socket and goes away when the
// connection ends.
class PJLinkSession : public QObject {
  public:
    PJLinkSession(PJLinkProjector& projector, QTcpSocket* socket, QObject* parent)
        : QObject(parent), m_projector(projector), m_socket(socket) {
        m_socket->setParent(this);
        m_projector.connectionOpened();
        connect(m_socket, &QTcpSocket::readyRead, this, &PJLinkSession::read);
        connect(m_socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
        const PJLinkQuirks& quirks = m_projector.quirks();
        if (quirks.idleDrop > std::chrono::milliseconds::zero()) {
            m_idle.setSingleShot(true);
            m_idle.setInterval(quirks.idleDrop);
            connect(&m_idle, &QTimer::timeout, this, &PJLinkSession::close);
            m_idle.start();
        }
        if (quirks.silent)
            return;
        // Without a greeting the client gets no random to hash, so no
        // authentication can be asked for.
        m_authenticated = quirks.noGreeting || (m_projector.password().isEmpty() && !quirks.erra);
        if (!quirks.noGreeting) {
            if (m_authenticated) {
                m_socket->write("PJLINK 0\r");
            } else {
                m_random = QByteArray::number(QRandomGenerator::global()->generate(), 16)
                               .rightJustified(8, '0');
                m_socket->write("PJLINK 1 " + m_random + '\r');
            }
        }
        if (quirks.flood)
            m_socket->write(QByteArray(FloodSize, 'x'));
    }

    ~PJLinkSession() override {
        if (m_open)
            m_projector.connectionClosed();
    }

    PJLinkSession(const PJLinkSession&) = delete;
    PJLinkSession& operator=(const PJLinkSession&) = delete;

    // A connection its client has closed is over even before its end has
    // been read here: a client that closes and at once connects again has
    // never had two connections open.
    void settleIfClosed() {
        read();
        char byte = 0;
        const auto fd = int(m_socket->socketDescriptor());
        if (m_open && fd >= 0 && ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0) {
            m_open = false;
            m_projector.connectionClosed();
            deleteLater();
        }
    }

  private:
    void read() {
        if (m_closing) {
            m_socket->readAll();
            return;
        }
        m_buffer.append(m_socket->readAll());
        for (;;) {
            const qsizetype end = lineEnd();
            if (end < 0)
                break;
            const QByteArray line = m_buffer.left(end);
            m_buffer.remove(0, end + 1);
            if (line.size() > MaxLineBytes)
                close();
            if (line.isEmpty())
                continue;
            m_projector.countCommand();
            if (m_idle.isActive())
                m_idle.start();
            if (m_closing || m_projector.quirks().silent)
                continue;
            handle(line);
        }
        if (m_buffer.size() > MaxLineBytes)
            close();
    }

    qsizetype lineEnd() const {
        const qsizetype cr = m_buffer.indexOf('\r');
        const qsizetype lf = m_buffer.indexOf('\n');
        if (cr < 0 || lf < 0)
            return cr < 0 ? lf : cr;
        return std::min(cr, lf);
    }

    void handle(QByteArray line) {
        if (!m_authenticated) {
            const QByteArray expected =
                QCryptographicHash::hash(m_random + m_projector.password(), QCryptographicHash::Md5)
                    .toHex();
            if (m_projector.quirks().erra || line.left(DigestSize).toLower() != expected) {
                reply("PJLINK ERRA", true);
                return;
            }
            m_authenticated = true;
            line.remove(0, DigestSize);
        }
        if (const std::optional<QByteArray> answer = m_projector.answer(line))
            reply(*answer, false);
    }

    // Sends one reply line, at once or after the reply delay; replies keep
    // the order of their commands either way.
    void reply(const QByteArray& line, bool thenClose) {
        const std::chrono::milliseconds delay = m_projector.quirks().delay;
        if (delay <= std::chrono::milliseconds::zero()) {
            m_socket->write(line + '\r');
            if (thenClose)
                close();
            return;
        }
        if (m_waiting.size() >= MaxWaitingReplies)
            return;
        m_closing = m_closing || thenClose;
        m_waiting.push_back({line + '\r', thenClose});
        QTimer::singleShot(delay, this, [this] {
            const Waiting next = m_waiting.front();
            m_waiting.pop_front();
            m_socket->write(next.bytes);
            if (next.thenClose)
                close();
        });
    }

    void close() {
        m_closing = true;
        m_socket->disconnectFromHost();
    }

    PJLinkProjector& m_projector;
    QTcpSocket* m_socket;
    QTimer m_idle;
    QByteArray m_buffer;
    QByteArray m_random;
    struct Waiting {
        QByteArray bytes;
        bool thenClose = false;
    };
    std::deque<Waiting> m_waiting;
    bool m_authenticated = false;
    bool m_closing = false;
    bool m_open = true; // still counted as open by the projector
};

PJLinkEndpoint::PJLinkEndpoint(PJLinkProjector& projector, QObject* parent)
    : QObject(parent), m_projector(projector) {
    connect(&m_server, &QTcpServer::newConnection, this, &PJLinkEndpoint::accept);
}

bool PJLinkEndpoint::listen(const QHostAddress& address, quint16 port, QString* error) {
    return ListenOn(m_server, QStringLiteral("PJLink projector %1").arg(m_projector.id()), address,
                    port, error);
}

PJLinkEndpoint::~PJLinkEndpoint() = default;

void PJLinkEndpoint::accept() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        m_sessions.removeAll(nullptr);
        for (const QPointer<PJLinkSession>& session : std::as_const(m_sessions))
            session->settleIfClosed();
        m_sessions.append(new PJLinkSession(m_projector, socket, this));
    }
}

} // namespace sim
