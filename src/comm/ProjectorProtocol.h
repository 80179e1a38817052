#pragma once

// How the engine talks to a projector in the protocol it speaks. One object
// serves every projector of its protocol, each on a session of the kind the
// protocol keeps; the engine picks the object from the projector's record
// (ProjectorProtocols) and calls nothing protocol-specific beside it.
class ProjectorProtocol {
  public:
    virtual ~ProjectorProtocol() = default;

    // Queues the status queries of one polling round, as many as the
    // projector's queue takes.
    virtual void queueStatusQueries(int projector) = 0;
    // A polling pass starts, before its queries are queued.
    virtual void passStarted() {}

    // Starts the command at the projector's read index (entry in state 1)
    // on the projector's session, and records its outcome in the entry when
    // the reply is read.
    virtual void send(int projector) = 0;
    // The projector's reply time-out expired.
    virtual void replyTimedOut(int projector) = 0;

    // The outcome recorded at the head of the queue, read into the
    // projector's record: acknowledged, refused or unanswered, data.
    virtual void handleAcknowledge(int projector) = 0;
    virtual void handleFailure(int projector, bool timedOut) = 0;
    virtual void handleData(int projector) = 0;

    // Ends the projector's session, if it has one.
    virtual void close(int projector) = 0;
    virtual void closeAll() = 0;
    // The projector's address, port or password may have changed.
    virtual void projectorEdited(int /*projector*/) {}
};
