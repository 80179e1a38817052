#pragma once

#include "pjlink/PJLinkCodec.h"

#include <QByteArray>
#include <QObject>

#include <array>
#include <chrono>

class QTcpSocket;
class ReplyTimeouts;
struct AppState;

// Carries the commands of PJLink projectors. A session is one connection:
// it is opened when a command is due, its greeting is read (and answered
// with the password's digest in front of the first command), then the
// queued commands go one after another on it, and it is closed when the
// queue holds nothing more. Never two connections to one projector, and at
// most one new session per projector every two seconds
// (TimingSettings::PJLinkSessionGap). A connection the
// projector closed is simply opened again for the next command. A command
// refused as busy (ERR3) while the projector warms up or cools down stays at
// the head of the queue and is sent again every PJLinkBusyRetry until it is
// answered otherwise, for at most PJLinkBusyWait.
class PJLinkSession : public QObject {
    Q_OBJECT
  public:
    PJLinkSession(AppState& state, ReplyTimeouts& timeouts, QObject* parent = nullptr);
    ~PJLinkSession() override;

    // Starts the command at the projector's read index (entry in state 1).
    void send(int projector);
    void replyTimedOut(int projector);
    void close(int projector);
    void closeAll();
    // A new polling pass: a projector that refused our password is tried
    // again.
    void passStarted();
    // The projector's address, port or password may have changed.
    void projectorEdited(int projector);

    // The reply line of the command at the head of the queue once it is
    // answered ("%1POWR=1", "PJLINK ERRA").
    const QByteArray& lastReply(int projector) const;
    // What that command waited for before it was carried out.
    PJLinkWait waited(int projector) const;
    // Whether a connection of the projector is open or being opened.
    bool isOpen(int projector) const;
    bool anyOpen() const;

  private:
    enum class Phase { Closed, Connecting, Greeting, Ready, Waiting };
    struct Link {
        QTcpSocket* socket = nullptr;
        Phase phase = Phase::Closed;
        QByteArray received;
        QByteArray reply;
        QByteArray digest;    // sent in front of the session's first command
        qint64 openedAt = -1; // steady clock, ms
        bool refusedPassword = false;
        // Commands answered on this connection.
        int answered = 0;
        // The command at the head was already sent again after a lost
        // connection; kept across sessions until a command ends.
        bool resent = false;
        // The command at the head was refused as busy since then (steady
        // clock, ms; -1: it was not), what it waits for, and whether the
        // running timer is its next try rather than a reply time-out.
        qint64 busySince = -1;
        PJLinkWait waitingFor = PJLinkWait::None;
        bool retryDue = false;
        // What the last finished command waited for.
        PJLinkWait waited = PJLinkWait::None;
    };

    QTcpSocket* socketFor(int projector);
    void open(int projector);
    void transmit(int projector);
    void dataArrived(int projector);
    void lineArrived(int projector, const QByteArray& line);
    void greetingArrived(int projector, const QByteArray& line);
    void replyArrived(int projector, const QByteArray& line);
    // A command refused as busy: true when it is kept for another try.
    bool holdWhileBusy(int projector, const QByteArray& sent);
    // Ends the command in flight with an outcome and keeps or closes the
    // session.
    void finish(int projector, qint16 outcome, const QByteArray& reply);
    // The connection failed or was closed by the projector.
    void connectionLost(int projector);
    void fail(int projector, const QString& why);
    // The command in flight failed unanswered: a time-out to the dispatcher,
    // the address to the ping list, one log line starting with tag.
    void notAnswered(int projector, const QString& tag);

    AppState& m_state;
    ReplyTimeouts& m_timeouts;
    std::array<Link, 257> m_links{};
};
