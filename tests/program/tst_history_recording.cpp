// What the program records while it polls simulated projectors: each
// change of status once (a repeated poll with the same value records
// nothing), loss and return of contact, a refused password, operators' and
// the schedule's commands with their outcomes, alert mails, the daily hours,
// and the ids of projectors that a deletion renumbers.

#include "support/RecordingFleet.h"

#include "history/HistoryRecorder.h"
#include "protocol/CommandTable.h"
#include "schedule/ScheduleFiles.h"
#include "schedule/ScheduleRunner.h"
#include "support/SmtpSink.h"

#include <QDir>
#include <QFile>

namespace {

QStringList Texts(const std::vector<HistoryEvent>& events) {
    QStringList texts;
    for (const HistoryEvent& e : events)
        texts << e.text;
    return texts;
}

QStringList Outcomes(const std::vector<HistoryEvent>& events) {
    QStringList outcomes;
    for (const HistoryEvent& e : events)
        outcomes << e.outcome;
    return outcomes;
}

} // namespace

class TestHistoryRecording : public QObject {
    Q_OBJECT

    std::unique_ptr<RecordingFleet> fleet;

    // Two projectors of the own protocol, a PJLink class 1 and a class 2.
    bool startFleet() {
        fleet = std::make_unique<RecordingFleet>(2, 2);
        if (!fleet->isReady()) {
            qWarning("%s", qPrintable(fleet->problem()));
            return false;
        }
        fleet->control(QStringLiteral("pj 4 class 2"));
        fleet->control(QStringLiteral("pj 4 inputname 31 Lectern"));
        return true;
    }

  private slots:
    void cleanup() { fleet.reset(); }

    void eachChangeOnce_data() {
        QTest::addColumn<int>("projector");
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        const auto row = [](const char* name, int p, const char* change, EventKind kind,
                            const char* before, const char* after) {
            QTest::newRow(name) << p << QString::fromUtf8(change) << int(kind)
                                << QString::fromUtf8(before) << QString::fromUtf8(after);
        };
        row("own power", 1, "power 1 1", EventKind::Power, "OFF", "ON");
        row("own input", 2, "input 2 5", EventKind::Input, "RGB", "HDMI");
        row("own error", 1, "error 1 3", EventKind::Error, "Normal", "Lamp Error");
        row("PJLink power", 3, "pj 3 power 1", EventKind::Power, "OFF", "ON");
        row("PJLink error", 3, "pj 3 erst 002000", EventKind::Error, "Normal", "Temp Error");
        row("PJLink input name", 4, "pj 4 input 32", EventKind::Input, "Lectern", "HDMI 2");
    }

    void eachChangeOnce() {
        QFETCH(int, projector);
        QFETCH(QString, change);
        QFETCH(int, kind);
        QFETCH(QString, before);
        QFETCH(QString, after);
        QVERIFY(startFleet());
        if (projector == 4) {
            // A PJLink projector tells its input only while it is on.
            fleet->control(QStringLiteral("pj 4 power 1"));
            fleet->control(QStringLiteral("pj 4 input 31"));
        }
        QVERIFY(fleet->pass());
        QVERIFY(fleet->pass());
        QVERIFY(fleet->settle());
        const QString id = fleet->idOf(projector);
        QCOMPARE(Texts(fleet->events(EventKind(kind), id)), QStringList{before});

        fleet->control(change);
        QVERIFY(fleet->pass());
        QVERIFY(fleet->pass());
        QVERIFY(fleet->settle());
        const std::vector<HistoryEvent> events = fleet->events(EventKind(kind), id);
        QCOMPARE(Texts(events), (QStringList{before, after}));
        QCOMPARE(events.back().projectorName, QStringLiteral("PJ%1").arg(projector));
        QCOMPARE(events.back().groupName, QStringLiteral("Hall"));
    }

    void warningsComeAndGo() {
        QVERIFY(startFleet());
        QVERIFY(fleet->pass());
        fleet->control(QStringLiteral("pj 3 erst 010000"));
        QVERIFY(fleet->pass());
        QVERIFY(fleet->pass());
        fleet->control(QStringLiteral("pj 3 erst 000000"));
        QVERIFY(fleet->pass());
        QVERIFY(fleet->pass());
        QVERIFY(fleet->settle());
        QCOMPARE(Texts(fleet->events(EventKind::Warning, fleet->idOf(3))),
                 (QStringList{QStringLiteral("Lamp Warning"), QString()}));
        QVERIFY(fleet->events(EventKind::Warning, fleet->idOf(4)).empty());
    }

