#pragma once

#include "comm/ProjectorProtocol.h"

#include <QByteArray>
#include <QString>

#include <bitset>

class LanTransport;
class ReplyInterpreter;
class ReplyTimeouts;
class SerialTransport;
struct AppState;
struct CommandTable;

// Our own protocol: binary frames, one connection per command. On the LAN a
// connection is opened when a command is due and closed after its reply or
// time-out, and a connection that fails (refused, unreachable) fails its
// command at once. On RS-232C the port is opened the same way; a port that
// cannot be opened is tried again on every tick until the reply time-out,
// which then ends the command as unanswered, and a device held by another
// of our projectors is simply waited for.
class OwnProtocol : public ProjectorProtocol {
  public:
    OwnProtocol(AppState& state, const CommandTable& commands, ReplyTimeouts& timeouts,
                ReplyInterpreter& interpreter, LanTransport& lan, SerialTransport& serial);

    void queueStatusQueries(int projector) override;
    void send(int projector) override;
    void replyTimedOut(int projector) override;
    void handleAcknowledge(int projector) override;
    void handleFailure(int projector, bool timedOut) override;
    void handleData(int projector) override;
    void close(int projector) override;
    void closeAll() override;

  private:
    void lanSend(int projector);
    void serialSend(int projector);
    void connected(int projector);
    void connectFailed(int projector, const QString& error);
    // A complete reply: logged under tag, classified into the command in
    // flight (also while connecting, when connectingAnswers), and the
    // connection closed.
    void replied(int projector, const QByteArray& reply, const QString& tag,
                 bool connectingAnswers);
    void lanTimedOut(int projector);
    void serialTimedOut(int projector);
    void closeSerial(int projector);

    AppState& m_state;
    const CommandTable& m_commands;
    ReplyTimeouts& m_timeouts;
    ReplyInterpreter& m_interpreter;
    LanTransport& m_lan;
    SerialTransport& m_serial;
    // Projectors whose head command waits for a port that fails to open.
    std::bitset<257> m_openFailing;
};
