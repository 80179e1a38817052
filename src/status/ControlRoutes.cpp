#include "status/ControlRoutes.h"

#include "comm/CommEngine.h"
#include "comm/CommandQueue.h"
#include "core/AppState.h"
#include "core/Fleet.h"
#include "history/CommandCaption.h"
#include "history/HistoryRecorder.h"
#include "protocol/CommandTable.h"
#include "schedule/ScheduleRunner.h"
#include "status/EndpointLimits.h"
#include "status/HttpRules.h"
#include "status/RequestAudit.h"

#include <QDateTime>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QUrl>

// On by default: every control request is a line of the program's log.
Q_LOGGING_CATEGORY(lcControl, "norvik.status.control", QtInfoMsg)

namespace {

using Status = QHttpServerResponse::StatusCode;

constexpr const char* FlushPendingText =
    "a power operation from the window is about to flush the queue";

QString MethodName(QHttpServerRequest::Method method) {
    using M = QHttpServerRequest::Method;
    switch (method) {
    case M::Get:
        return QStringLiteral("GET");
    case M::Put:
        return QStringLiteral("PUT");
    case M::Delete:
        return QStringLiteral("DELETE");
    case M::Post:
        return QStringLiteral("POST");
    case M::Head:
        return QStringLiteral("HEAD");
    case M::Options:
        return QStringLiteral("OPTIONS");
    case M::Patch:
        return QStringLiteral("PATCH");
    case M::Connect:
        return QStringLiteral("CONNECT");
    case M::Trace:
        return QStringLiteral("TRACE");
    default:
        break;
    }
    return QStringLiteral("UNKNOWN");
}

} // namespace

ControlRoutes::ControlRoutes(AppState& state, const ApiTokens& tokens, QHostAddress listen,
                             bool tls)
    : m_state(state), m_tokens(tokens), m_listen(std::move(listen)), m_tls(tls),
      m_numbering(state.ProjectorNumbering) {}

QHttpServerResponse ControlRoutes::projectorRoute(const QString& id,
                                                  const QHttpServerRequest& request) {
    return handle(
        request, QStringLiteral("/api/v1/projectors/%1/commands").arg(shownId(id)),
        [&](const ApiToken& token) { return projectorCommands(token, id, request.body()); });
}

QHttpServerResponse ControlRoutes::groupRoute(const QString& name,
                                              const QHttpServerRequest& request) {
    return handle(
        request, QStringLiteral("/api/v1/groups/%1/commands").arg(shownId(name)),
        [&](const ApiToken& token) { return groupCommands(token, name, request.body()); });
}

QHttpServerResponse ControlRoutes::commandRoute(const QString& id,
                                                const QHttpServerRequest& request) {
    return handle(request, QStringLiteral("/api/v1/commands/%1").arg(shownId(id)),
                  [&](const ApiToken&) { return outcome(id); });
}

QHttpServerResponse ControlRoutes::scheduleRoute(bool start, const QHttpServerRequest& request) {
    return handle(request, request.url().path(),
                  [&](const ApiToken& token) { return schedule(token, start); });
}

QString ControlRoutes::shownId(const QString& id) {
    return Shortened(id, MaxShownId);
}