    // Contact lost over two passes, then back over two: one Disconnect and
    // one Reconnect; the alert is queued once and recorded as such.
    void disconnectAndFirstReplyAfter() {
        QVERIFY(startFleet());
        AppState& s = fleet->state();
        s.Mail.MailSend = s.Mail.ErrorAlarmSend = s.Mail.DisconnectSend = true;
        s.Mail.DisconnectText = QStringLiteral("Disconnect");
        QVERIFY(fleet->pass());
        fleet->control(QStringLiteral("silent 1 on"));
        QVERIFY(fleet->pass());
        QVERIFY(fleet->pass());
        QVERIFY(s.Projectors[1].Disconnected);
        fleet->control(QStringLiteral("silent 1 off"));
        QVERIFY(fleet->pass());
        QVERIFY(fleet->pass());
        QVERIFY(fleet->settle());
        const QString id = fleet->idOf(1);
        const auto lost = fleet->events(EventKind::Disconnect, id);
        const auto back = fleet->events(EventKind::Reconnect, id);
        QCOMPARE(lost.size(), 1u);
        QCOMPARE(back.size(), 1u);
        QVERIFY(lost.front().timeMs <= back.front().timeMs);
        QCOMPARE(Texts(fleet->events(EventKind::MailQueued, id)),
                 QStringList{QStringLiteral("Disconnect")});
        for (int p = 2; p <= 4; ++p)
            QVERIFY(fleet->events(EventKind::Disconnect, fleet->idOf(p)).empty());
    }

    void refusedPasswordOnce() {
        QVERIFY(startFleet());
        fleet->control(QStringLiteral("pj 3 password s3cret"));
        fleet->passwords.insert(3, QStringLiteral("wrong"));
        QVERIFY(fleet->pass());
        QVERIFY(fleet->pass());
        QVERIFY(fleet->settle());
        QCOMPARE(Texts(fleet->events(EventKind::AuthenticationError, fleet->idOf(3))),
                 QStringList{QStringLiteral("Authentication Error")});
        QVERIFY(fleet->events(EventKind::AuthenticationError, fleet->idOf(4)).empty());
    }

    void commandsWithOutcome_data() {
        QTest::addColumn<int>("projector");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("flush");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("acknowledged") << 1 << QString() << false << "Power On"
                                      << "acknowledged";
        QTest::newRow("refused") << 1 << "refuse 1 on" << false << "Power On"
                                 << "refused";
        QTest::newRow("no answer") << 1 << "silent 1 on" << false << "Power On"
                                   << "did not answer";
        QTest::newRow("cancelled") << 1 << QString() << true << "Power On"
                                   << "cancelled";
        QTest::newRow("PJLink") << 3 << QString() << false << "%1POWR 1"
                                << "acknowledged";
        QTest::newRow("PJLink after its warm-up") << 3 << "pj 3 power 3" << false << "%1POWR 0"
                                                  << "waited for warm-up";
        QTest::newRow("a query is no command") << 2 << QString() << false << QString() << QString();
    }

    void commandsWithOutcome() {
        QFETCH(int, projector);
        QFETCH(QString, fault);
        QFETCH(bool, flush);
        QFETCH(QString, caption);
        QFETCH(QString, outcome);
        QVERIFY(startFleet());
        QVERIFY(fleet->pass());
        if (!fault.isEmpty())
            fleet->control(fault);
        CommEngine& engine = fleet->core.engine();
        const CommandTable& table = engine.commands();
        if (projector == 3)
            QVERIFY(engine.EnqueuePJLink(3, caption.toLatin1()));
        else
            QVERIFY(engine.EnqueueCommand(projector, caption.isEmpty() ? table.PowerGetCommand
                                                                       : table.PowerOnCommand));
        if (flush)
            engine.FlushProjectorQueue(projector);
        QVERIFY(fleet->idle());
        QVERIFY(fleet->settle());
        const auto commands = fleet->events(EventKind::Command, fleet->idOf(projector));
        if (caption.isEmpty()) {
            QVERIFY(commands.empty());
            return;
        }
        QCOMPARE(Texts(commands), QStringList{caption});
        QCOMPARE(Outcomes(commands), QStringList{outcome});
        QCOMPARE(commands.front().source, EventSource::Window);
    }

