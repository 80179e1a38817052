#pragma once

#include "comm/PJLinkSession.h"
#include "comm/ProjectorProtocol.h"

class ReplyInterpreter;
class ReplyTimeouts;
struct AppState;

// PJLink: text lines on a session per pass (PJLinkSession), the poll lines
// of the projector's class, and the reply lines read by their meaning.
class PJLinkProtocol : public ProjectorProtocol {
  public:
    PJLinkProtocol(AppState& state, ReplyTimeouts& timeouts, ReplyInterpreter& interpreter);

    void queueStatusQueries(int projector) override;
    void passStarted() override;
    // PJLink runs on TCP only: a record that says serial is still served by
    // its session (and times out without an address).
    void send(int projector) override;
    void replyTimedOut(int projector) override;
    void handleAcknowledge(int projector) override;
    void handleFailure(int projector, bool timedOut) override;
    void handleData(int projector) override;
    void close(int projector) override;
    void closeAll() override;
    void projectorEdited(int projector) override;

  private:
    AppState& m_state;
    ReplyInterpreter& m_interpreter;
    PJLinkSession m_session;
};
