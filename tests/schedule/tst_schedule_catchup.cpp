#include "ScheduleFixture.h"

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

enum class End { ProgramEnd, Operator, Crash };

// One run of the program: a runner whose actions go through the real
// history recorder into `events`.
struct Run {
    ScheduleFixture& f;
    std::vector<HistoryEvent>& events;
    HistoryRecorder recorder{*f.state, [this](HistoryEvent e) { events.push_back(std::move(e)); },
                             EventSource::Service};
    ScheduleRunner runner{*f.state};

    Run(ScheduleFixture& fixture, std::vector<HistoryEvent>& log) : f(fixture), events(log) {
        runner.setActionObserver(
            [this](const ScheduleActionReport& report) { recorder.scheduleAction(report); });
        runner.ScheduleStart();
        runner.tick(); // builds the plan
        runner.tick();
    }
    void end(End how) {
        if (how == End::ProgramEnd)
            runner.stopAtProgramEnd();
        if (how == End::Operator)
            runner.ScheduleStop();
    }
    // A tick in every minute up to and including `until`.
    void walk(const QDateTime& until) {
        while (f.state->clock.now() < until) {
            f.state->clock.set(std::min(f.state->clock.now().addSecs(60), until));
            runner.tick();
        }
    }
};

// What reached Solo's queue, as the commands' names.
QStringList SoloGot(const ScheduleFixture& f) {
    const CommandTable& t = BuildCommandTable();
    const std::vector<std::pair<QByteArray, QString>> names = {{Frame(t.PowerOnCommand), "ON"},
                                                               {Frame(t.PowerOffCommand), "OFF"},
                                                               {Frame(t.InputSet0Command), "RGB"},
                                                               {Frame(t.InputSet5Command), "HDMI"}};
    QStringList got;
    for (const QByteArray& frame : f.queued(f.projectorOf(f.solo))) {
        for (const auto& [bytes, name] : names) {
            if (frame == bytes)
                got << name;
        }
    }
    return got;
}

QStringList Missed(const std::vector<HistoryEvent>& events) {
    QStringList missed;
    for (const HistoryEvent& e : events) {
        if (e.kind == EventKind::ScheduleMissed)
            missed << e.text + QStringLiteral(" | ") + e.outcome;
    }
    return missed;
}

QDateTime At(const QString& text) {
    return QDateTime::fromString(text, Qt::ISODate);
}

// The local time zone for one test, restored at its end.
struct TimeZone {
    QByteArray before = qgetenv("TZ");
    explicit TimeZone(const char* zone) {
        qputenv("TZ", zone);
        tzset();
    }
    ~TimeZone() {
        if (before.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", before);
        tzset();
    }
};

} // namespace

class ScheduleCatchUpTest : public QObject {
    Q_OBJECT
  private slots:
    void restartCatchesUpOrRecordsMissed_data();
    void restartCatchesUpOrRecordsMissed();
    void clockStepsNeitherRepeatNorLose_data();
    void clockStepsNeitherRepeatNorLose();
    void summerTimeChanges_data();
    void summerTimeChanges();
    void recordKeepsTodayAndYesterday();
};

void ScheduleCatchUpTest::restartCatchesUpOrRecordsMissed_data() {
    QTest::addColumn<QString>("firstUntil"); // the first run starts a minute earlier
    QTest::addColumn<int>("how");
    QTest::addColumn<QString>("secondAt");
    QTest::addColumn<QString>("catchUp"); // Setting/ScheduleCatchUpMinutes, empty: none
    QTest::addColumn<QStringList>("got");
    QTest::addColumn<QStringList>("missed");
    const auto row = [](const char* name, const char* first, End how, const char* second,
                        const char* catchUp, QStringList got, QStringList missed = {}) {
        QTest::newRow(name) << QString(first) << int(how) << QString(second) << QString(catchUp)
                            << got << missed;
    };
    row("down 03:58 to 04:00", "2024-03-15T03:58:30", End::ProgramEnd, "2024-03-15T04:00:05", "",
        {"ON", "RGB"});
    row("down an hour", "2024-03-15T03:58:30", End::ProgramEnd, "2024-03-15T05:00:05", "",
        {"HDMI", "OFF"},
        {"Solo: Power ON | due at 2024-03-15 03:59, 61 min late",
         "Solo: Input RGB | due at 2024-03-15 04:00, 60 min late"});
    row("catching up 90 minutes", "2024-03-15T03:58:30", End::ProgramEnd, "2024-03-15T05:00:05",
        "90", {"ON", "RGB", "HDMI", "OFF"});
    row("catching up none", "2024-03-15T03:58:30", End::ProgramEnd, "2024-03-15T04:00:30", "0",
        {"RGB"}, {"Solo: Power ON | due at 2024-03-15 03:59, 1 min late"});
    row("unreadable setting", "2024-03-15T03:58:30", End::ProgramEnd, "2024-03-15T04:14:00", "x",
        {"ON", "RGB"});
    row("crash after a run", "2024-03-15T03:59:10", End::Crash, "2024-03-15T04:00:05", "",
        {"ON", "RGB"});
    row("restart in the same minute", "2024-03-15T03:59:10", End::ProgramEnd, "2024-03-15T03:59:50",
        "", {"ON", "RGB"});
    row("clock set back while down", "2024-03-15T04:00:30", End::ProgramEnd, "2024-03-15T03:59:10",
        "", {"ON", "RGB"});
    row("operator's stop", "2024-03-15T03:58:30", End::Operator, "2024-03-15T04:00:05", "",
        {"RGB"});
    row("across midnight", "2024-03-15T23:50:30", End::ProgramEnd, "2024-03-16T00:05:00", "",
        {"ON", "HDMI"});
}

