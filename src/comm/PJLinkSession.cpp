#include "comm/PJLinkSession.h"

#include "comm/CommandQueue.h"
#include "comm/HostTools.h"
#include "comm/ReplyTimeouts.h"
#include "core/AppState.h"
#include "core/CommLogs.h"
#include "core/PingList.h"
#include "pjlink/PJLinkCodec.h"

#include <QTcpSocket>

#include <chrono>

namespace {

bool validIndex(int projector) {
    return projector >= 1 && projector <= MaxProjectors;
}

qint64 steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool inFlight(const QueueEntry& entry) {
    return entry.state == QueueSent || entry.state == QueueConnecting;
}

} // namespace

PJLinkSession::PJLinkSession(AppState& state, ReplyTimeouts& timeouts, QObject* parent)
    : QObject(parent), m_state(state), m_timeouts(timeouts) {}

PJLinkSession::~PJLinkSession() = default;

QTcpSocket* PJLinkSession::socketFor(int projector) {
    Link& link = m_links[std::size_t(projector)];
    if (!link.socket) {
        link.socket = new QTcpSocket(this);
        // Lines are short; a projector that floods is read in small pieces.
        link.socket->setReadBufferSize(PJLinkMaxPendingBytes);
        connect(link.socket, &QTcpSocket::readyRead, this,
                [this, projector] { dataArrived(projector); });
        connect(link.socket, &QTcpSocket::disconnected, this,
                [this, projector] { connectionLost(projector); });
        connect(link.socket, &QTcpSocket::errorOccurred, this,
                [this, projector](QAbstractSocket::SocketError) { connectionLost(projector); });
        connect(link.socket, &QTcpSocket::connected, this, [this, projector] {
            Link& l = m_links[std::size_t(projector)];
            if (l.phase == Phase::Connecting)
                l.phase = Phase::Greeting;
        });
    }
    return link.socket;
}

const QByteArray& PJLinkSession::lastReply(int projector) const {
    return m_links[validIndex(projector) ? std::size_t(projector) : 0].reply;
}

PJLinkWait PJLinkSession::waited(int projector) const {
    return validIndex(projector) ? m_links[std::size_t(projector)].waited : PJLinkWait::None;
}

bool PJLinkSession::isOpen(int projector) const {
    return validIndex(projector) && m_links[std::size_t(projector)].phase != Phase::Closed;
}

bool PJLinkSession::anyOpen() const {
    for (int p = 1; p <= MaxProjectors; ++p) {
        if (m_links[std::size_t(p)].phase != Phase::Closed)
            return true;
    }
    return false;
}

void PJLinkSession::passStarted() {
    for (Link& link : m_links)
        link.refusedPassword = false;
}

void PJLinkSession::projectorEdited(int projector) {
    if (!validIndex(projector))
        return;
    close(projector);
    m_links[std::size_t(projector)].refusedPassword = false;
    m_links[std::size_t(projector)].openedAt = -1;
}

void PJLinkSession::send(int projector) {
    if (!validIndex(projector) || IsQueueEmpty(m_state, projector))
        return;
    Link& link = m_links[std::size_t(projector)];
    QueueEntry& entry = CurrentQueueEntry(m_state, projector);
    if (link.refusedPassword) {
        // No second try with a password the projector refused before the
        // next pass: the commands of this one fail at once.
        entry.state = QueueRefused;
        link.reply = QByteArrayLiteral("PJLINK ERRA");
        return;
    }
    switch (link.phase) {
    case Phase::Ready:
        transmit(projector);
        break;
    case Phase::Connecting:
    case Phase::Greeting:
        entry.state = QueueConnecting;
        break;
    case Phase::Waiting:
        break;
    case Phase::Closed:
        // The entry stays queued until the gap since the last session has
        // passed; the dispatcher offers it again on its next tick.
        if (link.openedAt >= 0 && steadyMs() - link.openedAt < m_state.Timing.PJLinkSessionGap)
            return;
        open(projector);
        break;
    }
}

