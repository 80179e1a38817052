#include "comm/PJLinkProtocol.h"

#include "comm/CommandQueue.h"
#include "comm/ReplyInterpreter.h"
#include "core/AppState.h"
#include "pjlink/PJLinkReplies.h"

PJLinkProtocol::PJLinkProtocol(AppState& state, ReplyTimeouts& timeouts,
                               ReplyInterpreter& interpreter)
    : m_state(state), m_interpreter(interpreter), m_session(state, timeouts) {}

void PJLinkProtocol::queueStatusQueries(int projector) {
    for (const QByteArray& line : PJLinkPollLines(m_state.Projectors[projector])) {
        if (!EnqueueLine(m_state, projector, line))
            break;
    }
}

void PJLinkProtocol::passStarted() {
    // A projector that refused our password is tried again.
    m_session.passStarted();
}

void PJLinkProtocol::send(int projector) {
    m_session.send(projector);
}

void PJLinkProtocol::replyTimedOut(int projector) {
    m_session.replyTimedOut(projector);
}

void PJLinkProtocol::handleAcknowledge(int projector) {
    m_interpreter.HandlePJLinkAcknowledge(projector, m_session.waited(projector));
}

void PJLinkProtocol::handleFailure(int projector, bool timedOut) {
    m_interpreter.HandlePJLinkFailure(projector, timedOut, m_session.lastReply(projector));
}

void PJLinkProtocol::handleData(int projector) {
    m_interpreter.HandlePJLinkData(projector, m_session.lastReply(projector));
}

void PJLinkProtocol::close(int projector) {
    m_session.close(projector);
}

void PJLinkProtocol::closeAll() {
    m_session.closeAll();
}

void PJLinkProtocol::projectorEdited(int projector) {
    m_session.projectorEdited(projector);
}