void ScheduleCatchUpTest::restartCatchesUpOrRecordsMissed() {
    QFETCH(QString, firstUntil);
    QFETCH(int, how);
    QFETCH(QString, secondAt);
    QFETCH(QString, catchUp);
    QFETCH(QStringList, got);
    QFETCH(QStringList, missed);
    ScheduleFixture f;
    f.writeFile(QStringLiteral("default"), "[Solo]\n03:59=Power ON\n04:00=Input RGB\n"
                                           "04:50=Input HDMI\n05:00=Power OFF\n"
                                           "23:55=Power ON\n00:02=Input HDMI\n");
    if (!catchUp.isEmpty()) {
        QSettings settings(f.home.filePath(QStringLiteral("Norvik3.conf")), QSettings::IniFormat);
        settings.setValue(QStringLiteral("Setting/ScheduleCatchUpMinutes"), catchUp);
    }
    std::vector<HistoryEvent> events;
    f.state->clock.set(At(firstUntil).addSecs(-60));
    {
        Run first(f, events);
        first.walk(At(firstUntil));
        first.end(End(how));
    }
    f.state->clock.set(At(secondAt));
    Run second(f, events);
    second.walk(At(secondAt).addSecs(30));
    QCOMPARE(SoloGot(f), got);
    QCOMPARE(Missed(events), missed);
}

void ScheduleCatchUpTest::clockStepsNeitherRepeatNorLose_data() {
    QTest::addColumn<QStringList>("steps"); // "~" before a time: walked to, else jumped to
    QTest::addColumn<QStringList>("got");
    QTest::addColumn<QStringList>("missed");
    QTest::newRow("set back an hour")
        << QStringList{"08:59:50", "~10:00:05", "09:00:10", "~10:01:10"}
        << QStringList{"ON", "RGB", "HDMI", "OFF", "ON"} << QStringList{};
    QTest::newRow("set forward an hour")
        << QStringList{"08:59:50", "~09:00:05", "10:00:05", "~10:01:10"}
        << QStringList{"ON", "HDMI", "OFF", "ON"}
        << QStringList{"Solo: Input RGB | due at 2024-03-15 09:30, 30 min late"};
    QTest::newRow("set back across minutes ran")
        << QStringList{"09:29:50", "~09:31:00", "09:29:00", "~09:31:00"} << QStringList{"RGB"}
        << QStringList{};
}

void ScheduleCatchUpTest::clockStepsNeitherRepeatNorLose() {
    QFETCH(QStringList, steps);
    QFETCH(QStringList, got);
    QFETCH(QStringList, missed);
    ScheduleFixture f;
    f.writeFile(QStringLiteral("default"), "[Solo]\n09:00=Power ON\n09:30=Input RGB\n"
                                           "09:50=Input HDMI\n10:00=Power OFF\n10:01=Power ON\n");
    std::vector<HistoryEvent> events;
    const auto at = [](QString time) {
        return QDateTime(QDate(2024, 3, 15), QTime::fromString(time.remove(u'~'), Qt::ISODate));
    };
    f.state->clock.set(at(steps.first()));
    Run run(f, events);
    for (const QString& step : steps.mid(1)) {
        if (step.startsWith(u'~')) {
            run.walk(at(step));
        } else {
            f.state->clock.set(at(step));
            run.runner.tick();
        }
    }
    QCOMPARE(SoloGot(f), got);
    QCOMPARE(Missed(events), missed);
}