QHttpServerResponse ControlRoutes::handle(const QHttpServerRequest& request, const QString& route,
                                          const std::function<Answer(const ApiToken&)>& act) {
    const bool reading = route.startsWith(QLatin1String("/api/v1/commands/"));
    const auto expected =
        reading ? QHttpServerRequest::Method::Get : QHttpServerRequest::Method::Post;
    const QByteArray allow = AllowedMethods(reading ? "GET" : "POST");
    const bool head = request.method() == QHttpServerRequest::Method::Head;
    const qint64 now = m_state.clock.now().toMSecsSinceEpoch();
    const QString address = ConnectionAdmission::normalized(request.remoteAddress()).toString();
    recordEndedRefusals(now);
    // A client that keeps being refused is not even looked at.
    if (m_refusals.overRate(address, now)) {
        const Answer answer = refusal(429,
                                      QStringLiteral("more than %1 refused requests a second")
                                          .arg(RefusalLedger::MaxPerSecond),
                                      "refused too often");
        m_refusals.refused(address, now,
                           {QStringLiteral("-@") + address,
                            LogEscaped(MethodName(request.method()) + u' ' + route),
                            QStringLiteral("429 refused too often")});
        return response(answer, allow);
    }
    const std::optional<ApiToken> token = m_tokens.find(request.value("Authorization"));
    const QString client = (token ? token->name : QStringLiteral("-")) + QLatin1Char('@') + address;
    const QByteArray body = request.body();
    Answer answer{0, {}, {}};
    if (request.method() != expected && !(reading && head))
        answer = refusal(405, QStringLiteral("the route takes ") + QString::fromLatin1(allow),
                         "method not allowed");
    else if (!token)
        answer = refusal(401, QString::fromLatin1(UnauthorizedText), "unauthorized");
    else if (!reading && token->scope != TokenScope::Control)
        answer = refusal(403, QStringLiteral("a read token cannot control"), "read token");
    else if (!reading && !ControlAllowedOn(m_listen, m_tls))
        answer = refusal(403, QString::fromLatin1(ControlNeedsTlsText),
                         QString::fromLatin1(ControlNeedsTlsText));
    else if (body.size() > MaxCommandBodyBytes)
        answer = refusal(413, QStringLiteral("the body is over %1 bytes").arg(MaxCommandBodyBytes),
                         "body too large");
    else if (!reading && overRate(token->name))
        answer = refusal(429, QStringLiteral("more than %1 commands a second").arg(MaxPerSecond),
                         "over the rate");
    else {
        m_client = client;
        answer = act(*token);
        m_client.clear();
    }
    // Reading an outcome changes nothing and is not recorded; asking it
    // wrongly is.
    if (!reading || answer.status != 200) {
        QString text = MethodName(request.method()) + u' ' + route;
        if (!body.isEmpty())
            text += u' ' + CompactBody(body.left(MaxCommandBodyBytes));
        audit(address, now,
              {LogEscaped(client), LogEscaped(text),
               QStringLiteral("%1 %2").arg(answer.status).arg(answer.reason)});
    }
    return response(answer, allow);
}

ControlRoutes::Answer ControlRoutes::refusal(int status, const QString& text,
                                             const QString& reason) {
    return {status, ErrorJson(status, text), reason};
}

QHttpServerResponse ControlRoutes::response(const Answer& answer, const QByteArray& allow) {
    QHttpServerResponse response("application/json", answer.body + '\n', Status(answer.status));
    AddErrorHeaders(response, allow);
    return response;
}

bool ControlRoutes::overRate(const QString& token) {
    const qint64 now = m_state.clock.now().toMSecsSinceEpoch();
    std::deque<qint64>& times = m_recent[token];
    while (!times.empty() && (now - times.front() >= 1000 || times.front() > now))
        times.pop_front();
    if (int(times.size()) >= MaxPerSecond)
        return true;
    times.push_back(now);
    return false;
}

bool ControlRoutes::mayControl(const ApiToken& token, const QString& group) const {
    return token.groups.isEmpty() || token.groups.contains(group);
}

ControlRoutes::Answer ControlRoutes::projectorCommands(const ApiToken& token, const QString& id,
                                                       const QByteArray& body) {
    const QString canonical = StrictProjectorId(id);
    const int p = canonical.isEmpty() ? 0 : ProjectorIndexOfId(m_state, canonical);
    if (p < 1)
        return refusal(404, QStringLiteral("no projector has the id %1").arg(shownId(id)),
                       "unknown projector");
    const QString group = GroupOfProjector(m_state, p);
    if (!mayControl(token, group))
        return refusal(403, QStringLiteral("the token may not control this projector"),
                       "outside the token's groups");
    return commands(body, p, 0);
}

