#include "support/ScheduleFixture.h"

#include "history/HistoryRecorder.h"
#include "schedule/ScheduleMoment.h"
#include "schedule/ScheduleRunner.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <ctime>
#include <memory>

// Entries missed while the program was down, jumped over or repeated by the
// clock: each runs once a day or is recorded as missed. 15 March 2024 is a
// Friday; the DST days are Europe/Berlin's of 2024.
namespace {

// One run of the program, its actions going through the real history recorder.
struct Run {
    ScheduleFixture& f;
    std::vector<HistoryEvent>& events;
    HistoryRecorder recorder{*f.state, [this](HistoryEvent e) { events.push_back(std::move(e)); },
                             EventSource::Service};
    ScheduleRunner runner{*f.state};

    // `lateSecs`: the program runs that long with the schedule off before it is started.
    Run(ScheduleFixture& fixture, std::vector<HistoryEvent>& log, int lateSecs = 0)
        : f(fixture), events(log) {
        runner.setActionObserver(
            [this](const ScheduleActionReport& report) { recorder.scheduleAction(report); });
        f.state->clock.set(f.state->clock.now().addSecs(lateSecs));
        runner.ScheduleStart();
        runner.tick(); // builds the plan
        runner.tick();
    }
    // A tick in every minute up to and including `until`.
    void walk(const QDateTime& until) {
        while (f.state->clock.now() < until) {
            f.state->clock.set(std::min(f.state->clock.now().addSecs(60), until));
            runner.tick();
        }
    }
};

QStringList SoloGot(const ScheduleFixture& f) {
    const CommandTable& t = BuildCommandTable();
    const std::map<QByteArray, QString> names = {{Frame(t.PowerOnCommand), "ON"},
                                                 {Frame(t.PowerOffCommand), "OFF"},
                                                 {Frame(t.InputSet0Command), "RGB"},
                                                 {Frame(t.InputSet5Command), "HDMI"}};
    QStringList got;
    for (const QByteArray& frame : f.queued(f.projectorOf(f.solo)))
        if (names.contains(frame))
            got << names.at(frame);
    return got;
}

QStringList Missed(const std::vector<HistoryEvent>& events) {
    QStringList missed;
    for (const HistoryEvent& e : events)
        if (e.kind == EventKind::ScheduleMissed)
            missed << e.text + QStringLiteral(" | ") + e.outcome;
    return missed;
}

// "hh:mm:ss" on 15 March 2024, or an ISO date and time (local, or UTC with Z).
QDateTime At(const QString& text) {
    if (text.size() <= 8)
        return QDateTime(QDate(2024, 3, 15), QTime::fromString(text, Qt::ISODate));
    return QDateTime::fromString(text, Qt::ISODate).toLocalTime();
}

} // namespace

class ScheduleCatchUpTest : public QObject {
    Q_OBJECT
  private slots:
    // All in Europe/Berlin, whose DST days some rows cross.
    void initTestCase() {
        qputenv("TZ", "Europe/Berlin");
        tzset();
    }

