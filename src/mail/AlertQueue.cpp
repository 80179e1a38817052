#include "mail/AlertQueue.h"

#include "core/AppState.h"
#include "core/CommLogs.h"
#include "core/Fleet.h"
#include "core/ModelFile.h"
#include "mail/AlertMail.h"
#include "mail/AlertSpool.h"

#include <optional>
#include <utility>
#include <vector>

namespace {

const QString DroppedQueueFull = QStringLiteral(",Mail Dropped (queue full)");

qint16 nextSlot(qint16 index) {
    ++index;
    return index > AlertSlots - 1 ? 1 : index;
}

bool ringEmpty(const AlertQueue& q) {
    return q.writeIndex == q.readIndex;
}

bool pushRing(AlertQueue& q, const QString& text) {
    const qint16 next = nextSlot(q.writeIndex);
    // Slot 0 is used on the first round only, so while the read index still
    // stands on it the ring is full one slot earlier: a write index wrapping
    // to 1 would pass the unread alerts in 1..256 unnoticed.
    const bool wrapsPastSlot0 = q.readIndex == 0 && q.writeIndex != 0 && next == 1;
    if (next == q.readIndex || wrapsPastSlot0)
        return false;
    q.texts[q.writeIndex] = text;
    q.writeIndex = next;
    return true;
}

void popRing(AlertQueue& q) {
    q.texts[q.readIndex].clear();
    q.readIndex = nextSlot(q.readIndex);
}

int projectorOf(const QString& text) {
    return GetField(QStringLiteral(";"), text, 2).toInt();
}

// The text with its projector index moved down past a deleted projector;
// nothing when the alert was the deleted projector's own.
std::optional<QString> renumbered(const QString& text, int deleted) {
    const int index = projectorOf(text);
    if (index == deleted)
        return std::nullopt;
    return index > deleted ? AlertTextForProjector(text, index - 1) : text;
}

QString keyOf(const AppState& state, const QString& text) {
    const int node = NodeOfProjector(state, projectorOf(text));
    return node > 0 ? Node(state, node).KeyName : QString();
}

void logDropped(AppState& state, const QString& text) {
    const AlertText alert = ParseAlertText(text);
    const ProjectorInfo unknown;
    const bool known = alert.projector >= 1 && alert.projector <= state.ProjectorCount;
    WriteMailLog(state,
                 AlertMailLogLine(known ? state.Projectors[alert.projector] : unknown, alert) +
                     DroppedQueueFull);
    ++state.Counters.AlertsDroppedQueueFull;
    if (state.Spool)
        state.Spool->noteDropped(text);
    state.Health.raise(HealthCondition::SpoolDropping,
                       QStringLiteral("The alert queue is full: its oldest waiting alerts are "
                                      "dropped unsent"));
}

void logNotSaved(AppState& state, const QString& error) {
    WriteMailLog(state, QStringLiteral("Mail Queue Not Saved (%1)").arg(error));
}

// The spool's writer failed: the alert stays queued in memory, and its file
// is written again until the disk takes it.
void spoolFailed(AppState& state, const QString& error) {
    logNotSaved(state, error);
    if (!state.Health.isActive(HealthCondition::SpoolFailing))
        state.Health.raise(HealthCondition::SpoolFailing,
                           QStringLiteral("Alerts waiting to be mailed cannot be saved (%1): "
                                          "they are kept in memory, and a crash would lose them")
                               .arg(error));
}

void spoolResumed(AppState& state) {
    WriteMailLog(state, QStringLiteral("Mail Queue Saved Again"));
    state.Health.clear(HealthCondition::SpoolFailing,
                       QStringLiteral("Alerts waiting to be mailed are saved again"));
}

bool overLimit(const AlertSpool& spool) {
    return int(spool.waiting.size()) > spool.limits().files ||
           spool.waitingBytes > spool.limits().bytes;
}

void dropOldestWaiting(AppState& state) {
    AlertSpool& spool = *state.Spool;
    const AlertSpool::Alert oldest = std::move(spool.waiting.front());
    spool.waiting.pop_front();
    spool.waitingBytes -= AlertSpool::sizeOf(oldest);
    spool.remove(oldest.id);
    logDropped(state, oldest.text);
}

void wait(AlertSpool& spool, AlertSpool::Alert alert) {
    spool.waitingBytes += AlertSpool::sizeOf(alert);
    spool.waiting.push_back(std::move(alert));
}

// Waiting alerts move into the ring, in order, while it has room.
void fillRing(AppState& state) {
    AlertSpool& spool = *state.Spool;
    while (!spool.waiting.empty() && pushRing(state.Alerts, spool.waiting.front().text)) {
        spool.ringIds.push_back(spool.waiting.front().id);
        spool.waitingBytes -= AlertSpool::sizeOf(spool.waiting.front());
        spool.waiting.pop_front();
    }
    const bool belowLimit = int(spool.waiting.size()) < spool.limits().files &&
                            spool.waitingBytes < spool.limits().bytes;
    if (belowLimit && state.Health.isActive(HealthCondition::SpoolDropping))
        state.Health.clear(HealthCondition::SpoolDropping,
                           QStringLiteral("The alert queue has room again"));
}

void spool(AppState& state, const QString& text) {
    AlertSpool& spool = *state.Spool;
    AlertSpool::Alert alert{0, keyOf(state, text), text};
    if (const FileOutcome queued = spool.store(alert); !queued)
        logNotSaved(state, queued.error);
    wait(spool, std::move(alert));
    while (overLimit(spool))
        dropOldestWaiting(state);
    fillRing(state);
}

} // namespace

