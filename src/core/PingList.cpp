#include "core/PingList.h"

#include "core/AppState.h"

void AddToPingList(AppState& state, int projector) {
    if (projector < 1 || projector > MaxProjectors)
        return;
    const QString text = QString::number(projector);
    if (state.PingList.contains(text))
        return;
    state.PingList.append(text);
    if (state.WakePing)
        state.WakePing();
}

void RenumberPingListAfterDelete(AppState& state, int deleted) {
    QStringList kept;
    for (const QString& entry : std::as_const(state.PingList)) {
        const int p = entry.toInt();
        if (p == deleted)
            continue;
        kept.append(p > deleted ? QString::number(p - 1) : entry);
    }
    state.PingList = kept;
}