ControlRoutes::Answer ControlRoutes::groupCommands(const ApiToken& token, const QString& name,
                                                   const QByteArray& body) {
    int groupNode = 0;
    for (int n = 1; n <= NodeCount(m_state); ++n)
        if (NodeKind(m_state, n) == QLatin1Char('g') && Node(m_state, n).Text == name)
            groupNode = n;
    if (groupNode < 1)
        return refusal(404, QStringLiteral("no group is named %1").arg(shownId(name)),
                       "unknown group");
    if (!mayControl(token, name))
        return refusal(403, QStringLiteral("the token may not control this group"),
                       "outside the token's groups");
    return commands(body, 0, groupNode);
}

ControlRoutes::Answer ControlRoutes::commands(const QByteArray& body, int projector, int group) {
    const CommandRequestParse parse = ParseCommandRequest(body);
    if (!parse.request)
        return refusal(400, parse.error, parse.error);
    if (m_state.GroupDialogMode != -1 || m_state.ProjectorDialogMode != -1)
        return refusal(409, QStringLiteral("the tree is being edited"), "being edited");
    if (!m_parts.engine)
        return refusal(503, QStringLiteral("the projectors cannot be reached"), "no engine");
    CommandRequest request = *parse.request;
    request.projector = projector;
    request.group = group;
    const std::vector<ProjectorPlan> plans = PlanCommand(m_state, request);
    const int flushing = m_state.FlushPendingNode;
    for (const ProjectorPlan& plan : plans) {
        const int node = NodeOfProjector(m_state, plan.projector);
        if (flushing >= 1 && node >= 1 &&
            (node == flushing ||
             NodeIndexOfKey(m_state, Node(m_state, node).ParentKey) == flushing))
            return refusal(409, QString::fromLatin1(FlushPendingText), "flush pending");
        const QString error =
            NeedsConfirmation(request.command) && !parse.confirm
                ? QStringLiteral("\"%1\" needs \"confirm\": true").arg(request.command)
                : plan.error;
        if (!error.isEmpty())
            return refusal(400, error, error);
    }
    cancelMoved();
    Record record{m_nextId++, {}};
    QJsonArray projectors;
    for (const ProjectorPlan& plan : plans) {
        const int p = plan.projector;
        const int ahead = QueueLength(m_state, p);
        // The command decides; its queries follow it all the same.
        const PlannedItem& command = plan.items.front();
        const bool queued = m_parts.engine->EnqueueCommand(p, command);
        for (auto item = std::next(plan.items.begin()); item != plan.items.end(); ++item)
            m_parts.engine->EnqueueCommand(p, *item);
        const QString id = m_state.Projectors[std::size_t(p)].ProjectorId;
        record.targets.push_back(
            {p, id, queued ? QStringLiteral("queued") : HistoryRecorder::CancelledText, ahead});
        if (queued && m_parts.follow)
            m_parts.follow(
                p, CommandCaption(command.frame ? command.frame->toByteArray() : command.line),
                ahead, m_client);
        projectors.append(id);
    }
    m_records.push_back(record);
    if (m_records.size() > MaxRecords)
        m_records.pop_front();
    const QJsonObject answer{{QStringLiteral("id"), QString::number(record.id)},
                             {QStringLiteral("projectors"), projectors}};
    return {202, QJsonDocument(answer).toJson(QJsonDocument::Compact), "accepted"};
}

ControlRoutes::Answer ControlRoutes::outcome(const QString& id) {
    cancelMoved();
    bool ok = false;
    const quint64 number = id.toULongLong(&ok);
    for (const Record& r : m_records) {
        if (!ok || r.id != number)
            continue;
        QJsonArray targets;
        for (const Target& t : r.targets)
            targets.append(QJsonObject{{QStringLiteral("projector"), t.projectorId},
                                       {QStringLiteral("outcome"), t.outcome}});
        return {200,
                QJsonDocument(QJsonObject{{QStringLiteral("id"), id},
                                          {QStringLiteral("projectors"), targets}})
                    .toJson(QJsonDocument::Compact),
                "ok"};
    }
    return refusal(404, QStringLiteral("no command has the id %1").arg(shownId(id)),
                   "unknown command");
}