    void eachEntryOnceOrMissed_data() {
        QTest::addColumn<QByteArray>("file");
        // "catch-up=n": Setting/ScheduleCatchUpMinutes; the first time starts a run; "~t": a tick
        // each minute to t; "t": the clock jumps to t and ticks, or starts the next run after
        // "end" (program end), "stop" (operator's) or "crash"; "=t": the clock moves to t
        // unseen; "late": the next run starts its schedule five minutes after the program.
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("got");
        QTest::addColumn<QStringList>("missed");
        const auto row = [](const char* name, const char* file, const char* steps, const char* got,
                            QStringList missed = {}) {
            QTest::newRow(name) << QByteArray(file) << QString(steps) << QString(got) << missed;
        };
        const char* early = "[Solo]\n03:59=Power ON\n04:00=Input RGB\n04:50=Input HDMI\n"
                            "05:00=Power OFF\n23:55=Power ON\n00:02=Input HDMI\n";
        row("down 03:58 to 04:00", early, "03:57:30 ~03:58:30 end 04:00:05 ~04:00:35", "ON RGB");
        row("down an hour", early, "03:57:30 ~03:58:30 end 05:00:05 ~05:00:35", "HDMI OFF",
            {"Solo: Power ON | due at 2024-03-15 03:59, 61 min late",
             "Solo: Input RGB | due at 2024-03-15 04:00, 60 min late"});
        row("catching up 90 minutes", early,
            "catch-up=90 03:57:30 ~03:58:30 end 05:00:05 ~05:00:35", "ON RGB HDMI OFF");
        row("catching up none", early, "catch-up=0 03:57:30 ~03:58:30 end 04:00:30 ~04:01:00",
            "RGB", {"Solo: Power ON | due at 2024-03-15 03:59, 1 min late"});
        row("unreadable setting", early, "catch-up=x 03:57:30 ~03:58:30 end 04:14:00 ~04:14:30",
            "ON RGB");
        row("crash after a run", early, "03:58:10 ~03:59:10 crash 04:00:05 ~04:00:35", "ON RGB");
        row("restart in the same minute", early, "03:58:10 ~03:59:10 end 03:59:50 ~04:00:20",
            "ON RGB");
        row("clock set back while down", early, "03:59:30 ~04:00:30 end 03:59:10 ~03:59:40",
            "ON RGB");
        row("ended before its minute's first look", early,
            "03:57:30 ~03:59:30 =04:00:00 end 04:01:00 ~04:01:30", "ON RGB");
        row("down over a weekend", "[Solo]\n12:00=Power ON\n",
            "11:00:00 ~11:01:00 end 2024-03-18T11:00:00 ~2024-03-18T11:00:30", "",
            {"Solo: Power ON | due at 2024-03-15 12:00, 4260 min late",
             "Solo: Power ON | due at 2024-03-16 12:00, 2820 min late",
             "Solo: Power ON | due at 2024-03-17 12:00, 1380 min late"});
        row("started late by the operator", early, "03:57:30 ~03:58:30 end late 04:30:00 ~04:35:30",
            "");
        row("operator's stop", early, "03:57:30 ~03:58:30 stop 04:00:05 ~04:00:35", "RGB");
        row("across midnight", early,
            "2024-03-15T23:49:30 ~2024-03-15T23:50:30 end 2024-03-16T00:05:00 ~2024-03-16T00:05:30",
            "ON HDMI");

        const char* morning = "[Solo]\n09:00=Power ON\n09:30=Input RGB\n09:50=Input HDMI\n"
                              "10:00=Power OFF\n10:01=Power ON\n";
        row("set back an hour", morning, "08:59:50 ~10:00:05 09:00:10 ~10:01:10",
            "ON RGB HDMI OFF ON");
        row("set forward an hour", morning, "08:59:50 ~09:00:05 10:00:05 ~10:01:10",
            "ON HDMI OFF ON", {"Solo: Input RGB | due at 2024-03-15 09:30, 30 min late"});
        row("set back across minutes ran", morning, "09:29:50 ~09:31:00 09:29:00 ~09:31:00", "RGB");

        // 31 March: 02:00 CET is followed by 03:00 CEST, at 01:00 UTC.
        row("spring: the skipped hour at 03:00",
            "[Solo]\n01:59=Power ON\n02:30=Input RGB\n03:00=Power OFF\n03:01=Input HDMI\n",
            "2024-03-31T00:58:30Z ~2024-03-31T01:05:00Z", "ON RGB OFF HDMI");
        // 27 October: 03:00 CEST is followed by 02:00 CET, at 01:00 UTC.
        const char* autumn = "[Solo]\n02:30=Power ON\n02:45=Input RGB\n03:00=Power OFF\n";
        row("autumn: the repeated hour once", autumn, "2024-10-27T00:29:30Z ~2024-10-27T02:05:00Z",
            "ON RGB OFF");
        // Down from 02:39 CEST to 02:28 CET: 02:45 came first while it was down.
        row("autumn: restarted in the repeated hour", autumn,
            "2024-10-27T00:29:30Z ~2024-10-27T00:39:30Z end 2024-10-27T01:28:00Z "
            "~2024-10-27T02:05:00Z",
            "ON OFF", {"Solo: Input RGB | due at 2024-10-27 02:45, 43 min late"});
    }

