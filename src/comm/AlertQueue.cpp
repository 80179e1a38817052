#include "comm/AlertQueue.h"

#include "core/AppState.h"
#include "core/ModelFile.h"

#include <vector>

namespace {

qint16 nextSlot(qint16 index)
{
    ++index;
    return index > AlertSlots - 1 ? 1 : index;
}

} // namespace

bool EnqueueAlertMessage(AppState& state, const QString& text)
{
    AlertQueue& q = state.Alerts;
    const qint16 next = nextSlot(q.writeIndex);
    // Slot 0 is used on the first round only, so while the read index still
    // stands on it the ring is full one slot earlier: a write index wrapping
    // to 1 would pass the unread alerts in 1..256 unnoticed.
    const bool wrapsPastSlot0 = q.readIndex == 0 && q.writeIndex != 0 && next == 1;
    if (next == q.readIndex || wrapsPastSlot0)
        return false;
    q.texts[q.writeIndex] = text;
    q.writeIndex = nextSlot(q.writeIndex);
    return true;
}

bool IsAlertQueueEmpty(const AppState& state)
{
    return state.Alerts.writeIndex == state.Alerts.readIndex;
}

QString PeekAlertMessage(const AppState& state)
{
    return IsAlertQueueEmpty(state) ? QString() : state.Alerts.texts[state.Alerts.readIndex];
}

void AdvanceAlertQueue(AppState& state)
{
    if (!IsAlertQueueEmpty(state)) {
        state.Alerts.texts[state.Alerts.readIndex].clear();
        state.Alerts.readIndex = nextSlot(state.Alerts.readIndex);
    }
}

int AlertQueueLength(const AppState& state)
{
    int n = 0;
    for (qint16 i = state.Alerts.readIndex; i != state.Alerts.writeIndex; i = nextSlot(i))
        ++n;
    return n;
}

void RenumberAlertsAfterDelete(AppState& state, int deleted)
{
    std::vector<QString> kept;
    while (!IsAlertQueueEmpty(state)) {
        const QString text = PeekAlertMessage(state);
        AdvanceAlertQueue(state);
        const int index = GetField(QStringLiteral(";"), text, 2).toInt();
        if (index == deleted)
            continue;
        if (index > deleted) {
            // Rebuild "time;index;message" around the new index; the message
            // is everything after the second separator, kept whole.
            const int first = text.indexOf(QLatin1Char(';'));
            const int second = text.indexOf(QLatin1Char(';'), first + 1);
            kept.push_back(text.left(first + 1) + QString::number(index - 1) +
                           (second < 0 ? QString() : text.mid(second)));
        } else {
            kept.push_back(text);
        }
    }
    for (const QString& text : kept)
        EnqueueAlertMessage(state, text);
}

QString AlertTextForProjector(const QString& text, int projector)
{
    const int first = int(text.indexOf(QLatin1Char(';')));
    const int second = int(text.indexOf(QLatin1Char(';'), first + 1));
    return text.left(first + 1) + QString::number(projector) +
           (second < 0 ? QString() : text.mid(second));
}

bool RemoveOldestAlertIf(AppState& state, const QString& text)
{
    if (IsAlertQueueEmpty(state) || PeekAlertMessage(state) != text)
        return false;
    AdvanceAlertQueue(state);
    return true;
}
