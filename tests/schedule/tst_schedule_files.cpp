#include "support/ScheduleFixture.h"

#include "schedule/CalendarGeometry.h"
#include "schedule/DayMarks.h"

class ScheduleFilesTest : public QObject {
    Q_OBJECT
  private slots:
    void monthStartingOnSunday();
    void monthStartingOnSaturday();
    void selectionKinds();
    void fileNamesOfCells();
    void entriesParsedStrictly();
    void insertPositionKeepsTimeOrder();
    void garbageAndDuplicatesSurviveSave();
    void longSectionKeptWhole();
    void crLfAndNonAsciiSections();
    void everyAcceptedNameFindsItsSection_data();
    void everyAcceptedNameFindsItsSection();
    void sectionsOfEarlierVersionsStillRead();
    void missingFolderCreatedOnWrite();
    void unwritableFolderReportsFailure();
    void dayMarks();
};

void ScheduleFilesTest::monthStartingOnSunday() {
    const QDate september(2024, 9, 1); // a Sunday
    QCOMPARE(WeekdayNumber(september), 1);
    QCOMPARE(DateCell(september, QDate(2024, 9, 7)), QPoint(7, 1));
    QCOMPARE(DateCell(september, QDate(2024, 9, 8)), QPoint(1, 2));
    QCOMPARE(DateCell(september, QDate(2024, 9, 30)), QPoint(2, 5));
    QCOMPARE(CellDate(september, 1, 1), september);
    QCOMPARE(CellDate(september, 7, 6), QDate(2024, 10, 12));
    QCOMPARE(DateCell(september, QDate(2024, 10, 1)), QPoint(-1, -1));
    QVERIFY(!CellDate(september, 0, 3).isValid());
    QVERIFY(!CellDate(september, 3, 0).isValid());
}

void ScheduleFilesTest::monthStartingOnSaturday() {
    const QDate june(2024, 6, 1); // a Saturday
    QCOMPARE(DateCell(june, QDate(2024, 6, 1)), QPoint(7, 1));
    QCOMPARE(DateCell(june, QDate(2024, 6, 7)), QPoint(6, 2));
    QCOMPARE(DateCell(june, QDate(2024, 6, 30)), QPoint(1, 6));
    QCOMPARE(CellDate(june, 1, 1), QDate(2024, 5, 26));
    for (int day = 1; day <= 30; ++day) {
        const QPoint cell = DateCell(june, QDate(2024, 6, day));
        QCOMPARE(CellDate(june, cell.x(), cell.y()), QDate(2024, 6, day));
    }
}

void ScheduleFilesTest::selectionKinds() {
    QCOMPARE(ClassifySelection({0, 0, 0, 0}), SelectionDefault);
    QCOMPARE(ClassifySelection({1, 7, 1, 6}), SelectionDefault);
    QCOMPARE(ClassifySelection({2, 2, 0, 0}), SelectionWeekday);
    QCOMPARE(ClassifySelection({2, 2, 1, 6}), SelectionWeekday);
    QCOMPARE(ClassifySelection({2, 2, 0, 6}), SelectionWeekday);
    QCOMPARE(ClassifySelection({4, 4, 3, 3}), SelectionDay);
    QCOMPARE(ClassifySelection({0, 0, 3, 3}), SelectionNone); // a week label
    QCOMPARE(ClassifySelection({2, 3, 2, 2}), SelectionNone);
    QCOMPARE(ClassifySelection({2, 2, 1, 5}), SelectionNone);
    QCOMPARE(ClassifySelection({1, 3, 0, 0}), SelectionNone); // several weekdays
    QCOMPARE(ClassifySelection({-1, -1, -1, -1}), SelectionNone);
    QCOMPARE(ClassifySelection({8, 8, 1, 1}), SelectionNone);
}