    void eachEntryOnceOrMissed() {
        QFETCH(QByteArray, file);
        QFETCH(QString, steps);
        QFETCH(QString, got);
        QFETCH(QStringList, missed);
        ScheduleFixture f;
        f.writeFile(QStringLiteral("default"), file);
        std::vector<HistoryEvent> events;
        std::unique_ptr<Run> run;
        int lateSecs = 0;
        for (const QString& step : steps.split(u' ')) {
            if (step == QLatin1String("late")) {
                lateSecs = 300;
            } else if (step.startsWith(u'=')) {
                f.state->clock.set(At(step.mid(1)));
            } else if (step.startsWith(QLatin1String("catch-up="))) {
                QSettings(f.home.filePath(QStringLiteral("Norvik3.conf")), QSettings::IniFormat)
                    .setValue(QStringLiteral("Setting/ScheduleCatchUpMinutes"), step.mid(9));
            } else if (step.startsWith(u'~')) {
                run->walk(At(step.mid(1)));
            } else if (step.front().isLetter()) {
                if (step == QLatin1String("end"))
                    run->runner.stopAtProgramEnd();
                if (step == QLatin1String("stop"))
                    run->runner.ScheduleStop();
                run.reset();
            } else {
                f.state->clock.set(At(step));
                if (run)
                    run->runner.tick();
                else
                    run = std::make_unique<Run>(f, events, std::exchange(lateSecs, 0));
            }
        }
        QCOMPARE(SoloGot(f).join(u' '), got);
        QCOMPARE(Missed(events), missed);
    }

    void skippedAndRepeatedHourTakeTheirFirstMoment() {
        QCOMPARE(FirstMomentAt(QDate(2024, 3, 31), QTime(2, 30)),
                 At("2024-03-31T01:00:00Z").toMSecsSinceEpoch());
        QCOMPARE(FirstMomentAt(QDate(2024, 10, 27), QTime(2, 30)),
                 At("2024-10-27T00:30:00Z").toMSecsSinceEpoch());
    }

    void recordKeepsTodayAndYesterday() {
        ScheduleFixture f;
        f.writeFile(QStringLiteral("default"), "[Solo]\n08:00=Power ON\n[Hall]\n08:00=Power OFF\n");
        std::vector<HistoryEvent> events;
        for (int day = 11; day <= 15; ++day) {
            f.state->clock.set(QDateTime(QDate(2024, 3, day), QTime(7, 59, 30)));
            Run run(f, events);
            run.walk(QDateTime(QDate(2024, 3, day), QTime(8, 0, 30)));
            run.runner.stopAtProgramEnd();
        }
        QFile file(f.home.filePath(QStringLiteral("ScheduleRuns.json")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject days =
            QJsonDocument::fromJson(file.readAll()).object()["days"].toObject();
        QCOMPARE(days.keys(), QStringList({"2024-03-14", "2024-03-15"}));
        QCOMPARE(days["2024-03-15"].toArray().size(), 2); // Hall and Solo
        QCOMPARE(SoloGot(f).size(), 5);
        // Each start looks back to the end of the run before: nothing is missed.
        QCOMPARE(Missed(events), QStringList{});
    }
};

QTEST_GUILESS_MAIN(ScheduleCatchUpTest)
#include "tst_schedule_catchup.moc"
