// The history as the program keeps it: its start and stop by the program
// that ran, none for a second instance, the retention setting, a full disk
// that stops recording with one health condition while polling goes on,
// and the forecasts worked out from the daily hours in the file.

#include "support/RecordingFleet.h"

#include "core/Forecast.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>

#include <sys/mount.h>

namespace {

constexpr qint64 DayMs = 24LL * 3600 * 1000;

// Without `lamps`, a row as the own protocol (and the files of before every
// lamp was kept) has it.
HistoryEvent Hours(const QString& id, qint64 timeMs, qint32 lamp, qint32 filter,
                   const QList<qint32>& lamps = {}) {
    HistoryEvent e;
    e.text = LampHoursText(lamps);
    e.timeMs = timeMs;
    e.kind = EventKind::Hours;
    e.projectorId = id;
    e.value = lamp;
    e.value2 = filter;
    return e;
}

} // namespace

class TestHistoryProgram : public QObject {
    Q_OBJECT

  private slots:
    void startAndStopByTheProgram_data() {
        QTest::addColumn<int>("source");
        QTest::newRow("window") << int(EventSource::Window);
        QTest::newRow("service") << int(EventSource::Service);
    }

    void startAndStopByTheProgram() {
        QFETCH(int, source);
        TestHome home;
        const QString file = home.file(QStringLiteral("History.sqlite"));
        {
            ProgramCore core;
            core.setProgramSource(EventSource(source));
            QVERIFY(!core.history());
            QVERIFY(core.start({}));
            QVERIFY(core.history());
            {
                // A second program on the folder records nothing.
                ProgramCore second;
                QVERIFY(!second.start({}));
                QVERIFY(!second.history());
            }
            core.shutdown();
            QVERIFY(!core.history());
        }
        const auto starts = RecordingFleet::Events(file, EventKind::ProgramStart);
        const auto stops = RecordingFleet::Events(file, EventKind::ProgramStop);
        QCOMPARE(starts.size(), 1u);
        QCOMPARE(stops.size(), 1u);
        QCOMPARE(starts.front().source, EventSource(source));
        QCOMPARE(stops.front().source, EventSource(source));
        QVERIFY(starts.front().text.startsWith(QStringLiteral("Norvik3 ")));
    }

    // Setting/HistoryDays: an event older than that goes at once.
    void retentionFromTheSettings() {
        TestHome home;
        home.write(QStringLiteral("Norvik3.conf"), "[Setting]\nHistoryDays=2\n");
        const QString file = home.file(QStringLiteral("History.sqlite"));
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        {
            EventStore store(file, EventStore::Mode::Write);
            QCOMPARE(store.open(), EventStore::OpenResult::Opened);
            QCOMPARE(store.append({Hours(QStringLiteral("old"), now - 10 * DayMs, 100, 10),
                                   Hours(QStringLiteral("new"), now - DayMs, 100, 10)}),
                     EventStore::WriteResult::Written);
        }
        ProgramCore core;
        QVERIFY(core.start({}));
        QVERIFY(QTest::qWaitFor(
            [&] { return RecordingFleet::Events(file, EventKind::Hours, "old").empty(); },
            FleetWait));
        QCOMPARE(RecordingFleet::Events(file, EventKind::Hours, "new").size(), 1u);
    }

    // The folder on a small tmpfs, filled up while projectors change: one
    // health condition with the writer's text, and passes still complete.
    void fullDiskKeepsPolling() {
        QTemporaryDir dir;
        const QByteArray point = QFile::encodeName(dir.path());
        if (::mount("tmpfs", point.constData(), "tmpfs", 0, "size=8m") != 0)
            QSKIP("a tmpfs cannot be mounted here");
        const auto unmount = qScopeGuard([&] { ::umount2(point.constData(), MNT_DETACH); });
        QFile filler(dir.filePath(QStringLiteral("filler")));
        {
            RecordingFleet fleet(2, 0, dir.path());
            QVERIFY2(fleet.isReady(), qPrintable(fleet.problem()));
            HealthReport& health = fleet.state().Health;
            int raised = 0;
            QObject::connect(&health, &HealthReport::changed, &health,
                             [&](HealthCondition condition, bool active) {
                                 raised += condition == HealthCondition::HistoryFailing && active;
                             });
            QVERIFY(fleet.pass());
            QVERIFY(fleet.settle());

            QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
            while (filler.write(QByteArray(4096, 'f')) > 0) {
            }
            filler.close();
            // A flood of large events as well, more than any room left.
            for (int n = 0; n < 2000; ++n) {
                HistoryEvent e;
                e.timeMs = QDateTime::currentMSecsSinceEpoch();
                e.kind = EventKind::Warning;
                e.text = QString(2000, u'w');
                fleet.core.history()->record(std::move(e));
            }
            for (int round = 0; round < 4; ++round) {
                fleet.control(QStringLiteral("power all %1").arg(round % 2 == 0 ? 1 : 0));
                QVERIFY(fleet.pass());
            }
            QVERIFY(QTest::qWaitFor(
                [&] { return health.isActive(HealthCondition::HistoryFailing); }, FleetWait));
            QVERIFY(health.entry(HealthCondition::HistoryFailing).text.contains("disk is full"));
            // Polling goes on at its pace, and says nothing more.
            for (int round = 0; round < 3; ++round) {
                fleet.control(QStringLiteral("error all %1").arg(round % 2));
                QVERIFY(fleet.pass());
            }
            QCOMPARE(raised, 1);
            QVERIFY(!fleet.state().Polling.Behind);
            QVERIFY(filler.remove());
        }
    }