void PJLinkSession::open(int projector) {
    Link& link = m_links[std::size_t(projector)];
    const ProjectorInfo& info = m_state.Projectors[projector];
    QueueEntry& entry = CurrentQueueEntry(m_state, projector);
    link.received.clear();
    link.digest.clear();
    link.answered = 0;
    link.openedAt = steadyMs();
    bool portOk = false;
    const quint16 port = info.PortNo.trimmed().toUShort(&portOk);
    // An unusable address or port is never connected to; the command then
    // times out like one to an unreachable projector.
    if (IsValidHostAddress(info.IPAddress) && portOk && port != 0) {
        link.phase = Phase::Connecting;
        socketFor(projector)->connectToHost(info.IPAddress, port);
    }
    entry.state = QueueConnecting;
    m_timeouts.start(projector, std::chrono::milliseconds(m_state.Timing.TcpTimeoutTime));
    WriteCommLog(m_state, QStringLiteral("PJLink(%1)_Connect:%2:%3")
                              .arg(projector)
                              .arg(info.IPAddress, info.PortNo.trimmed()));
}

void PJLinkSession::transmit(int projector) {
    Link& link = m_links[std::size_t(projector)];
    QueueEntry& entry = CurrentQueueEntry(m_state, projector);
    const QByteArray line = entry.command.left(entry.commandLength);
    link.reply.clear();
    link.retryDue = false;
    link.phase = Phase::Waiting;
    entry.state = QueueSent;
    link.socket->write(std::exchange(link.digest, QByteArray()) + line + '\r');
    if (m_state.CommLogEnabled)
        WriteCommLog(m_state,
                     QStringLiteral("PJLink-Send(%1):").arg(projector) + PJLinkLogText(line));
    m_timeouts.start(projector, std::chrono::milliseconds(m_state.Timing.TcpTimeoutTime));
}

void PJLinkSession::dataArrived(int projector) {
    Link& link = m_links[std::size_t(projector)];
    if (!link.socket)
        return;
    // A copy of what was read, so the buffer never keeps a larger allocation.
    link.received.append(link.socket->readAll());
    for (;;) {
        qsizetype end = link.received.indexOf('\r');
        const qsizetype newline = link.received.indexOf('\n');
        if (end < 0 || (newline >= 0 && newline < end))
            end = newline;
        if (end < 0)
            break;
        const QByteArray line = link.received.left(end);
        link.received.remove(0, end + 1);
        if (line.size() > PJLinkMaxLineBytes) {
            fail(projector, QStringLiteral("line of %1 bytes").arg(line.size()));
            return;
        }
        if (!line.trimmed().isEmpty())
            lineArrived(projector, line);
        if (link.phase == Phase::Closed)
            return;
    }
    // A line cannot be longer than this, so there is no point in waiting for
    // its end (and never past PJLinkMaxPendingBytes).
    if (link.received.size() > PJLinkMaxLineBytes)
        fail(projector, QStringLiteral("%1 bytes without a line end").arg(link.received.size()));
}

void PJLinkSession::lineArrived(int projector, const QByteArray& line) {
    if (m_state.CommLogEnabled)
        WriteCommLog(m_state,
                     QStringLiteral("PJLink-Recv(%1):").arg(projector) + PJLinkLogText(line));
    const Phase phase = m_links[std::size_t(projector)].phase;
    if (phase == Phase::Greeting || phase == Phase::Connecting)
        greetingArrived(projector, line);
    else if (phase == Phase::Waiting)
        replyArrived(projector, line);
    else
        WriteCommLog(m_state,
                     QStringLiteral("PJLink-Dropped(%1):").arg(projector) + PJLinkLogText(line));
}

void PJLinkSession::greetingArrived(int projector, const QByteArray& line) {
    Link& link = m_links[std::size_t(projector)];
    const PJLinkGreeting greeting = ParsePJLinkGreeting(line);
    switch (greeting.kind) {
    case PJLinkGreeting::Kind::Open:
        break;
    case PJLinkGreeting::Kind::Password: {
        const QString password =
            m_state.PJLinkPassword ? m_state.PJLinkPassword(projector) : QString();
        link.digest = PJLinkDigest(greeting.random, password);
        break;
    }
    case PJLinkGreeting::Kind::Refused:
        finish(projector, QueueRefused, QByteArrayLiteral("PJLINK ERRA"));
        return;
    case PJLinkGreeting::Kind::Broken:
        // Bytes that are no greeting are no answer.
        fail(projector, QStringLiteral("no greeting"));
        return;
    }
    link.phase = Phase::Ready;
    m_timeouts.stop(projector);
    if (!IsQueueEmpty(m_state, projector) &&
        CurrentQueueEntry(m_state, projector).state == QueueConnecting)
        transmit(projector);
}