void ScheduleFilesTest::fileNamesOfCells() {
    const QDate march(2024, 3, 1); // a Friday
    QCOMPARE(ScheduleFileName(march, 0, 0), QStringLiteral("default"));
    QCOMPARE(ScheduleFileName(march, 1, 0), QStringLiteral("Sunday"));
    QCOMPARE(ScheduleFileName(march, 7, 0), QStringLiteral("Saturday"));
    QCOMPARE(ScheduleFileName(march, 6, 3), QStringLiteral("20240315"));
    QCOMPARE(ScheduleFileName(march, 1, 1), QStringLiteral("20240225"));
    QCOMPARE(ScheduleFileName(march, 8, 1), QString());
    QCOMPARE(ScheduleFileName(march, 0, 2), QString());
    QCOMPARE(ScheduleFileName(march, CalendarSelection{2, 2, 1, 6}), QStringLiteral("Monday"));
    QCOMPARE(ScheduleFileName(march, CalendarSelection{1, 7, 1, 6}), QStringLiteral("default"));
    QCOMPARE(ScheduleFileName(march, CalendarSelection{1, 2, 1, 1}), QString());
}

void ScheduleFilesTest::entriesParsedStrictly() {
    const ScheduleEntry good = ParseScheduleEntry(QStringLiteral("07:05=Input Bob's = 2"));
    QVERIFY(good.isValid());
    QCOMPARE(good.time, QTime(7, 5));
    QCOMPARE(good.command, QStringLiteral("Input Bob's = 2"));
    for (const char* bad : {"7:05=Power ON", "24:00=Power ON", "07:60=Power ON", "0705=Power ON",
                            "07:05:00=Power ON", "xx:yy=Power ON", "Power ON", "=Power ON"}) {
        const ScheduleEntry entry = ParseScheduleEntry(QString::fromLatin1(bad));
        QVERIFY2(!entry.isValid(), bad);
        QCOMPARE(entry.line(), QString::fromLatin1(bad));
    }
    QCOMPARE(MakeScheduleEntry(QTime(21, 30, 45), QStringLiteral("Power OFF")).line(),
             QStringLiteral("21:30=Power OFF"));
}

void ScheduleFilesTest::insertPositionKeepsTimeOrder() {
    std::vector<ScheduleEntry> entries;
    for (const QTime t : {QTime(18, 0), QTime(7, 30), QTime(12, 0)}) {
        const int at = ScheduleInsertPosition(entries, t);
        QVERIFY(at >= 0);
        entries.insert(entries.begin() + at, MakeScheduleEntry(t, QStringLiteral("Power ON")));
    }
    QCOMPARE(entries[0].time, QTime(7, 30));
    QCOMPARE(entries[1].time, QTime(12, 0));
    QCOMPARE(entries[2].time, QTime(18, 0));
    QCOMPARE(ScheduleInsertPosition(entries, QTime(12, 0, 30)), -1);
    // Garbage rows neither block nor reorder the rest.
    entries.insert(entries.begin() + 1, ParseScheduleEntry(QStringLiteral("junk=23:59")));
    QCOMPARE(ScheduleInsertPosition(entries, QTime(8, 0)), 2);
    QCOMPARE(ScheduleInsertPosition(entries, QTime(23, 0)), 4);
}

void ScheduleFilesTest::garbageAndDuplicatesSurviveSave() {
    ScheduleFixture f;
    f.writeFile(QStringLiteral("default"),
                "[Other]\nkeep=me\n[Hall]\n07:00=Power ON\n7:5=Power OFF\nnote without equals\n"
                "08:00=Power ON\n08:00=Power OFF\n09:00=Launch rockets\n[Tail]\n10:00=Power ON\n");
    const auto entries =
        ReadScheduleSection(*f.state, QStringLiteral("default"), QStringLiteral("hall"));
    QCOMPARE(entries.size(), std::size_t(6));
    QVERIFY(!entries[1].isValid());
    QVERIFY(!entries[2].isValid());
    QCOMPARE(entries[2].key, QStringLiteral("note without equals"));

    std::vector<ScheduleEntry> edited = entries;
    edited.erase(edited.begin()); // the operator deletes 07:00
    edited.push_back(MakeScheduleEntry(QTime(22, 0), QStringLiteral("Power OFF")));
    QVERIFY(
        WriteScheduleSection(*f.state, QStringLiteral("default"), QStringLiteral("Hall"), edited));
    QCOMPARE(f.stored(QStringLiteral("default"), QStringLiteral("Hall")),
             QStringList({"7:5=Power OFF", "note without equals", "08:00=Power ON",
                          "08:00=Power OFF", "09:00=Launch rockets", "22:00=Power OFF"}));
    QCOMPARE(f.stored(QStringLiteral("default"), QStringLiteral("Other")), QStringList{"keep=me"});
    QCOMPARE(f.stored(QStringLiteral("default"), QStringLiteral("Tail")),
             QStringList{"10:00=Power ON"});
    // The first of two entries of one time is the one that runs.
    QCOMPARE(
        ScheduleCommandAt(*f.state, QStringLiteral("default"), QStringLiteral("Hall"), QTime(8, 0)),
        QStringLiteral("Power ON"));
    QCOMPARE(
        ScheduleCommandAt(*f.state, QStringLiteral("default"), QStringLiteral("Hall"), QTime(7, 5)),
        QString());
}