    // Thirty days of a lamp burning 10 h a day, a projector with five days
    // of data, one past its thresholds and one with two lamps: each forecast
    // lands on its own projector and lamp, wherever the table holds it.
    void forecastsFromTheDailyHours() {
        TestHome home;
        const QString file = home.file(QStringLiteral("History.sqlite"));
        const QString burning = QStringLiteral("7d1c3f0e-0000-4000-8000-000000000001");
        const QString young = QStringLiteral("7d1c3f0e-0000-4000-8000-000000000002");
        const QString worn = QStringLiteral("7d1c3f0e-0000-4000-8000-000000000003");
        const QString twin = QStringLiteral("7d1c3f0e-0000-4000-8000-000000000004");
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        {
            std::vector<HistoryEvent> rows;
            for (int daysAgo = 29; daysAgo >= 0; --daysAgo) {
                const qint64 t = now - daysAgo * DayMs - 3600 * 1000;
                rows.push_back(Hours(burning, t, 1290 - 10 * daysAgo, 500 - 5 * daysAgo));
                rows.push_back(Hours(worn, t, 2129 - daysAgo, 2529 - daysAgo));
                rows.push_back(Hours(twin, t, 1290 - 10 * daysAgo, 0,
                                     {1290 - 10 * daysAgo, 1000 - 20 * daysAgo}));
                if (daysAgo < 5)
                    rows.push_back(Hours(young, t, 100 - daysAgo, 50));
            }
            EventStore store(file, EventStore::Mode::Write);
            QCOMPARE(store.open(), EventStore::OpenResult::Opened);
            QCOMPARE(store.append(rows), EventStore::WriteResult::Written);
        }
        ProgramCore core;
        QVERIFY(core.start({}));
        AppState& s = core.state();
        s.Mail.LampAlarmTime = 2000;
        s.Mail.FilterAlarmTime = 2000;
        const int group = AddGroupNode(s, QStringLiteral("Hall"), nullptr);
        for (const QString& id : {young, worn, burning, twin}) {
            Projector config;
            config.ProjectorName = id.right(1);
            AddProjector(s, group, config.id(id));
        }
        QSignalSpy changed(&core, &ProgramCore::forecastsChanged);
        QVERIFY(changed.wait(FleetWait));

        const ProjectorInfo& b = s.Projectors[3];
        QCOMPARE(b.ProjectorId, burning);
        QCOMPARE(b.LampForecasts.size(), 1u);
        const Forecast& lamp = b.LampForecasts[0];
        QCOMPARE(lamp.state, Forecast::State::Due);
        QVERIFY(qAbs(lamp.hoursPerDay - 10) < 0.01);
        // 710 h left at 10 h a day, from the last reading an hour ago.
        const qint64 lampDue = now - 3600 * 1000 + 71 * DayMs;
        QVERIFY2(qAbs(lamp.dueMs - lampDue) <= DayMs,
                 qPrintable(QDateTime::fromMSecsSinceEpoch(lamp.dueMs).toString()));
        const qint64 filterDue = now - 3600 * 1000 + 300 * DayMs;
        QVERIFY(qAbs(b.FilterForecast.dueMs - filterDue) <= DayMs);

        // Lamp 1 as the one-lamp projector's, lamp 2 at its own burn.
        const ProjectorInfo& t = s.Projectors[4];
        QCOMPARE(t.LampForecasts.size(), 2u);
        QVERIFY(t.LampForecasts[0] == lamp);
        QVERIFY(qAbs(t.LampForecasts[1].hoursPerDay - 20) < 0.01);
        QCOMPARE(t.LampForecasts[1].remaining, 1000);
        QVERIFY(qAbs(t.LampForecasts[1].dueMs - (now - 3600 * 1000 + 50 * DayMs)) <= DayMs);

        QCOMPARE(s.Projectors[1].LampForecasts.size(), 1u);
        QCOMPARE(s.Projectors[1].LampForecasts[0].state, Forecast::State::NoData);
        QCOMPARE(ForecastText(s.Projectors[1].LampForecasts[0], QDateTime::currentDateTime()),
                 QStringLiteral("-"));
        QCOMPARE(s.Projectors[2].LampForecasts[0].state, Forecast::State::Overdue);
        QCOMPARE(s.Projectors[2].FilterForecast.state, Forecast::State::Overdue);
        QCOMPARE(ForecastText(s.Projectors[2].LampForecasts[0], QDateTime::currentDateTime()),
                 QStringLiteral("overdue"));
    }
};

QTEST_GUILESS_MAIN(TestHistoryProgram)
#include "tst_history_program.moc"
