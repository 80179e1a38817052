#include "support/ScheduleFixture.h"

#include "schedule/ScheduleRunner.h"

#include "pjlink/PJLinkCodec.h"

#include <QSignalSpy>

#include <cstdio>

// 15 March 2024 is a Friday, 16 March a Saturday.
class ScheduleRunnerTest : public QObject {
    Q_OBJECT
  private slots:
    void planChoosesFilePerNode();
    void projectorsAndGroupMembersAtTheirMinuteOnce();
    void inputEntriesMappedThroughModelCodes();
    void pjlinkInputsSelectedByName_data();
    void pjlinkInputsSelectedByName();
    void groupAndProjectorBothQueue();
    void midnightRebuildsPlan();
    void restartWithinMinuteDoesNotRepeat();
    void sameMinuteNextDayRunsAgain();
    void clockSetBackKeepsRunning();
    void treeChangeNeverSwitchesOldIndex();
    void brokenFilesNeverStop();
    void timerRunsWithSetClock();
    void oddNodeNamesRunTheirEntries();
    void filesReadOnceAndAgainWhenChanged_data();
    void filesReadOnceAndAgainWhenChanged();

  private:
    static void at(ScheduleFixture& f, int h, int m, int s, QDate day = QDate(2024, 3, 15)) {
        f.state->clock.set(QDateTime(day, QTime(h, m, s)));
    }
};

void ScheduleRunnerTest::planChoosesFilePerNode() {
    ScheduleFixture f;
    f.writeFile(QStringLiteral("default"), "[Hall]\n08:00=Power ON\n[Lobby]\n08:00=Power ON\n");
    f.writeFile(QStringLiteral("20240315"), "[Hall]\n09:00=Power ON\n[Lobby]\n");
    f.writeFile(QStringLiteral("Friday"), "[Solo]\n07:00=Input RGB\n[Lobby]\n");
    ScheduleRunner runner(*f.state);
    at(f, 10, 0, 0);
    runner.BuildTodayPlan();
    QCOMPARE(runner.SchedulePlanCount(), 3);
    const auto& plan = runner.SchedulePlan();
    QCOMPARE(plan[0].NodeIndex, qint16(f.hall));
    QCOMPARE(plan[0].FileKind, FileKindDate);
    QCOMPARE(plan[0].FileBase, QStringLiteral("20240315"));
    QCOMPARE(plan[1].KeyName, Node(*f.state, f.lobby).KeyName);
    QCOMPARE(plan[1].FileKind, FileKindDefault); // empty date and weekday sections
    QCOMPARE(plan[2].Section, QStringLiteral("Solo"));
    QCOMPARE(plan[2].FileKind, FileKindWeekday);
    QCOMPARE(plan[2].FileBase, QStringLiteral("Friday"));

    at(f, 10, 0, 0, QDate(2024, 3, 16));
    runner.BuildTodayPlan();
    QCOMPARE(runner.SchedulePlanCount(), 2);
    QCOMPARE(runner.SchedulePlan()[0].FileBase, QStringLiteral("default"));
}