void ScheduleFilesTest::longSectionKeptWhole() {
    ScheduleFixture f;
    std::vector<ScheduleEntry> entries;
    for (int minute = 0; minute < 600; ++minute)
        entries.push_back(MakeScheduleEntry(QTime(minute / 60, minute % 60),
                                            minute % 2 ? QStringLiteral("Power ON")
                                                       : QStringLiteral("Input HDMI")));
    QVERIFY(
        WriteScheduleSection(*f.state, QStringLiteral("Monday"), QStringLiteral("Hall"), entries));
    QVERIFY(WriteScheduleSection(*f.state, QStringLiteral("Monday"), QStringLiteral("Lobby"),
                                 {MakeScheduleEntry(QTime(6, 0), QStringLiteral("Power ON"))}));
    auto read = ReadScheduleSection(*f.state, QStringLiteral("Monday"), QStringLiteral("Hall"));
    QCOMPARE(read.size(), std::size_t(600));
    QCOMPARE(read.back().line(), QStringLiteral("09:59=Power ON"));
    read.push_back(MakeScheduleEntry(QTime(23, 59), QStringLiteral("Power OFF")));
    QVERIFY(WriteScheduleSection(*f.state, QStringLiteral("Monday"), QStringLiteral("Hall"), read));
    QCOMPARE(ReadScheduleSection(*f.state, QStringLiteral("Monday"), QStringLiteral("Hall")).size(),
             std::size_t(601));
    QCOMPARE(f.stored(QStringLiteral("Monday"), QStringLiteral("Lobby")),
             QStringList{"06:00=Power ON"});
    QCOMPARE(
        ScheduleCommandAt(*f.state, QStringLiteral("Monday"), QStringLiteral("Hall"), QTime(9, 58)),
        QStringLiteral("Input HDMI"));
}

void ScheduleFilesTest::crLfAndNonAsciiSections() {
    ScheduleFixture f;
    f.writeFile(
        QStringLiteral("20240315"),
        QStringLiteral("[Bühne]\r\n 08:00 = Power ON \r\n\r\n09:00=Power OFF\r\n[Empty]\r\n")
            .toUtf8());
    QCOMPARE(f.stored(QStringLiteral("20240315"), QStringLiteral("Bühne")),
             QStringList({"08:00=Power ON", "09:00=Power OFF"}));
    QVERIFY(!HasScheduleSection(*f.state, QStringLiteral("20240315"), QStringLiteral("Empty")));
    QVERIFY(!HasScheduleSection(*f.state, QStringLiteral("20240315"), QStringLiteral("Missing")));
    QVERIFY(!HasScheduleSection(*f.state, QStringLiteral("19990101"), QStringLiteral("Bühne")));
    QVERIFY(WriteScheduleSection(*f.state, QStringLiteral("20240315"), QStringLiteral("Empty"),
                                 {MakeScheduleEntry(QTime(1, 2), QStringLiteral("Power ON"))}));
    QCOMPARE(f.stored(QStringLiteral("20240315"), QStringLiteral("Bühne")),
             QStringList({"08:00=Power ON", "09:00=Power OFF"}));
    QCOMPARE(f.stored(QStringLiteral("20240315"), QStringLiteral("Empty")),
             QStringList{"01:02=Power ON"});
}