    // The schedule's start, its action for the group and each projector's
    // command with its outcome, and its stop.
    void scheduleRun() {
        QVERIFY(startFleet());
        AppState& s = fleet->state();
        QVERIFY(QDir().mkpath(ScheduleFolder(s)));
        QFile file(ScheduleFilePath(s, QStringLiteral("default")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Hall]\n08:00=Power ON\n");
        file.close();
        s.clock.set(QDateTime(QDate(2026, 12, 8), QTime(7, 59, 59)));
        ScheduleRunner& runner = fleet->core.runner();
        runner.ScheduleStart();
        runner.tick(); // today's plan
        s.clock.set(QDateTime(QDate(2026, 12, 8), QTime(8, 0, 1)));
        runner.tick();
        QVERIFY(fleet->idle());
        runner.ScheduleStop();
        QVERIFY(fleet->settle());

        const auto actions = fleet->events(EventKind::ScheduleAction);
        QCOMPARE(Texts(actions), QStringList{QStringLiteral("Hall: Power ON")});
        QCOMPARE(Outcomes(actions), QStringList{QStringLiteral("queued for 4 projectors")});
        QCOMPARE(actions.front().source, EventSource::Schedule);
        QCOMPARE(actions.front().groupName, QStringLiteral("Hall"));
        for (int p = 1; p <= 4; ++p) {
            const auto commands = fleet->events(EventKind::Command, fleet->idOf(p));
            QCOMPARE(Texts(commands), QStringList{QStringLiteral("Power ON")});
            QCOMPARE(Outcomes(commands), QStringList{QStringLiteral("acknowledged")});
            QCOMPARE(commands.front().source, EventSource::Schedule);
        }
        QCOMPARE(fleet->events(EventKind::ScheduleStart).size(), 1u);
        QCOMPARE(fleet->events(EventKind::ScheduleStop).size(), 1u);
    }

    void alertMails_data() {
        QTest::addColumn<bool>("serverUp");
        QTest::addColumn<int>("kind");
        QTest::newRow("sent") << true << int(EventKind::MailSent);
        QTest::newRow("failed") << false << int(EventKind::MailFailed);
    }

    void alertMails() {
        QFETCH(bool, serverUp);
        QFETCH(int, kind);
        SmtpSink sink;
        QVERIFY2(sink.isReady(), qPrintable(sink.errorString()));
        QVERIFY(startFleet());
        AppState& s = fleet->state();
        MailSettings& mail = s.Mail;
        mail.MailSend = mail.ErrorAlarmSend = mail.LampErrorSend = true;
        mail.LampErrorText = QStringLiteral("Lamp Error");
        mail.FromAddress = QStringLiteral("norvik@example.com");
        mail.SendAddress[1] = QStringLiteral("ops@example.com;TO");
        // Nothing listens on port 1 of the loopback address.
        mail.SMTPServer = serverUp ? sink.server() : QStringLiteral("127.0.0.1:1");
        QVERIFY(fleet->pass());
        fleet->control(QStringLiteral("error 2 3"));
        QVERIFY(fleet->pass());
        const QString id = fleet->idOf(2);
        QVERIFY(QTest::qWaitFor(
            [&] { return s.Counters.AlertMailsSent + s.Counters.AlertMailsFailed > 0; },
            FleetWait));
        QVERIFY(fleet->settle());
        QCOMPARE(Texts(fleet->events(EventKind::MailQueued, id)),
                 QStringList{QStringLiteral("Lamp Error")});
        const auto outcome = fleet->events(EventKind(kind), id);
        QCOMPARE(Texts(outcome), QStringList{QStringLiteral("Lamp Error")});
        QCOMPARE(outcome.front().outcome.isEmpty(), serverUp);
    }

    // The lamp and filter hours once a day, every lamp of a PJLink one.
    void hoursOnceADay() {
        QVERIFY(startFleet());
        AppState& s = fleet->state();
        fleet->control(QStringLiteral("lamp 1 1500"));
        fleet->control(QStringLiteral("filter 1 700"));
        fleet->control(QStringLiteral("pj 4 lamps 1200 850"));
        fleet->control(QStringLiteral("pj 4 filter 300"));
        s.clock.set(QDateTime(QDate(2026, 12, 8), QTime(9, 0)));
        QVERIFY(fleet->pass());
        QVERIFY(fleet->pass());
        s.clock.set(QDateTime(QDate(2026, 12, 9), QTime(9, 0)));
        fleet->control(QStringLiteral("lamp 1 1510"));
        QVERIFY(fleet->pass());
        QVERIFY(fleet->pass());
        QVERIFY(fleet->settle());
        const auto own = fleet->events(EventKind::Hours, fleet->idOf(1));
        QCOMPARE(own.size(), 2u);
        QCOMPARE(own[0].value, std::optional<qint64>(1500));
        QCOMPARE(own[1].value, std::optional<qint64>(1510));
        QCOMPARE(own[1].value2, std::optional<qint64>(700));
        const auto pj = fleet->events(EventKind::Hours, fleet->idOf(4));
        QCOMPARE(pj.size(), 2u);
        QCOMPARE(pj[0].text, QStringLiteral("1200,850"));
        QCOMPARE(pj[0].value2, std::optional<qint64>(300));
        // Class 1 reports no filter.
        const auto classOne = fleet->events(EventKind::Hours, fleet->idOf(3));
        QCOMPARE(classOne.size(), 2u);
        QVERIFY(!classOne[0].value2);
    }

    // A week of polls: the two lamps of a PJLink projector each get the
    // forecast of their own hours; the own protocol's projector one lamp.
    void everyLampForecast() {
        QVERIFY(startFleet());
        AppState& s = fleet->state();
        s.Mail.LampAlarmTime = 2000;
        for (int day = 0; day < ForecastMinimumDays; ++day) {
            s.clock.set(QDateTime(QDate(2026, 12, 1 + day), QTime(9, 0)));
            fleet->control(QStringLiteral("lamp 1 %1").arg(1000 + 10 * day));
            fleet->control(
                QStringLiteral("pj 4 lamps %1 %2").arg(1000 + 10 * day).arg(800 + 20 * day));
            QVERIFY(fleet->pass());
            QVERIFY(fleet->pass());
        }
        QVERIFY(fleet->settle());
        const std::vector<Forecast>& lamps = s.Projectors[4].LampForecasts;
        QTRY_VERIFY_WITH_TIMEOUT(lamps.size() == 2 && lamps[1].state == Forecast::State::Due,
                                 FleetWait);
        QCOMPARE(lamps[0].hours, 1060);
        QCOMPARE(lamps[1].hours, 920);
        QVERIFY(qAbs(lamps[1].hoursPerDay - 20) < 0.1);
        QVERIFY(qAbs(lamps[0].hoursPerDay - 10) < 0.1);
        const std::vector<Forecast>& own = s.Projectors[1].LampForecasts;
        QCOMPARE(own.size(), 1u);
        QCOMPARE(own[0].state, Forecast::State::Due);
        QCOMPARE(own[0].hours, 1060);
    }

    // Deleting the first projector renumbers the others; their events keep
    // their ids, before and after.
    void idsSurviveADeletion() {
        QVERIFY(startFleet());
        AppState& s = fleet->state();
        const QString second = fleet->idOf(2);
        QVERIFY(fleet->pass());
        DeleteProjectorNode(s, NodeOfProjector(s, 1));
        ++s.ProjectorNumbering;
        fleet->core.engine().InitializeQueues();
        QCOMPARE(fleet->idOf(1), second);
        fleet->control(QStringLiteral("power 2 1"));
        QVERIFY(fleet->pass());
        QVERIFY(fleet->settle());
        const auto power = fleet->events(EventKind::Power, second);
        QCOMPARE(Texts(power), (QStringList{QStringLiteral("OFF"), QStringLiteral("ON")}));
        for (const HistoryEvent& e : power)
            QCOMPARE(e.projectorName, QStringLiteral("PJ2"));
    }
};

QTEST_GUILESS_MAIN(TestHistoryRecording)
#include "tst_history_recording.moc"