void ScheduleRunnerTest::projectorsAndGroupMembersAtTheirMinuteOnce() {
    ScheduleFixture f;
    f.writeFile(QStringLiteral("default"), "[Hall]\n08:00=Power ON\n");
    f.writeFile(QStringLiteral("20240315"),
                "[Hall]\n09:00=Power ON\n[Solo]\n09:00=Power OFF\n09:01=Power ON\n");
    const CommandTable& table = BuildCommandTable();
    ScheduleRunner runner(*f.state);
    at(f, 8, 0, 10);
    runner.tick(); // builds the plan
    runner.tick();
    for (int p = 1; p <= f.state->ProjectorCount; ++p)
        QVERIFY(f.queued(p).isEmpty()); // the date file wins over the default

    at(f, 9, 0, 0);
    runner.tick();
    runner.tick();
    f.state->clock.advance(59'000);
    runner.tick();
    const int h1 = f.projectorOf(f.hall1), h2 = f.projectorOf(f.hall2);
    QCOMPARE(f.queued(h1), QList<QByteArray>{Frame(table.PowerOnCommand)});
    QCOMPARE(f.queued(h2), QList<QByteArray>{Frame(table.PowerOnCommand)});
    QCOMPARE(f.queued(f.projectorOf(f.solo)), QList<QByteArray>{Frame(table.PowerOffCommand)});
    QVERIFY(f.queued(f.projectorOf(f.stage)).isEmpty());

    f.state->clock.advance(1'000);
    runner.tick();
    QCOMPARE(f.queued(f.projectorOf(f.solo)),
             QList<QByteArray>({Frame(table.PowerOffCommand), Frame(table.PowerOnCommand)}));
    QCOMPARE(f.queued(h1).size(), 1);
}

void ScheduleRunnerTest::inputEntriesMappedThroughModelCodes() {
    ScheduleFixture f;
    f.writeFile(QStringLiteral("Friday"),
                "[Solo]\n07:00=Input RGB\n07:01=Input HDMI\n07:02=Input Video\n07:03=Input DVI\n"
                "07:04=Fly away\n[Hall]\n07:00=Input RGB\n");
    const CommandTable& table = BuildCommandTable();
    ScheduleRunner runner(*f.state);
    at(f, 6, 59, 0);
    runner.tick();
    const int solo = f.projectorOf(f.solo);
    QList<QByteArray> expected;
    for (int minute = 0; minute <= 4; ++minute) {
        at(f, 7, minute, 1);
        runner.tick();
        if (minute == 0)
            expected << Frame(table.InputSet0Command);
        if (minute == 1)
            expected << Frame(table.InputSet5Command); // "5;HDMI 'second input"
        QCOMPARE(f.queued(solo), expected); // code 7, unknown names and junk send nothing
    }
    QVERIFY(f.queued(f.projectorOf(f.hall1)).isEmpty()); // no inputs for a group

    f.state->Models[1].Name = QStringLiteral("Renamed");
    at(f, 7, 0, 0, QDate(2024, 3, 22));
    runner.tick();
    runner.tick();
    QCOMPARE(f.queued(solo).size(), 2); // the projector's model is unknown now
}

void ScheduleRunnerTest::pjlinkInputsSelectedByName_data() {
    QTest::addColumn<int>("pjClass");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QByteArray>("line"); // empty: nothing is queued
    QTest::newRow("class 1 by kind") << 1 << "Input DIGITAL 1" << QByteArray("%1INPT 31");
    QTest::newRow("class 1 rgb") << 1 << "Input RGB 1" << QByteArray("%1INPT 11");
    QTest::newRow("class 2 letter") << 2 << "Input DIGITAL A" << QByteArray("%2INPT 3A");
    QTest::newRow("class 2 by its name") << 2 << "Input Lobby PC" << QByteArray("%2INPT 3A");
    QTest::newRow("not among its inputs") << 1 << "Input VIDEO 2" << QByteArray();
    // The model's names belong to the own protocol's projectors.
    QTest::newRow("model name") << 1 << "Input HDMI" << QByteArray();
    QTest::newRow("name of another input") << 1 << "Input Lobby PC" << QByteArray();
}

// A PJLink projector's inputs are its own (INST), named as the window
// shows them; the chosen one is queued as its line and then asked back.
void ScheduleRunnerTest::pjlinkInputsSelectedByName() {
    QFETCH(int, pjClass);
    QFETCH(QString, entry);
    QFETCH(QByteArray, line);
    ScheduleFixture f;
    const int solo = f.projectorOf(f.solo);
    ProjectorInfo& info = f.state->Projectors[std::size_t(solo)];
    info.Protocol = ProtocolPJLink;
    info.PortNo = DefaultPJLinkPortNo;
    info.PJLink.Class = qint16(pjClass);
    info.PJLink.Inputs = pjClass == 2 ? QStringList{"11", "31", "3A"} : QStringList{"11", "31"};
    if (pjClass == 2) {
        info.PJLink.InputCode = QStringLiteral("3A");
        info.PJLink.InputName = QStringLiteral("Lobby PC");
    }
    f.writeFile(QStringLiteral("default"), "[Solo]\n07:00=" + entry.toUtf8() + "\n");
    ScheduleRunner runner(*f.state);
    at(f, 6, 59, 0);
    runner.tick();
    at(f, 7, 0, 1);
    runner.tick();
    const QList<QByteArray> queued = f.queued(solo);
    if (line.isEmpty()) {
        QVERIFY2(queued.isEmpty(), queued.join(' ').constData());
        return;
    }
    QCOMPARE(queued.size(), 2);
    QCOMPARE(queued[0], line);
    QVERIFY2(queued[1].endsWith("INPT ?"), queued[1].constData());
}

void ScheduleRunnerTest::groupAndProjectorBothQueue() {
    ScheduleFixture f;
    f.writeFile(QStringLiteral("default"), "[Hall]\n08:00=Power ON\n[Hall-1]\n08:00=Power ON\n");
    ScheduleRunner runner(*f.state);
    at(f, 8, 0, 40);
    runner.tick();
    runner.tick();
    QCOMPARE(f.queued(f.projectorOf(f.hall1)).size(), 2);
    QCOMPARE(f.queued(f.projectorOf(f.hall2)).size(), 1);
}

void ScheduleRunnerTest::midnightRebuildsPlan() {
    ScheduleFixture f;
    f.writeFile(QStringLiteral("20240315"), "[Lobby]\n00:00=Power ON\n");
    f.writeFile(QStringLiteral("default"), "[Hall]\n00:00=Power OFF\n");
    const CommandTable& table = BuildCommandTable();
    ScheduleRunner runner(*f.state);
    at(f, 23, 59, 50);
    runner.tick();
    runner.tick();
    QCOMPARE(runner.SchedulePlanCount(), 2);
    QCOMPARE(runner.SchedulePlan()[1].FileBase, QStringLiteral("20240315"));

    f.state->clock.set(QDateTime(QDate(2024, 3, 16), QTime(0, 0, 0, 50)));
    runner.tick();
    QCOMPARE(runner.SchedulePlanCount(), 1); // Lobby's date file is yesterday's now
    QVERIFY(f.queued(f.projectorOf(f.hall1)).isEmpty());
    runner.tick();
    QCOMPARE(f.queued(f.projectorOf(f.hall1)), QList<QByteArray>{Frame(table.PowerOffCommand)});
    QVERIFY(f.queued(f.projectorOf(f.stage)).isEmpty());
}

void ScheduleRunnerTest::restartWithinMinuteDoesNotRepeat() {
    ScheduleFixture f;
    f.writeFile(QStringLiteral("default"), "[Solo]\n08:00=Power ON\n08:01=Power OFF\n");
    ScheduleRunner runner(*f.state);
    QSignalSpy running(&runner, &ScheduleRunner::runningChanged);
    at(f, 8, 0, 40);
    runner.ScheduleStart();
    QVERIFY(runner.isRunning());
    runner.tick();
    runner.tick();
    runner.ScheduleStop();
    runner.ScheduleStart();
    f.state->clock.advance(5'000);
    runner.tick();
    QCOMPARE(f.queued(f.projectorOf(f.solo)).size(), 1);
    runner.ScheduleStop();
    QCOMPARE(running.size(), 4);
    QCOMPARE(running.last().first().toBool(), false);

    // A minute that passes while the operator has stopped the schedule is not
    // run later.
    at(f, 8, 2, 0);
    runner.ScheduleStart();
    runner.tick();
    QCOMPARE(f.queued(f.projectorOf(f.solo)).size(), 1);
    runner.ScheduleStop();
}

void ScheduleRunnerTest::sameMinuteNextDayRunsAgain() {
    ScheduleFixture f;
    f.writeFile(QStringLiteral("default"), "[Solo]\n08:00=Power ON\n");
    ScheduleRunner runner(*f.state);
    at(f, 8, 0, 5);
    runner.tick();
    runner.tick();
    QCOMPARE(f.queued(f.projectorOf(f.solo)).size(), 1);
    at(f, 8, 0, 5, QDate(2024, 3, 16));
    runner.tick();
    runner.tick();
    QCOMPARE(f.queued(f.projectorOf(f.solo)).size(), 2);
}

void ScheduleRunnerTest::clockSetBackKeepsRunning() {
    ScheduleFixture f;
    f.writeFile(QStringLiteral("default"),
                "[Solo]\n09:00=Power ON\n10:00=Power OFF\n10:01=Power ON\n");
    ScheduleRunner runner(*f.state);
    runner.ScheduleStart();
    at(f, 10, 0, 0);
    runner.tick();
    runner.tick();
    QCOMPARE(f.queued(f.projectorOf(f.solo)).size(), 1);
    f.state->clock.advance(-3600'000); // 09:00:00
    runner.tick();
    QCOMPARE(f.queued(f.projectorOf(f.solo)).size(), 2);
    at(f, 10, 1, 0);
    runner.tick();
    QCOMPARE(f.queued(f.projectorOf(f.solo)).size(), 3);
    QVERIFY(runner.isRunning());
    runner.ScheduleStop();
}

void ScheduleRunnerTest::treeChangeNeverSwitchesOldIndex() {
    ScheduleFixture f;
    f.writeFile(QStringLiteral("default"), "[Hall]\n08:00=Power ON\n[Solo]\n08:00=Power OFF\n");
    const CommandTable& table = BuildCommandTable();
    ScheduleRunner runner(*f.state);
    at(f, 7, 59, 0);
    runner.tick();
    runner.tick();
    DeleteGroupNode(*f.state, f.hall); // Solo moves down from node 7 to node 4, projector 4 to 2
    runner.BuildTodayPlan();
    at(f, 8, 0, 0);
    runner.tick();
    const int solo = NodeOfProjector(*f.state, 2);
    QCOMPARE(Node(*f.state, solo).Text, QStringLiteral("Solo"));
    QCOMPARE(f.queued(2), QList<QByteArray>{Frame(table.PowerOffCommand)});
    QVERIFY(f.queued(1).isEmpty());
    QVERIFY(f.queued(3).isEmpty());
    QCOMPARE(runner.SchedulePlanCount(), 1);
}

void ScheduleRunnerTest::brokenFilesNeverStop() {
    ScheduleFixture f;
    f.writeFile(QStringLiteral("default"),
                "\xff\xfe garbage\n[Solo\n[Solo]\r\n7:00=Power ON\r\nno equals here\r\n"
                "07:01=Power ON\r\n07:01=Power OFF\r\n=\r\n07:02\r\n");
    const CommandTable& table = BuildCommandTable();
    ScheduleRunner runner(*f.state);
    at(f, 6, 59, 59);
    runner.tick();
    QCOMPARE(runner.SchedulePlanCount(), 1);
    for (int minute = 0; minute <= 2; ++minute) {
        at(f, 7, minute, 0);
        runner.tick();
    }
    QCOMPARE(f.queued(f.projectorOf(f.solo)), QList<QByteArray>{Frame(table.PowerOnCommand)});

    QVERIFY(QDir(ScheduleFolder(*f.state)).removeRecursively());
    at(f, 8, 0, 0, QDate(2024, 3, 17));
    runner.tick();
    runner.tick();
    QCOMPARE(runner.SchedulePlanCount(), 0);
}

void ScheduleRunnerTest::timerRunsWithSetClock() {
    ScheduleFixture f;
    f.writeFile(QStringLiteral("default"), "[Lobby]\n08:00=Power ON\n");
    ScheduleRunner runner(*f.state);
    at(f, 8, 0, 30);
    runner.ScheduleStart();
    const int stage = f.projectorOf(f.stage);
    QTRY_COMPARE_WITH_TIMEOUT(f.queued(stage).size(), 1, 10'000);
    QTest::qWait(300); // further ticks of the same minute add nothing
    QCOMPARE(f.queued(stage).size(), 1);
    runner.ScheduleStop();
    QVERIFY(!runner.isRunning());
}

// Names the dialogs accept, with blanks at either end, brackets, "=", ";"
// and letters outside ASCII: set through the schedule file functions, then
// run at their minute.
void ScheduleRunnerTest::oddNodeNamesRunTheirEntries() {
    ScheduleFixture f;
    const int blankLobby = AddGroupNode(*f.state, QStringLiteral(" Lobby"), nullptr);
    const int inLobby = f.addProjector(blankLobby, QStringLiteral("Bühne [2]= "));
    const int odd = f.addProjector(1, QStringLiteral("  Ωmega;東京 ] "));
    const CommandTable& table = BuildCommandTable();
    const QString today = QStringLiteral("20240315");
    QVERIFY(WriteScheduleSection(*f.state, today, Node(*f.state, blankLobby).Text,
                                 {MakeScheduleEntry(QTime(8, 0), QStringLiteral("Power ON"))}));
    QVERIFY(WriteScheduleSection(*f.state, QStringLiteral("Friday"), Node(*f.state, odd).Text,
                                 {MakeScheduleEntry(QTime(8, 1), QStringLiteral("Input HDMI"))}));
    auto entries = ReadScheduleSection(*f.state, today, QStringLiteral(" Lobby"));
    entries.push_back(MakeScheduleEntry(QTime(8, 2), QStringLiteral("Power OFF")));
    QVERIFY(WriteScheduleSection(*f.state, today, QStringLiteral(" Lobby"), entries));
    QVERIFY(WriteScheduleSection(*f.state, today, Node(*f.state, inLobby).Text,
                                 {MakeScheduleEntry(QTime(8, 1), QStringLiteral("Input RGB"))}));

    ScheduleRunner runner(*f.state);
    at(f, 7, 59, 30);
    runner.tick();
    // Names that differ only in case or in the blanks around them share one
    // section, so the fixture's group "Lobby" follows " Lobby"'s entries too.
    QCOMPARE(runner.SchedulePlanCount(), 4);
    QCOMPARE(runner.SchedulePlan()[0].NodeIndex, qint16(f.lobby));
    QCOMPARE(runner.SchedulePlan()[1].NodeIndex, qint16(blankLobby));
    QCOMPARE(runner.SchedulePlan()[1].Section, QStringLiteral(" Lobby"));
    QCOMPARE(runner.SchedulePlan()[2].NodeIndex, qint16(inLobby));
    QCOMPARE(runner.SchedulePlan()[3].NodeIndex, qint16(odd));
    QCOMPARE(runner.SchedulePlan()[3].FileKind, FileKindWeekday);
    const int stage = f.projectorOf(inLobby);
    const int omega = f.projectorOf(odd);
    for (int minute = 0; minute <= 2; ++minute) {
        at(f, 8, minute, 0);
        runner.tick();
    }
    QCOMPARE(f.queued(stage),
             QList<QByteArray>({Frame(table.PowerOnCommand), Frame(table.InputSet0Command),
                                Frame(table.PowerOffCommand)}));
    QCOMPARE(f.queued(omega), QList<QByteArray>{Frame(table.InputSet5Command)});
    QCOMPARE(f.queued(f.projectorOf(f.stage)),
             QList<QByteArray>({Frame(table.PowerOnCommand), Frame(table.PowerOffCommand)}));
}

// How a schedule file may change between two minutes.
enum class FileChange { TimeOnly, SizeOnly, Replaced, OwnSave, NewSection };
Q_DECLARE_METATYPE(FileChange)

void ScheduleRunnerTest::filesReadOnceAndAgainWhenChanged_data() {
    QTest::addColumn<FileChange>("change");
    QTest::newRow("edited in place, same size") << FileChange::TimeOnly;
    QTest::newRow("edited in place, time kept") << FileChange::SizeOnly;
    QTest::newRow("replaced by an editor") << FileChange::Replaced;
    QTest::newRow("our own save") << FileChange::OwnSave;
    QTest::newRow("section added for a node") << FileChange::NewSection;
}

void ScheduleRunnerTest::filesReadOnceAndAgainWhenChanged() {
    QFETCH(FileChange, change);
    ScheduleFixture f;
    const CommandTable& table = BuildCommandTable();
    const QString base = QStringLiteral("default");
    const QByteArray before = "[Solo]\n10:00=Power ON\n10:30=Power OFF\n[Hall]\n10:00=Power ON\n";
    f.writeFile(base, before);
    ScheduleRunner runner(*f.state);
    at(f, 9, 59, 0);
    runner.tick(); // builds the plan
    const int solo = f.projectorOf(f.solo), stage = f.projectorOf(f.stage);

    // Minute after minute over an unchanged file: not read again.
    const int parsed = runner.scheduleFiles().parseCount();
    QVERIFY(parsed >= 1);
    for (int m = 0; m < 5; ++m) {
        at(f, 10, m, 0);
        runner.tick();
    }
    QCOMPARE(runner.scheduleFiles().parseCount(), parsed);
    QCOMPARE(f.queued(solo), QList<QByteArray>{Frame(table.PowerOnCommand)});
    f.clearQueues();

    // The 10:30 entry moves to 10:06; the text keeps its length.
    QByteArray after = before;
    after.replace("10:30=Power OFF", "10:06=Power OFF");
    QFile file(f.path(base));
    const QDateTime written = QFileInfo(file).lastModified();
    const auto editInPlace = [&](const QByteArray& text, const QDateTime& time) {
        QVERIFY(file.open(QIODevice::ReadWrite | QIODevice::Truncate));
        QCOMPARE(file.write(text), text.size());
        file.close();
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(time, QFileDevice::FileModificationTime));
        file.close();
    };
    int stageCommands = 0;
    switch (change) {
    case FileChange::TimeOnly:
        editInPlace(after, written.addSecs(7));
        break;
    case FileChange::SizeOnly:
        editInPlace(after + "\n", written);
        break;
    case FileChange::Replaced: {
        // Written beside and renamed over, keeping size and time: only the
        // file itself is another.
        const QString beside = f.path(base) + QStringLiteral(".new");
        QFile next(beside);
        QVERIFY(next.open(QIODevice::WriteOnly));
        next.write(after);
        QVERIFY(next.setFileTime(written, QFileDevice::FileModificationTime));
        next.close();
        QVERIFY(::rename(QFile::encodeName(beside).constData(),
                         QFile::encodeName(f.path(base)).constData()) == 0);
        break;
    }
    case FileChange::OwnSave:
        QVERIFY(
            WriteScheduleSection(*f.state, base, QStringLiteral("Solo"),
                                 {MakeScheduleEntry(QTime(10, 0), QStringLiteral("Power ON")),
                                  MakeScheduleEntry(QTime(10, 6), QStringLiteral("Power OFF"))}));
        runner.BuildTodayPlan(); // as every save of a section does
        break;
    case FileChange::NewSection:
        after += "[Lobby]\n10:06=Power OFF\n";
        editInPlace(after, written.addSecs(7));
        stageCommands = 1;
        break;
    }
    at(f, 10, 5, 30);
    runner.tick();
    at(f, 10, 6, 0);
    runner.tick();
    QCOMPARE(f.queued(solo), QList<QByteArray>{Frame(table.PowerOffCommand)});
    QCOMPARE(f.queued(stage).size(), stageCommands);
    // Read once more for the change, then left alone again.
    const int reread = runner.scheduleFiles().parseCount();
    QVERIFY(reread > parsed);
    for (int m = 7; m < 10; ++m) {
        at(f, 10, m, 0);
        runner.tick();
    }
    QCOMPARE(runner.scheduleFiles().parseCount(), reread);
}

QTEST_GUILESS_MAIN(ScheduleRunnerTest)
#include "tst_schedule_runner.moc"