void ScheduleFilesTest::everyAcceptedNameFindsItsSection_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("leading blank") << QStringLiteral(" Lobby");
    QTest::newRow("trailing blanks") << QStringLiteral("Lobby  ");
    QTest::newRow("blanks around and inside") << QStringLiteral("  Hall  A  ");
    QTest::newRow("no-break space") << QStringLiteral("\u00a0Foyer\u00a0");
    QTest::newRow("brackets") << QStringLiteral("[Hall] ");
    QTest::newRow("opening bracket") << QStringLiteral(" [");
    QTest::newRow("closing bracket") << QStringLiteral("]");
    QTest::newRow("equals") << QStringLiteral("a=b ");
    QTest::newRow("semicolon") << QStringLiteral(" x;y");
    QTest::newRow("apostrophe") << QStringLiteral("Bob's room");
    QTest::newRow("umlauts") << QStringLiteral(" Bühne ÄÖÜ ");
    QTest::newRow("greek") << QStringLiteral("Αίθουσα Ω");
    QTest::newRow("japanese") << QStringLiteral(" 東京 ホール");
}

// A section written for a node name is read back for the same name, and a
// second write replaces it instead of adding another section.
void ScheduleFilesTest::everyAcceptedNameFindsItsSection() {
    QFETCH(QString, name);
    ScheduleFixture f;
    const QString base = QStringLiteral("default");
    QVERIFY(WriteScheduleSection(*f.state, base, QStringLiteral("Hall"),
                                 {MakeScheduleEntry(QTime(6, 0), QStringLiteral("Power ON"))}));
    const std::vector<ScheduleEntry> first = {
        MakeScheduleEntry(QTime(8, 0), QStringLiteral("Power ON"))};
    QVERIFY(WriteScheduleSection(*f.state, base, name, first));
    QCOMPARE(f.stored(base, name), QStringList{"08:00=Power ON"});
    QVERIFY(HasScheduleSection(*f.state, base, name));

    std::vector<ScheduleEntry> second = ReadScheduleSection(*f.state, base, name);
    second.push_back(MakeScheduleEntry(QTime(9, 15), QStringLiteral("Power OFF")));
    QVERIFY(WriteScheduleSection(*f.state, base, name, second));
    QCOMPARE(f.stored(base, name), QStringList({"08:00=Power ON", "09:15=Power OFF"}));
    QCOMPARE(ScheduleCommandAt(*f.state, base, name, QTime(9, 15)), QStringLiteral("Power OFF"));
    QCOMPARE(ScheduleCommandAt(*f.state, base, name.toUpper(), QTime(8, 0)),
             QStringLiteral("Power ON"));

    const QByteArray file = f.readFile(base);
    QCOMPARE(file.count("\n["), 1); // Hall's section and one for the name, no more
    QCOMPARE(f.stored(base, QStringLiteral("Hall")), QStringList{"06:00=Power ON"});
}

void ScheduleFilesTest::sectionsOfEarlierVersionsStillRead() {
    ScheduleFixture f;
    // Headers with the blanks as earlier versions wrote them, and a hand-made
    // one with blanks on both sides.
    f.writeFile(QStringLiteral("Monday"),
                "[ Lobby]\r\n08:00=Power ON\r\n[Hall ]\r\n09:00=Power ON\r\n[ Solo ]\r\n"
                "10:00=Power OFF\r\n[ Lobby]\r\n11:00=Power OFF\r\n");
    QCOMPARE(f.stored(QStringLiteral("Monday"), QStringLiteral(" Lobby")),
             QStringList{"08:00=Power ON"}); // the first of two wins
    QCOMPARE(f.stored(QStringLiteral("Monday"), QStringLiteral("Hall ")),
             QStringList{"09:00=Power ON"});
    QCOMPARE(f.stored(QStringLiteral("Monday"), QStringLiteral("Solo")),
             QStringList{"10:00=Power OFF"});
    QVERIFY(WriteScheduleSection(*f.state, QStringLiteral("Monday"), QStringLiteral(" Lobby"),
                                 {MakeScheduleEntry(QTime(7, 0), QStringLiteral("Power ON"))}));
    QCOMPARE(f.stored(QStringLiteral("Monday"), QStringLiteral(" Lobby")),
             QStringList{"07:00=Power ON"});
    QVERIFY(f.readFile(QStringLiteral("Monday")).startsWith("[ Lobby]\n07:00=Power ON\n[Hall ]"));
    QVERIFY(!HasScheduleSection(*f.state, QStringLiteral("Monday"), QStringLiteral("  ")));
}

