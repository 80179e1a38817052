#pragma once

#include "comm/EngineObserver.h"
#include "history/HistoryEvent.h"
#include "status/ApiTokens.h"
#include "status/CommandRequests.h"
#include "status/RequestAudit.h"

#include <QHash>
#include <QHostAddress>
#include <QString>

#include <deque>
#include <functional>
#include <optional>

class CommEngine;
class QHttpServerRequest;
class QHttpServerResponse;
class ScheduleRunner;
struct AppState;

// What the control routes act through; without an engine the command routes
// and without a runner the schedule routes answer 503, without record and
// follow nothing is recorded.
struct ControlParts {
    CommEngine* engine = nullptr;
    ScheduleRunner* runner = nullptr;
    std::function<void(HistoryEvent)> record;
    // projector, caption, ahead, client ("token@address")
    std::function<void(int, const QString&, int, const QString&)> follow;
};

// The endpoint's control routes: commands for a projector or a group
// queued as the operator's are, their outcome read back by id, and the
// schedule started and stopped (by a token without a group limit). Every
// request is logged and recorded in the history with the token's name and
// the client's address, in a compact form: each accepted one, and the
// refused ones at most once a minute per address with their count.
// As one of the engine's observers it follows each command to its outcome.
class ControlRoutes : public EngineObserver {
  public:
    static constexpr std::size_t MaxRecords = 1000;
    static constexpr int MaxPerSecond = 10;
    // Ids and names longer than this are cut in the history, the log and
    // the answers.
    static constexpr int MaxShownId = 64;

    ControlRoutes(AppState& state, const ApiTokens& tokens, QHostAddress listen, bool tls);

    void setParts(ControlParts parts) { m_parts = std::move(parts); }
    void setTls(bool tls) { m_tls = tls; }

    // The routes' answers, for the endpoint's route table.
    QHttpServerResponse projectorRoute(const QString& id, const QHttpServerRequest& request);
    QHttpServerResponse groupRoute(const QString& name, const QHttpServerRequest& request);
    QHttpServerResponse commandRoute(const QString& id, const QHttpServerRequest& request);
    QHttpServerResponse scheduleRoute(bool start, const QHttpServerRequest& request);

    // EngineObserver: the commands followed to their outcome.
    void commandFinished(int projector, const QByteArray& frame, CommandOutcome outcome) override;
    void queueDropped(int projector) override;
    void pollingPassStarted(int projectorCount) override;

  private:
    // A command for one projector: its queue is at `projector` for as long as
    // the projector with `projectorId` is there.
    struct Target {
        int projector;
        QString projectorId;
        QString outcome;
        int ahead;
    };
    struct Record {
        quint64 id;
        std::vector<Target> targets;
    };
    struct Answer {
        int status;
        QByteArray body;
        QString reason;
    };

    QHttpServerResponse handle(const QHttpServerRequest& request, const QString& route,
                               const std::function<Answer(const ApiToken&)>& act);
    // The request of the body for one projector or for every projector of a
    // group.
    Answer commands(const QByteArray& body, int projector, int group);
    Answer projectorCommands(const ApiToken& token, const QString& id, const QByteArray& body);
    Answer groupCommands(const ApiToken& token, const QString& name, const QByteArray& body);
    Answer outcome(const QString& id);
    Answer schedule(const ApiToken& token, bool start);
    // An error answer: its status, the reason answered, and the reason
    // recorded.
    static Answer refusal(int status, const QString& text, const QString& reason);
    static QHttpServerResponse response(const Answer& answer, const QByteArray& allow);
    static QString shownId(const QString& id);
    bool mayControl(const ApiToken& token, const QString& group) const;
    bool overRate(const QString& token);
    void audit(const QString& address, qint64 nowMs, RefusalLedger::Note note);
    void recordEndedRefusals(qint64 nowMs);
    void record(const RefusalLedger::Summary& summary) const;
    bool holds(const Target& t, int projector) const;
    void cancelMoved();

    AppState& m_state;
    const ApiTokens& m_tokens;
    QHostAddress m_listen;
    bool m_tls;
    ControlParts m_parts;
    std::deque<Record> m_records;
    quint64 m_nextId = 1;
    quint64 m_numbering = 0; // AppState::ProjectorNumbering the targets were checked against
    QHash<QString, std::deque<qint64>> m_recent; // per token: times of the last second
    RefusalLedger m_refusals;
    QString m_client; // of the request being acted on
};
