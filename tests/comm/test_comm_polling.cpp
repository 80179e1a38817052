// Status polling: when a pass queues the five status queries, and for whom.

#include "comm/CommandQueue.h"
#include "comm/CommandTable.h"
#include "comm/ReplyFraming.h"
#include "comm/StatusPoller.h"
#include "core/AppState.h"

#include <QTest>

class TestCommPolling : public QObject {
    Q_OBJECT

private slots:
    void passesFollowTheIntervalAndSurviveAClockSetBack()
    {
        AppState state;
        state.ProjectorCount = 2;
        state.Projectors[1].ConnectionKind = ConnectionLan;
        state.Projectors[2].ConnectionKind = -1; // polled all the same
        state.Timing.StatusCheckInterval = 300;
        const QDateTime start(QDate(2026, 5, 4), QTime(12, 0, 0));
        state.clock.set(start);
        StatusPoller poller(state, BuildCommandTable());

        poller.tick(); // never polled yet: a pass at once
        QCOMPARE(QueueLength(state, 1), 5);
        QCOMPARE(QueueLength(state, 2), 5);
        QCOMPARE(state.LastStatusCheck, start);
        QCOMPARE(FrameType(CurrentQueueEntry(state, 1).command), 0x6000);

        state.clock.advance(299'000);
        poller.tick();
        QCOMPARE(QueueLength(state, 1), 5);
        state.clock.advance(1'000);
        poller.tick();
        QCOMPARE(QueueLength(state, 1), 10);

        // The clock goes back an hour: polling carries on from the new time
        // instead of pausing for an hour.
        state.clock.advance(-3'600'000);
        poller.tick();
        QCOMPARE(QueueLength(state, 1), 15);
        QCOMPARE(state.LastStatusCheck, state.clock.now());
        poller.tick();
        QCOMPARE(QueueLength(state, 2), 15);

        // A cleared time stamp forces the next pass.
        state.LastStatusCheck = QDateTime();
        poller.tick();
        QCOMPARE(QueueLength(state, 2), 20);
        QVERIFY(poller.isActive()); // ticks on every second
    }
};

QTEST_GUILESS_MAIN(TestCommPolling)
#include "test_comm_polling.moc"
