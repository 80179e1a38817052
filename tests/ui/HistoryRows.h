#pragma once

// A history file of many events made quickly, for the History tab's tests
// and its benchmark. Event n (1 is the oldest) is the same every time, so
// a check can work out what a filter must find without reading the file:
// its id is n, its time n steps after the start, its projector and kind
// follow n round the fleet and the kinds.

#include "history/EventStore.h"

#include <QString>
#include <QStringList>

#include <array>

struct HistoryRows {
    static constexpr qint64 StepMs = 20'000;
    static constexpr int Projectors = 256;
    static constexpr int Groups = 8;

    qint64 count = 0;
    qint64 newestMs = 0;
    // Projector ids by projector number 0..Projectors-1; a test puts the
    // ids of the window's own projectors first.
    QStringList ids;
    QStringList names;
    QStringList groups;
    const QStringList texts = {QStringLiteral("Lamp Error"), QStringLiteral("Power OFF"),
                               QStringLiteral("Power ON"), QStringLiteral("Done"),
                               QStringLiteral("Disconnect alert")};

    HistoryRows(qint64 count, qint64 newestMs, QStringList knownIds)
        : count(count), newestMs(newestMs) {
        ids = std::move(knownIds);
        for (int p = int(ids.size()); p < Projectors; ++p)
            ids << QStringLiteral("{00000000-0000-4000-8000-%1}").arg(p, 12, 10, QLatin1Char('0'));
        for (int p = 0; p < Projectors; ++p) {
            names << nameOf(p);
            groups << groupOf(p);
        }
    }

    static constexpr std::array<EventKind, 10> Kinds = {
        EventKind::Power,          EventKind::Input,      EventKind::Error,     EventKind::Warning,
        EventKind::Command,        EventKind::Disconnect, EventKind::Reconnect, EventKind::MailSent,
        EventKind::ScheduleAction, EventKind::Hours};

    static int projectorOf(qint64 n) { return int(n % Projectors); }
    static EventKind kindOf(qint64 n) {
        return Kinds[std::size_t((n / Projectors) % qint64(Kinds.size()))];
    }
    qint64 timeOf(qint64 n) const { return newestMs - (count - n) * StepMs; }
    static QString nameOf(int p) {
        return QStringLiteral("R%1").arg(p + 1, 3, 10, QLatin1Char('0'));
    }
    static QString groupOf(int p) { return QStringLiteral("Floor %1").arg(p % Groups + 1); }

    HistoryEvent event(qint64 n) const {
        HistoryEvent e;
        e.id = n;
        e.timeMs = timeOf(n);
        const int p = projectorOf(n);
        e.projectorId = ids[p];
        e.projectorName = names[p];
        e.groupName = groups[p];
        e.kind = kindOf(n);
        switch (e.kind) {
        case EventKind::Power:
            e.value = n % 2;
            break;
        case EventKind::Error:
            e.value = 3;
            e.text = texts[0];
            break;
        case EventKind::Command:
            e.text = n % 4 == 0 ? texts[1] : texts[2];
            e.outcome = texts[3];
            e.source = EventSource::Window;
            break;
        case EventKind::MailSent:
            e.text = texts[4];
            break;
        case EventKind::Hours:
            e.value = n / 1000;
            e.value2 = n / 2000;
            break;
        default:
            break;
        }
        return e;
    }

    // Writes events 1..count into a new file in transactions of `batch`
    // events; the store's message when it could not.
    QString build(const QString& path, qint64 batch = 100'000) const {
        EventStore store(path, EventStore::Mode::Write);
        if (store.open() != EventStore::OpenResult::Opened)
            return store.message();
        std::vector<HistoryEvent> events;
        events.reserve(std::size_t(batch));
        for (qint64 n = 1; n <= count; ++n) {
            events.push_back(event(n));
            events.back().id = 0;
            if (qint64(events.size()) == batch || n == count) {
                if (store.append(events) != EventStore::WriteResult::Written)
                    return store.message();
                events.clear();
            }
        }
        return {};
    }
};
