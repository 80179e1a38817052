#include "discovery/ProbeConnection.h"

#include "core/AppState.h"
#include "pjlink/PJLinkCodec.h"
#include "protocol/CommandTable.h"
#include "protocol/ReplyFraming.h"

ProbeConnection::ProbeConnection(const ProbeTarget& target, std::chrono::milliseconds timeout,
                                 QObject* parent)
    : QObject(parent), m_target(target), m_timeout(timeout) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &ProbeConnection::finish);
    connect(&m_socket, &QTcpSocket::connected, this, &ProbeConnection::connected);
    connect(&m_socket, &QTcpSocket::readyRead, this, &ProbeConnection::readBytes);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &ProbeConnection::finish);
    m_timer.start(m_timeout);
    m_socket.connectToHost(m_target.address, m_target.port);
}

void ProbeConnection::connected() {
    if (m_target.pjlink) {
        m_step = Step::Greeting;
        return;
    }
    m_step = Step::Power;
    m_timer.start(m_timeout);
    m_socket.write(BuildCommandTable().PowerGetCommand.toByteArray());
}

void ProbeConnection::readBytes() {
    AppendReceived(m_buffer, m_socket.readAll());
    if (m_step == Step::Power) {
        if (!IsReplyComplete(m_buffer))
            return;
        if (IsProtocolLead(quint8(m_buffer.at(0)))) {
            DiscoveryFind find;
            find.address = m_target.address.toString();
            find.port = m_target.port;
            find.protocol = ProtocolNative;
            m_find = find;
        }
        finish();
        return;
    }
    for (qsizetype end = m_buffer.indexOf('\r'); end >= 0 && !m_done;
         end = m_buffer.indexOf('\r')) {
        const QByteArray text = m_buffer.left(end);
        m_buffer.remove(0, end + 1);
        line(text);
    }
    if (!m_done && m_buffer.size() > PJLinkMaxLineBytes)
        finish();
}

void ProbeConnection::line(const QByteArray& text) {
    switch (m_step) {
    case Step::Greeting: {
        const PJLinkGreeting greeting = ParsePJLinkGreeting(text.trimmed());
        if (greeting.kind == PJLinkGreeting::Kind::Broken) {
            finish();
            return;
        }
        DiscoveryFind find;
        find.address = m_target.address.toString();
        find.port = m_target.port;
        find.protocol = ProtocolPJLink;
        find.passwordRequired = greeting.kind != PJLinkGreeting::Kind::Open;
        m_find = find;
        if (find.passwordRequired)
            finish();
        else
            ask(Step::Name, QByteArrayLiteral("%1NAME ?"));
        return;
    }
    case Step::Name:
    case Step::Product: {
        const std::optional<PJLinkReply> reply = ParsePJLinkReply(text);
        const QByteArray body = m_step == Step::Name ? "NAME" : "INF2";
        if (!reply || reply->body != body)
            return; // a line that answers something else is skipped
        if (ClassifyPJLinkValue(reply->value) == PJLinkAnswer::Value) {
            const QString value = PJLinkText(reply->value);
            (m_step == Step::Name ? m_find->name : m_find->model) = value;
        }
        if (m_step == Step::Name)
            ask(Step::Product, QByteArrayLiteral("%1INF2 ?"));
        else
            finish();
        return;
    }
    case Step::Connect:
    case Step::Power:
        return;
    }
}

void ProbeConnection::ask(Step step, const QByteArray& line) {
    m_step = step;
    m_timer.start(m_timeout);
    m_socket.write(line + '\r');
}

void ProbeConnection::finish() {
    if (m_done)
        return;
    stop();
    emit done(m_find);
}

void ProbeConnection::stop() {
    m_done = true;
    m_timer.stop();
    m_socket.disconnect(this);
    m_socket.abort();
}