void PJLinkSession::replyArrived(int projector, const QByteArray& line) {
    if (IsQueueEmpty(m_state, projector))
        return;
    QueueEntry& entry = CurrentQueueEntry(m_state, projector);
    const QByteArray sent = entry.command.left(entry.commandLength);
    if (IsAuthenticationRefusal(line)) {
        finish(projector, QueueRefused, line.trimmed());
        return;
    }
    const std::optional<PJLinkReply> reply = ParsePJLinkReply(line);
    if (!reply || !ReplyAnswers(*reply, sent)) {
        // Not the answer to what was asked: it must not be applied to it.
        WriteCommLog(m_state,
                     QStringLiteral("PJLink-Dropped(%1):").arg(projector) + PJLinkLogText(line));
        return;
    }
    const bool query = IsPJLinkQuery(sent);
    qint16 outcome = QueueAcknowledged;
    switch (ClassifyPJLinkValue(reply->value)) {
    case PJLinkAnswer::Ok:
        outcome = QueueAcknowledged;
        break;
    case PJLinkAnswer::Value:
        outcome = query ? QueueDataReply : QueueAcknowledged;
        break;
    case PJLinkAnswer::Unavailable:
        // Standby or warm-up: a query is answered with "nothing now", a
        // command was not carried out, and one that only has to wait for a
        // warm-up or cool-down is tried again.
        if (!query && holdWhileBusy(projector, sent))
            return;
        outcome = query ? QueueDataReply : QueueRefused;
        break;
    case PJLinkAnswer::Refused:
        outcome = QueueRefused;
        break;
    }
    finish(projector, outcome, line.trimmed());
}

bool PJLinkSession::holdWhileBusy(int projector, const QByteArray& sent) {
    Link& link = m_links[std::size_t(projector)];
    const PJLinkWait wait = PJLinkBusyWait(sent, m_state.Projectors[projector].PowerStatus);
    if (wait == PJLinkWait::None)
        return false;
    const qint64 now = steadyMs();
    const QString what =
        wait == PJLinkWait::WarmUp ? QStringLiteral("warm-up") : QStringLiteral("cool-down");
    if (link.busySince < 0) {
        link.busySince = now;
        WriteCommLog(m_state, QStringLiteral("PJLink-Busy(%1):waiting for %2:%3")
                                  .arg(projector)
                                  .arg(what, PJLinkLogText(sent)));
    } else if (now - link.busySince >= m_state.Timing.PJLinkBusyWait) {
        WriteCommLog(m_state, QStringLiteral("PJLink-Busy-Refused(%1):%2 did not end:%3")
                                  .arg(projector)
                                  .arg(what, PJLinkLogText(sent)));
        link.busySince = -1;
        return false;
    }
    // The connection stays open for the next try; one the projector closes
    // meanwhile is opened again for it.
    link.waitingFor = wait;
    link.retryDue = true;
    link.phase = Phase::Ready;
    CurrentQueueEntry(m_state, projector).state = QueueConnecting;
    m_timeouts.start(projector, std::chrono::milliseconds(m_state.Timing.PJLinkBusyRetry));
    return true;
}

void PJLinkSession::finish(int projector, qint16 outcome, const QByteArray& reply) {
    Link& link = m_links[std::size_t(projector)];
    m_timeouts.stop(projector);
    link.waited = link.busySince >= 0 ? link.waitingFor : PJLinkWait::None;
    link.busySince = -1;
    link.reply = reply.left(PJLinkMaxLineBytes);
    ++link.answered;
    link.resent = false;
    if (!IsQueueEmpty(m_state, projector)) {
        QueueEntry& entry = CurrentQueueEntry(m_state, projector);
        if (inFlight(entry)) {
            entry.state = outcome;
            StoreReply(entry, link.reply);
        }
    }
    if (IsAuthenticationRefusal(reply)) {
        link.refusedPassword = true;
        close(projector);
        return;
    }
    link.phase = Phase::Ready;
    // The session ends with the last command queued for it.
    if (QueueLength(m_state, projector) <= 1)
        close(projector);
}

