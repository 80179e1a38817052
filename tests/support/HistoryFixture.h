#pragma once

#include "history/EventStore.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <functional>
#include <vector>

// Breaks the history file behind its readers' backs, as a damaged one
// would: its events are gone while the file still opens. Empty when done,
// else why not.
inline QString DropEvents(const QString& file) {
    QString problem;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "drop-events");
        db.setDatabaseName(file);
        QSqlQuery query(db);
        if (!db.open() || !query.exec(QStringLiteral("DROP TABLE events")))
            problem = query.lastError().text();
    }
    QSqlDatabase::removeDatabase("drop-events");
    return problem;
}

// A history file of made-up events for the tests that read it from outside.
// Two events share each millisecond, so that the order of equal times (by
// id) is exercised; every kind, projectors in turn and the program's own
// events without one, texts with commas, quotes and line breaks.
struct SampleHistory {
    static constexpr qint64 T0 = 1'780'000'000'000; // 2026-05-28T20:26:40Z
    static constexpr qint64 Step = 60'000;          // between pairs of events

    std::vector<HistoryEvent> events; // as written, oldest first, with their ids
    QString problem;                  // empty when the file was written

    SampleHistory(const QString& file, int count, const QStringList& projectorIds) {
        EventStore store(file, EventStore::Mode::Write);
        if (store.open() != EventStore::OpenResult::Opened) {
            problem = store.message();
            return;
        }
        for (int n = 0; n < count; ++n) {
            HistoryEvent e;
            e.id = n + 1; // a new file numbers from 1 in the order written
            e.timeMs = T0 + (n / 2) * Step;
            e.kind = EventKind(n % EventKindCount);
            if (n % 7 != 0) {
                const QString id = projectorIds[n % projectorIds.size()];
                e.projectorId = id;
                e.projectorName = QStringLiteral("Room %1, \"east\"").arg(n % projectorIds.size());
                e.groupName = n % 2 ? QStringLiteral("Main Hall") : QString();
            }
            if (n % 3 == 0)
                e.value = n;
            if (n % 5 == 0)
                e.value2 = -n;
            e.text = n % 4 == 0 ? QStringLiteral("Lamp, fan \"2\"\nsecond line") : QString();
            e.outcome = n % 6 == 0 ? QStringLiteral("Completed") : QString();
            e.source = EventSource(n % 5);
            e.client = n % 11 == 0 ? QStringLiteral("ops") : QString();
            events.push_back(e);
        }
        // In batches, as the program writes them.
        for (std::size_t from = 0; from < events.size(); from += 500) {
            const auto to = std::min(events.size(), from + 500);
            std::vector<HistoryEvent> batch(events.begin() + qsizetype(from),
                                            events.begin() + qsizetype(to));
            for (HistoryEvent& e : batch)
                e.id = 0;
            if (store.append(batch) != EventStore::WriteResult::Written) {
                problem = store.message();
                return;
            }
        }
        if (store.count() != count)
            problem =
                QStringLiteral("%1 events in the file, %2 written").arg(store.count()).arg(count);
    }

    // The events that pass `keep`, newest first as pages give them.
    std::vector<HistoryEvent> newestFirst(const std::function<bool(const HistoryEvent&)>& keep =
                                              [](const HistoryEvent&) { return true; }) const {
        std::vector<HistoryEvent> kept;
        std::copy_if(events.rbegin(), events.rend(), std::back_inserter(kept), keep);
        return kept;
    }
};