ControlRoutes::Answer ControlRoutes::schedule(const ApiToken& token, bool start) {
    // The schedule is the whole fleet's.
    if (!token.groups.isEmpty())
        return refusal(403,
                       QStringLiteral("a token limited to groups may not start or stop "
                                      "the schedule"),
                       "outside the token's groups");
    if (!m_parts.runner)
        return refusal(503, QStringLiteral("the schedule cannot be reached"), "no schedule");
    if (start)
        m_parts.runner->ScheduleStart();
    else
        m_parts.runner->ScheduleStop();
    return {200,
            QJsonDocument(QJsonObject{{QStringLiteral("running"), m_parts.runner->isRunning()}})
                .toJson(QJsonDocument::Compact),
            start ? "schedule started" : "schedule stopped"};
}

void ControlRoutes::audit(const QString& address, qint64 nowMs, RefusalLedger::Note note) {
    if (note.outcome.startsWith(u'2')) {
        record({std::move(note), 1});
        return;
    }
    if (const auto summary = m_refusals.refused(address, nowMs, std::move(note)))
        record(*summary);
}

void ControlRoutes::recordEndedRefusals(qint64 nowMs) {
    for (const RefusalLedger::Summary& summary : m_refusals.sweep(nowMs))
        record(summary);
}

// One line each, every value escaped, so that no client can forge or hide
// a line of the log.
void ControlRoutes::record(const RefusalLedger::Summary& summary) const {
    const RefusalLedger::Note& note = summary.last;
    const QString text =
        summary.count > 1
            ? QStringLiteral("%1 refused requests, the last: %2").arg(summary.count).arg(note.text)
            : note.text;
    qCInfo(lcControl).noquote() << "control" << note.client << text << "->" << note.outcome;
    if (!m_parts.record)
        return;
    HistoryEvent e;
    e.kind = EventKind::Command;
    e.timeMs = m_state.clock.now().toMSecsSinceEpoch();
    e.source = EventSource::Endpoint;
    e.client = note.client;
    e.text = text;
    e.outcome = note.outcome;
    if (summary.count > 1)
        e.value = summary.count;
    m_parts.record(std::move(e));
}

bool ControlRoutes::holds(const Target& t, int projector) const {
    return t.projector == projector && projector >= 1 && projector <= m_state.ProjectorCount &&
           m_state.Projectors[std::size_t(projector)].ProjectorId == t.projectorId &&
           t.outcome == QLatin1String("queued");
}

// A deletion renumbers the table but not the queues, which the program
// flushes: a command whose projector left its position, or the table, can
// no longer be answered, and whatever is answered there now is another's.
void ControlRoutes::cancelMoved() {
    if (m_numbering == m_state.ProjectorNumbering)
        return;
    m_numbering = m_state.ProjectorNumbering;
    for (Record& r : m_records)
        for (Target& t : r.targets)
            if (t.outcome == QLatin1String("queued") && !holds(t, t.projector))
                t.outcome = HistoryRecorder::CancelledText;
}

void ControlRoutes::commandFinished(int projector, const QByteArray& /*frame*/,
                                    CommandOutcome outcome) {
    cancelMoved();
    for (Record& r : m_records)
        for (Target& t : r.targets) {
            if (!holds(t, projector))
                continue;
            if (t.ahead > 0)
                --t.ahead;
            else
                t.outcome = HistoryRecorder::OutcomeText(outcome);
        }
}

void ControlRoutes::queueDropped(int projector) {
    cancelMoved();
    for (Record& r : m_records)
        for (Target& t : r.targets)
            if (holds(t, projector))
                t.outcome = HistoryRecorder::CancelledText;
}

void ControlRoutes::pollingPassStarted(int /*projectorCount*/) {
    recordEndedRefusals(m_state.clock.now().toMSecsSinceEpoch());
}