void ScheduleFilesTest::missingFolderCreatedOnWrite() {
    ScheduleFixture f;
    QVERIFY(QDir(ScheduleFolder(*f.state)).removeRecursively());
    QVERIFY(
        ReadScheduleSection(*f.state, QStringLiteral("default"), QStringLiteral("Hall")).empty());
    QVERIFY(WriteScheduleSection(*f.state, QStringLiteral("default"), QStringLiteral("Hall"),
                                 {MakeScheduleEntry(QTime(8, 0), QStringLiteral("Power ON"))}));
    QCOMPARE(f.stored(QStringLiteral("default"), QStringLiteral("Hall")),
             QStringList{"08:00=Power ON"});
}

void ScheduleFilesTest::unwritableFolderReportsFailure() {
    ScheduleFixture f;
    // A folder that cannot take the file, whatever the rights of the user:
    // the file's name is taken by a folder.
    QVERIFY(QDir().mkpath(f.path(QStringLiteral("default"))));
    QVERIFY(!WriteScheduleSection(*f.state, QStringLiteral("default"), QStringLiteral("Hall"),
                                  {MakeScheduleEntry(QTime(8, 0), QStringLiteral("Power ON"))}));
    QVERIFY(
        ReadScheduleSection(*f.state, QStringLiteral("default"), QStringLiteral("Hall")).empty());

    // The schedule folder's name is taken by a plain file.
    QVERIFY(QDir(ScheduleFolder(*f.state)).removeRecursively());
    QFile blocker(ScheduleFolder(*f.state));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QVERIFY(!WriteScheduleSection(*f.state, QStringLiteral("Monday"), QStringLiteral("Hall"),
                                  {MakeScheduleEntry(QTime(8, 0), QStringLiteral("Power ON"))}));
    QVERIFY(!HasScheduleSection(*f.state, QStringLiteral("Monday"), QStringLiteral("Hall")));
}

void ScheduleFilesTest::dayMarks() {
    ScheduleFixture f;
    f.writeFile(QStringLiteral("default"), "[Hall]\n08:00=Power ON\n");
    f.writeFile(QStringLiteral("Monday"), "[Hall]\n09:00=Power ON\n[Lobby]\n");
    f.writeFile(QStringLiteral("20240320"), "[hall]\n10:00=Power ON\n");
    f.writeFile(QStringLiteral("20240401"), "[Hall]\n10:00=Power ON\n"); // shown in March's grid
    const QDate march(2024, 3, 1);
    const DayMarks marks =
        ComputeDayMarks(*f.state, march, QDate(2024, 3, 15), QStringLiteral("Hall"));
    const auto at = [&](int c, int r) { return marks[std::size_t(MarkIndex(c, r))]; };
    QCOMPARE(at(0, 0), MarkDefault);
    QCOMPARE(at(2, 0), qint16(0));
    const QPoint twentieth = DateCell(march, QDate(2024, 3, 20));
    QCOMPARE(at(twentieth.x(), twentieth.y()), qint16(MarkDefault | MarkDate));
    const QPoint monday = DateCell(march, QDate(2024, 3, 18));
    QCOMPARE(at(monday.x(), monday.y()), qint16(MarkDefault | MarkWeekday));
    const QPoint fourteenth = DateCell(march, QDate(2024, 3, 14));
    QCOMPARE(at(fourteenth.x(), fourteenth.y()), qint16(MarkDefault | MarkInactive));
    QCOMPARE(at(2, 6),
             qint16(MarkDefault | MarkWeekday | MarkInactive)); // 1 April: not shown month
    QCOMPARE(at(1, 1), qint16(MarkDefault | MarkInactive));     // 25 February

    const DayMarks lobby =
        ComputeDayMarks(*f.state, march, QDate(2024, 3, 15), QStringLiteral("Lobby"));
    QCOMPARE(lobby[std::size_t(MarkIndex(monday.x(), monday.y()))], qint16(0));
    QCOMPARE(lobby[std::size_t(MarkIndex(fourteenth.x(), fourteenth.y()))], MarkInactive);
}

QTEST_GUILESS_MAIN(ScheduleFilesTest)
#include "tst_schedule_files.moc"