void PJLinkSession::fail(int projector, const QString& why) {
    WriteCommLog(m_state, QStringLiteral("PJLink-Closed(%1):").arg(projector) + why);
    close(projector);
    m_timeouts.stop(projector);
    if (!IsQueueEmpty(m_state, projector)) {
        QueueEntry& entry = CurrentQueueEntry(m_state, projector);
        if (inFlight(entry))
            entry.state = QueueTimedOut;
    }
}

void PJLinkSession::connectionLost(int projector) {
    Link& link = m_links[std::size_t(projector)];
    if (link.phase == Phase::Closed)
        return;
    const bool busy = link.phase != Phase::Ready;
    // A projector that closes idle connections may do so just as a command
    // goes out, or before a slow client has read its greeting: that command
    // is sent again, once, on a new session, rather than counted as not
    // answered. A connection that could not be made is not tried again.
    const bool resend = !link.resent && link.received.isEmpty() &&
                        (link.phase == Phase::Waiting || link.phase == Phase::Greeting);
    link.phase = Phase::Closed;
    if (link.socket)
        link.socket->abort();
    if (!busy)
        return;
    const qint16 state = IsQueueEmpty(m_state, projector)
                             ? qint16(QueueFree)
                             : CurrentQueueEntry(m_state, projector).state;
    if (resend && (state == QueueSent || state == QueueConnecting)) {
        link.resent = true;
        m_timeouts.stop(projector);
        CurrentQueueEntry(m_state, projector).state = QueueQueued;
        WriteCommLog(m_state, QStringLiteral("PJLink-Resend(%1):QueueRP(%2)")
                                  .arg(projector)
                                  .arg(m_state.Queues[projector].QueueReadIndex));
        return;
    }
    // A command in flight on a connection that failed or was closed under it
    // is not answered: it fails now rather than at its time-out.
    notAnswered(projector, QStringLiteral("PJLink-Lost"));
}

void PJLinkSession::replyTimedOut(int projector) {
    if (!validIndex(projector))
        return;
    Link& link = m_links[std::size_t(projector)];
    if (std::exchange(link.retryDue, false)) {
        // The next try of a command refused as busy: queued again, so the
        // dispatcher sends it on this session or opens a new one.
        m_timeouts.stop(projector);
        if (!IsQueueEmpty(m_state, projector) &&
            CurrentQueueEntry(m_state, projector).state == QueueConnecting)
            CurrentQueueEntry(m_state, projector).state = QueueQueued;
        if (m_state.WakeDispatcher)
            m_state.WakeDispatcher();
        return;
    }
    close(projector);
    notAnswered(projector, QStringLiteral("PJLink-Timeout"));
}

void PJLinkSession::notAnswered(int projector, const QString& tag) {
    m_links[std::size_t(projector)].resent = false;
    m_links[std::size_t(projector)].busySince = -1;
    m_timeouts.stop(projector);
    if (!IsQueueEmpty(m_state, projector)) {
        QueueEntry& entry = CurrentQueueEntry(m_state, projector);
        if (inFlight(entry))
            entry.state = QueueTimedOut;
    }
    AddToPingList(m_state, projector);
    WriteCommLog(m_state, tag + QStringLiteral("(%1):QueueRP(%2)")
                                    .arg(projector)
                                    .arg(m_state.Queues[projector].QueueReadIndex));
}

void PJLinkSession::close(int projector) {
    if (!validIndex(projector))
        return;
    Link& link = m_links[std::size_t(projector)];
    link.phase = Phase::Closed;
    link.resent = false;
    link.busySince = -1;
    link.retryDue = false;
    link.received.clear();
    link.received.squeeze();
    link.digest.clear();
    if (link.socket && link.socket->state() != QAbstractSocket::UnconnectedState)
        link.socket->abort();
}

void PJLinkSession::closeAll() {
    for (int p = 1; p <= MaxProjectors; ++p)
        close(p);
}