void SpoolRelease::operator()(AlertSpool* spool) const {
    if (state && state->Spool == spool)
        state->Spool = nullptr;
    std::default_delete<AlertSpool>{}(spool);
}

SpoolHandle OpenAlertSpool(AppState& state, const QString& folder, const AlertSpool::Limits& limits) {
    // Alerts raised before the spool was there follow the ones it kept.
    std::vector<QString> earlier;
    for (; !ringEmpty(state.Alerts); popRing(state.Alerts))
        earlier.push_back(PeekAlertMessage(state));
    SpoolHandle handle(std::make_unique<AlertSpool>(folder, limits).release(), SpoolRelease{&state});
    state.Spool = handle.get();
    AlertSpool& spool = *handle;
    // The handle clears state.Spool before the spool goes, so the state
    // outlives the handlers.
    spool.onWriteFailed([&state](const QString& error) { spoolFailed(state, error); });
    spool.onWritesResumed([&state] { spoolResumed(state); });
    QStringList problems;
    std::vector<AlertSpool::Alert> kept = spool.load(problems);
    for (const QString& problem : problems)
        WriteMailLog(state, QStringLiteral("Mail Queue File Set Aside (%1)").arg(problem));
    for (AlertSpool::Alert& alert : kept) {
        if (!alert.key.isEmpty()) {
            // The file keeps the tree key; the index is today's.
            const qint16 projector = ProjectorOfNode(state, NodeIndexOfKey(state, alert.key));
            if (projector < 1) {
                WriteMailLog(state,
                             QStringLiteral("Mail Dropped (projector deleted): ") + alert.text);
                spool.remove(alert.id);
                continue;
            }
            alert.text = AlertTextForProjector(alert.text, projector);
        }
        wait(spool, std::move(alert));
    }
    fillRing(state);
    while (overLimit(spool))
        dropOldestWaiting(state);
    fillRing(state);
    for (const QString& text : earlier)
        EnqueueAlertMessage(state, text);
    return handle;
}

bool EnqueueAlertMessage(AppState& state, const QString& text) {
    if (state.Spool) {
        spool(state, text);
        return true;
    }
    if (pushRing(state.Alerts, text))
        return true;
    logDropped(state, text);
    return false;
}

bool IsAlertQueueEmpty(const AppState& state) {
    return ringEmpty(state.Alerts);
}

QString PeekAlertMessage(const AppState& state) {
    return IsAlertQueueEmpty(state) ? QString() : state.Alerts.texts[state.Alerts.readIndex];
}

void AdvanceAlertQueue(AppState& state) {
    if (IsAlertQueueEmpty(state))
        return;
    popRing(state.Alerts);
    if (!state.Spool) {
        state.Health.clear(HealthCondition::SpoolDropping,
                           QStringLiteral("The alert queue has room again"));
        return;
    }
    if (!state.Spool->ringIds.empty()) {
        state.Spool->remove(state.Spool->ringIds.front());
        state.Spool->ringIds.pop_front();
    }
    fillRing(state);
}

int AlertQueueLength(const AppState& state) {
    int n = 0;
    for (qint16 i = state.Alerts.readIndex; i != state.Alerts.writeIndex; i = nextSlot(i))
        ++n;
    return n + (state.Spool ? int(state.Spool->waiting.size()) : 0);
}

void RenumberAlertsAfterDelete(AppState& state, int deleted) {
    AlertSpool* spool = state.Spool;
    std::vector<std::pair<QString, quint64>> kept;
    for (; !ringEmpty(state.Alerts); popRing(state.Alerts)) {
        quint64 id = 0;
        if (spool && !spool->ringIds.empty()) {
            id = spool->ringIds.front();
            spool->ringIds.pop_front();
        }
        if (std::optional<QString> text = renumbered(PeekAlertMessage(state), deleted))
            kept.emplace_back(std::move(*text), id);
        else if (spool)
            spool->remove(id);
    }
    // The ring holds one alert less after its first round; what no longer
    // fits waits first in line.
    std::deque<AlertSpool::Alert> overflow;
    for (auto& [text, id] : kept) {
        if (overflow.empty() && pushRing(state.Alerts, text)) {
            if (spool)
                spool->ringIds.push_back(id);
        } else if (spool) {
            overflow.push_back({id, keyOf(state, text), std::move(text)});
        } else {
            logDropped(state, text);
        }
    }
    if (!spool)
        return;
    // The files keep their tree keys, which a deletion leaves as they were;
    // only the deleted projector's files go.
    std::deque<AlertSpool::Alert> waiting = std::exchange(spool->waiting, {});
    spool->waitingBytes = 0;
    for (AlertSpool::Alert& alert : overflow)
        wait(*spool, std::move(alert));
    for (AlertSpool::Alert& alert : waiting) {
        if (std::optional<QString> text = renumbered(alert.text, deleted)) {
            alert.text = std::move(*text);
            wait(*spool, std::move(alert));
        } else {
            spool->remove(alert.id);
        }
    }
    fillRing(state);
}

QString AlertTextForProjector(const QString& text, int projector) {
    const int first = int(text.indexOf(QLatin1Char(';')));
    const int second = int(text.indexOf(QLatin1Char(';'), first + 1));
    return text.left(first + 1) + QString::number(projector) +
           (second < 0 ? QString() : text.mid(second));
}

bool RemoveOldestAlertIf(AppState& state, const QString& text) {
    if (IsAlertQueueEmpty(state) || PeekAlertMessage(state) != text)
        return false;
    AdvanceAlertQueue(state);
    return true;
}