void ScheduleCatchUpTest::summerTimeChanges_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("from");      // UTC
    QTest::addColumn<QString>("restartAt"); // UTC; the program ended at `from` + 10 minutes
    QTest::addColumn<QString>("until");
    QTest::addColumn<QStringList>("got");
    QTest::addColumn<QStringList>("missed");
    // 31 March: 02:00 CET is followed by 03:00 CEST, at 01:00 UTC.
    QTest::newRow("spring: the skipped hour at 03:00")
        << QByteArray("[Solo]\n01:59=Power ON\n02:30=Input RGB\n03:00=Power OFF\n"
                      "03:01=Input HDMI\n")
        << "2024-03-31T00:58:30Z"
        << ""
        << "2024-03-31T01:05:00Z" << QStringList{"ON", "RGB", "OFF", "HDMI"} << QStringList{};
    // 27 October: 03:00 CEST is followed by 02:00 CET, at 01:00 UTC.
    QTest::newRow("autumn: the repeated hour once")
        << QByteArray("[Solo]\n02:30=Power ON\n02:45=Input RGB\n03:00=Power OFF\n")
        << "2024-10-27T00:29:30Z"
        << ""
        << "2024-10-27T02:05:00Z" << QStringList{"ON", "RGB", "OFF"} << QStringList{};
    // Down from 02:39 CEST to 02:28 CET: 02:45 came first while it was down.
    QTest::newRow("autumn: restarted in the repeated hour")
        << QByteArray("[Solo]\n02:30=Power ON\n02:45=Input RGB\n03:00=Power OFF\n")
        << "2024-10-27T00:29:30Z"
        << "2024-10-27T01:28:00Z"
        << "2024-10-27T02:05:00Z" << QStringList{"ON", "OFF"}
        << QStringList{"Solo: Input RGB | due at 2024-10-27 02:45, 43 min late"};
}

void ScheduleCatchUpTest::summerTimeChanges() {
    QFETCH(QByteArray, file);
    QFETCH(QString, from);
    QFETCH(QString, restartAt);
    QFETCH(QString, until);
    QFETCH(QStringList, got);
    QFETCH(QStringList, missed);
    const TimeZone berlin("Europe/Berlin");
    QCOMPARE(FirstMomentAt(QDate(2024, 3, 31), QTime(2, 30)),
             At("2024-03-31T01:00:00Z").toMSecsSinceEpoch());
    QCOMPARE(FirstMomentAt(QDate(2024, 10, 27), QTime(2, 30)),
             At("2024-10-27T00:30:00Z").toMSecsSinceEpoch());
    ScheduleFixture f;
    f.writeFile(QStringLiteral("default"), file);
    std::vector<HistoryEvent> events;
    f.state->clock.set(At(from).toLocalTime());
    auto run = std::make_unique<Run>(f, events);
    if (!restartAt.isEmpty()) {
        run->walk(At(from).addSecs(600).toLocalTime());
        run->end(End::ProgramEnd);
        run.reset();
        f.state->clock.set(At(restartAt).toLocalTime());
        run = std::make_unique<Run>(f, events);
    }
    run->walk(At(until).toLocalTime());
    QCOMPARE(SoloGot(f), got);
    QCOMPARE(Missed(events), missed);
}

void ScheduleCatchUpTest::recordKeepsTodayAndYesterday() {
    ScheduleFixture f;
    f.writeFile(QStringLiteral("default"), "[Solo]\n08:00=Power ON\n[Hall]\n08:00=Power OFF\n");
    std::vector<HistoryEvent> events;
    for (int day = 11; day <= 15; ++day) {
        f.state->clock.set(QDateTime(QDate(2024, 3, day), QTime(7, 59, 30)));
        Run run(f, events);
        run.walk(QDateTime(QDate(2024, 3, day), QTime(8, 0, 30)));
        run.end(End::ProgramEnd);
    }
    QFile file(f.home.filePath(QStringLiteral("ScheduleRuns.json")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonObject days = QJsonDocument::fromJson(file.readAll()).object()["days"].toObject();
    QCOMPARE(days.keys(), QStringList({"2024-03-14", "2024-03-15"}));
    QCOMPARE(days["2024-03-15"].toArray().size(), 2); // Hall and Solo
    QCOMPARE(SoloGot(f).size(), 5);
    // Each start looks back to the end of the run before: nothing is missed.
    QCOMPARE(Missed(events), QStringList{});
}

QTEST_GUILESS_MAIN(ScheduleCatchUpTest)
#include "tst_schedule_catchup.moc"
