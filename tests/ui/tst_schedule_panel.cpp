#include "support/ScheduleFixture.h"

#include "schedule/DayMarks.h"
#include "schedule/ScheduleRunner.h"
#include "ui/MessageService.h"
#include "ui/ScheduleCalendar.h"
#include "ui/SchedulePanel.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimeEdit>
#include <QTreeWidget>

namespace {

// The panel with its runner and message service, on 15 March 2024 (a Friday)
// unless another start date is given.
struct PanelRig {
    ScheduleFixture f;
    MessageService messages;
    std::unique_ptr<ScheduleRunner> runner;
    std::unique_ptr<SchedulePanel> panel;

    explicit PanelRig(QDate start = QDate(2024, 3, 15),
                      const QString& timeFormat = QStringLiteral("HH:mm"),
                      const QString& locale = QStringLiteral("en_GB")) {
        messages.setTestMode(true);
        f.state->clock.set(QDateTime(start, QTime(10, 0)));
        f.state->StartDate = start;
        f.state->CalendarMonth = QDate(start.year(), start.month(), 1);
        f.state->ShortTimeFormat = timeFormat;
        f.state->LocaleId = locale;
        runner = std::make_unique<ScheduleRunner>(*f.state);
        panel = std::make_unique<SchedulePanel>(*f.state, *runner, messages);
    }

    template <typename T> T* child(const char* name) const {
        T* widget = panel->findChild<T*>(QString::fromLatin1(name));
        if (!widget)
            qFatal("no widget %s", name);
        return widget;
    }
    QTableWidget* grid() const { return child<QTableWidget>("grdScheduleCalendar"); }
    QTreeWidget* list() const { return child<QTreeWidget>("lstSchedule"); }
    QComboBox* commands() const { return child<QComboBox>("cmbScheduleControl"); }
    QPushButton* setButton() const { return child<QPushButton>("cmdScheduleSet"); }
    QPushButton* deleteButton() const { return child<QPushButton>("cmdScheduleDelete"); }

    void select(int c1, int c2, int r1, int r2) const {
        grid()->clearSelection();
        grid()->setRangeSelected(QTableWidgetSelectionRange(r1, c1, r2, c2), true);
    }
    void selectDate(const QDate& date) const {
        const QPoint cell = DateCell(f.state->CalendarMonth, date);
        select(cell.x(), cell.x(), cell.y(), cell.y());
    }
    void set(int h, int m, const QString& command) const {
        child<QTimeEdit>("dtpScheduleTime")->setTime(QTime(h, m));
        commands()->setCurrentText(command);
        QVERIFY(commands()->currentText() == command);
        setButton()->click();
    }
    QStringList rows() const {
        QStringList out;
        for (int i = 0; i < list()->topLevelItemCount(); ++i)
            out << list()->topLevelItem(i)->text(0) + QLatin1Char(' ') +
                       list()->topLevelItem(i)->text(1);
        return out;
    }
};

QStringList Items(const QComboBox* box) {
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    return items;
}

} // namespace

class SchedulePanelTest : public QObject {
    Q_OBJECT
  private slots:
    void commandSelectorPerNode();
    void defaultWeekdayAndDateChoice();
    void entriesKeptSortedAndSameTimeRefused();
    void deleteSelectedRows();
    void buttonRules();
    void decemberJanuaryNavigation();
    void editorKeepsGarbageAndLongSections();
    void saveFailureIsReported();
    void twelveHourLocale();
    void nameWithBlanksKeepsOneSection();
    void typedTimeFillsFromTheHour_data();
    void typedTimeFillsFromTheHour();
};

void SchedulePanelTest::commandSelectorPerNode() {
    PanelRig rig;
    rig.panel->showNode(rig.f.hall);
    QCOMPARE(Items(rig.commands()), QStringList({"Power OFF", "Power ON"}));
    QCOMPARE(rig.commands()->currentIndex(), 0);
    rig.panel->showNode(rig.f.solo);
    QCOMPARE(Items(rig.commands()),
             QStringList({"Power OFF", "Power ON", "Input RGB", "Input HDMI", "Input Video"}));
    QCOMPARE(rig.commands()->currentIndex(), 0);
    QVERIFY(rig.setButton()->isEnabled());
    rig.panel->showNode(1); // the root
    QCOMPARE(rig.commands()->count(), 0);
    QVERIFY(!rig.setButton()->isEnabled());
    QVERIFY(!rig.deleteButton()->isEnabled());
}

void SchedulePanelTest::defaultWeekdayAndDateChoice() {
    PanelRig rig;
    ScheduleCalendar* calendar = rig.panel->calendar();
    QCOMPARE(calendar->selection(), (CalendarSelection{6, 6, 3, 3})); // today, 15 March
    QCOMPARE(calendar->SelectedDate(), QDate(2024, 3, 15));
    rig.panel->showNode(rig.f.hall);
    rig.set(9, 0, QStringLiteral("Power ON"));
    QCOMPARE(rig.f.stored(QStringLiteral("20240315"), QStringLiteral("Hall")),
             QStringList{"09:00=Power ON"});
    QCOMPARE(rig.runner->SchedulePlanCount(), 1); // saving rebuilt today's plan

    rig.select(0, 0, 0, 0);
    QVERIFY(rig.rows().isEmpty());
    rig.set(8, 0, QStringLiteral("Power OFF"));
    QCOMPARE(rig.f.stored(QStringLiteral("default"), QStringLiteral("Hall")),
             QStringList{"08:00=Power OFF"});
    QVERIFY(calendar->cellMarks(0, 0) & MarkDefault);

    rig.select(2, 2, 0, 0);
    rig.set(7, 0, QStringLiteral("Power ON"));
    QCOMPARE(rig.f.stored(QStringLiteral("Monday"), QStringLiteral("Hall")),
             QStringList{"07:00=Power ON"});
    rig.select(2, 2, 1, 6); // the whole Monday column
    QCOMPARE(rig.rows(), QStringList{"07:00 Power ON"});
    QVERIFY(calendar->cellMarks(2, 4) & MarkWeekday);
    QVERIFY(!(calendar->cellMarks(3, 4) & MarkWeekday));

    rig.select(1, 7, 1, 6); // the whole block means "Def"
    QCOMPARE(calendar->selection(), (CalendarSelection{0, 0, 0, 0}));
    QCOMPARE(rig.rows(), QStringList{"08:00 Power OFF"});

    rig.panel->showNode(rig.f.lobby); // the selection stays, the list follows the node
    QCOMPARE(calendar->selection(), (CalendarSelection{0, 0, 0, 0}));
    QVERIFY(rig.rows().isEmpty());
    QVERIFY(!(calendar->cellMarks(0, 0) & MarkDefault));

    rig.selectDate(QDate(2024, 3, 20));
    QCOMPARE(calendar->SelectedDate(), QDate(2024, 3, 20));
    rig.set(6, 30, QStringLiteral("Power ON"));
    QCOMPARE(rig.f.stored(QStringLiteral("20240320"), QStringLiteral("Lobby")),
             QStringList{"06:30=Power ON"});
    const QPoint twentieth = DateCell(QDate(2024, 3, 1), QDate(2024, 3, 20));
    QVERIFY(calendar->cellMarks(twentieth.x(), twentieth.y()) & MarkDate);
}

void SchedulePanelTest::entriesKeptSortedAndSameTimeRefused() {
    PanelRig rig;
    rig.panel->showNode(rig.f.stage);
    rig.set(18, 0, QStringLiteral("Power OFF"));
    rig.set(7, 30, QStringLiteral("Power ON"));
    rig.set(12, 0, QStringLiteral("Input HDMI"));
    QCOMPARE(rig.rows(), QStringList({"07:30 Power ON", "12:00 Input HDMI", "18:00 Power OFF"}));
    QCOMPARE(rig.list()->selectedItems().size(), 1);
    QCOMPARE(rig.list()->selectedItems().first()->text(0), QStringLiteral("12:00"));
    QCOMPARE(rig.f.stored(QStringLiteral("20240315"), QStringLiteral("Bühne")),
             QStringList({"07:30=Power ON", "12:00=Input HDMI", "18:00=Power OFF"}));

    rig.set(12, 0, QStringLiteral("Power ON"));
    QCOMPARE(rig.messages.shown().size(), 1);
    QCOMPARE(rig.messages.shown().first().kind, MessageKind::Information);
    QCOMPARE(rig.messages.lastText(), QStringLiteral("There is a command of the same time."));
    QCOMPARE(rig.rows().size(), 3);
    QCOMPARE(rig.f.stored(QStringLiteral("20240315"), QStringLiteral("Bühne")).size(), 3);
}

void SchedulePanelTest::deleteSelectedRows() {
    PanelRig rig;
    rig.f.writeFile(QStringLiteral("20240315"),
                    "[Hall]\n07:00=Power ON\n08:00=Power OFF\n09:00=Power ON\n");
    rig.f.writeFile(QStringLiteral("Friday"), "[Hall]\n06:00=Power ON\n");
    rig.panel->showNode(rig.f.hall);
    QCOMPARE(rig.rows().size(), 3);
    QVERIFY(!rig.deleteButton()->isEnabled()); // no row selected yet
    rig.list()->topLevelItem(0)->setSelected(true);
    rig.list()->topLevelItem(2)->setSelected(true);
    QVERIFY(rig.deleteButton()->isEnabled());
    rig.deleteButton()->click();
    QCOMPARE(rig.rows(), QStringList{"08:00 Power OFF"});
    QCOMPARE(rig.f.stored(QStringLiteral("20240315"), QStringLiteral("Hall")),
             QStringList{"08:00=Power OFF"});

    rig.list()->topLevelItem(0)->setSelected(true);
    rig.deleteButton()->click();
    QVERIFY(rig.rows().isEmpty());
    QVERIFY(!rig.deleteButton()->isEnabled());
    QVERIFY(rig.f.readFile(QStringLiteral("20240315")).contains("[Hall]")); // the header stays
    QCOMPARE(rig.runner->SchedulePlan().front().FileKind, FileKindWeekday);
}

void SchedulePanelTest::buttonRules() {
    PanelRig rig;
    rig.f.writeFile(QStringLiteral("20240314"), "[Hall]\n07:00=Power ON\n");
    rig.panel->showNode(rig.f.hall);
    QVERIFY(rig.setButton()->isEnabled());

    rig.selectDate(QDate(2024, 3, 14)); // before the start date: shown, not editable
    QCOMPARE(rig.rows(), QStringList{"07:00 Power ON"});
    rig.list()->topLevelItem(0)->setSelected(true);
    QVERIFY(!rig.setButton()->isEnabled());
    QVERIFY(!rig.deleteButton()->isEnabled());

    rig.select(1, 1, 1, 1); // 25 February, outside the shown month
    QVERIFY(!rig.setButton()->isEnabled());
    rig.select(0, 0, 2, 2); // a week label: no selection
    QCOMPARE(rig.panel->calendar()->selectionKind(), SelectionNone);
    QVERIFY(rig.rows().isEmpty());
    QVERIFY(!rig.setButton()->isEnabled());

    rig.selectDate(QDate(2024, 3, 29));
    QVERIFY(rig.setButton()->isEnabled());
    rig.set(9, 0, QStringLiteral("Power ON"));
    QVERIFY(rig.deleteButton()->isEnabled()); // the new row is selected

    rig.runner->ScheduleStart();
    QVERIFY(!rig.setButton()->isEnabled());
    QVERIFY(!rig.deleteButton()->isEnabled());
    rig.select(0, 0, 0, 0);
    QVERIFY(!rig.setButton()->isEnabled());
    rig.selectDate(QDate(2024, 3, 29));
    rig.list()->topLevelItem(0)->setSelected(true);
    QVERIFY(!rig.deleteButton()->isEnabled());
    rig.panel->AddScheduleEntry(); // refused while running
    QCOMPARE(rig.rows().size(), 1);

    rig.runner->ScheduleStop();
    QVERIFY(rig.setButton()->isEnabled());
    QVERIFY(rig.deleteButton()->isEnabled());
    rig.list()->clearSelection();
    QVERIFY(!rig.deleteButton()->isEnabled());
}

void SchedulePanelTest::decemberJanuaryNavigation() {
    PanelRig rig(QDate(2024, 12, 10)); // December 2024 starts on a Sunday
    auto* year = rig.child<QLabel>("lblScheduleYear");
    auto* month = rig.child<QLabel>("lblScheduleMonth");
    ScheduleCalendar* calendar = rig.panel->calendar();
    QCOMPARE(year->text(), QStringLiteral("2024"));
    QCOMPARE(month->text(), QStringLiteral("December"));
    QCOMPARE(rig.grid()->item(1, 1)->text(), QStringLiteral("1"));
    QCOMPARE(rig.grid()->item(0, 0)->text(), QStringLiteral("Def"));
    QCOMPARE(rig.grid()->item(0, 7)->text(), QStringLiteral("Sat"));
    QCOMPARE(rig.grid()->item(6, 0)->text(), QStringLiteral("6"));
    rig.f.writeFile(QStringLiteral("20250101"), "[Hall]\n00:05=Power OFF\n");
    rig.panel->showNode(rig.f.hall);

    rig.child<QPushButton>("cmdScheduleNextMonth")->click();
    QCOMPARE(year->text(), QStringLiteral("2025"));
    QCOMPARE(month->text(), QStringLiteral("January"));
    QCOMPARE(rig.f.state->CalendarMonth, QDate(2025, 1, 1));
    QCOMPARE(calendar->SelectedDate(), QDate(2025, 1, 1));
    QCOMPARE(calendar->selection(), (CalendarSelection{4, 4, 1, 1})); // a Wednesday
    QCOMPARE(rig.rows(), QStringList{"00:05 Power OFF"});
    QVERIFY(calendar->cellMarks(4, 1) & MarkDate);
    QVERIFY(calendar->cellMarks(1, 1) & MarkInactive); // 29 December, not this month

    rig.child<QPushButton>("cmdSchedulePrevMonth")->click();
    QCOMPARE(year->text(), QStringLiteral("2024"));
    QCOMPARE(month->text(), QStringLiteral("December"));
    QCOMPARE(calendar->SelectedDate(), QDate(2024, 12, 10)); // the start date again
    QCOMPARE(calendar->selection(), (CalendarSelection{3, 3, 2, 2}));
    QVERIFY(calendar->cellMarks(2, 2) & MarkInactive); // 9 December, before the start
    QVERIFY(rig.rows().isEmpty());
}

void SchedulePanelTest::editorKeepsGarbageAndLongSections() {
    PanelRig rig;
    QByteArray file = "[Hall]\r\n07:00=Power ON\r\n7:5=Power OFF\r\nscribble\r\n08:00=Power ON\r\n"
                      "08:00=Power OFF\r\n";
    for (int minute = 0; minute < 400; ++minute)
        file += QTime(10, 0).addSecs(minute * 60).toString(QStringLiteral("HH:mm")).toLatin1() +
                "=Power ON\r\n";
    rig.f.writeFile(QStringLiteral("default"), file);
    rig.panel->showNode(rig.f.hall);
    rig.select(0, 0, 0, 0);
    QCOMPARE(rig.rows().size(), 405);
    QCOMPARE(rig.rows().at(1), QStringLiteral("7:5 Power OFF"));
    QCOMPARE(rig.rows().at(2), QStringLiteral("scribble "));

    rig.set(9, 0, QStringLiteral("Power OFF"));
    QCOMPARE(rig.rows().at(5), QStringLiteral("09:00 Power OFF"));
    QStringList stored = rig.f.stored(QStringLiteral("default"), QStringLiteral("Hall"));
    QCOMPARE(stored.size(), 406);
    QCOMPARE(stored.mid(0, 6),
             QStringList({"07:00=Power ON", "7:5=Power OFF", "scribble", "08:00=Power ON",
                          "08:00=Power OFF", "09:00=Power OFF"}));
    QCOMPARE(stored.last(), QStringLiteral("16:39=Power ON"));

    rig.list()->clearSelection();
    rig.list()->topLevelItem(1)->setSelected(true); // the operator deletes the damaged entry
    rig.deleteButton()->click();
    stored = rig.f.stored(QStringLiteral("default"), QStringLiteral("Hall"));
    QCOMPARE(stored.size(), 405);
    QVERIFY(!stored.contains(QStringLiteral("7:5=Power OFF")));
    QVERIFY(stored.contains(QStringLiteral("scribble")));
    QVERIFY(stored.contains(QStringLiteral("09:00=Power OFF")));
}

void SchedulePanelTest::saveFailureIsReported() {
    PanelRig rig;
    QVERIFY(QDir().mkpath(rig.f.path(QStringLiteral("default")))); // the file's name is a folder
    rig.panel->showNode(rig.f.hall);
    rig.select(0, 0, 0, 0);
    rig.set(8, 0, QStringLiteral("Power ON"));
    QCOMPARE(rig.messages.shown().size(), 1);
    QCOMPARE(rig.messages.shown().first().kind, MessageKind::Warning);
    QVERIFY(rig.messages.lastText().contains(rig.f.path(QStringLiteral("default"))));
    QVERIFY(rig.rows().isEmpty()); // the list shows what is stored
    // The reason is told, and the program's health says a save is failing.
    QVERIFY(rig.messages.lastText().contains(QStringLiteral("\n")));
    const HealthReport& health = rig.f.state->Health;
    QVERIFY(health.isActive(HealthCondition::SaveFailing));

    QVERIFY(QDir(ScheduleFolder(*rig.f.state)).removeRecursively()); // a missing folder is made
    rig.set(8, 0, QStringLiteral("Power ON"));
    QCOMPARE(rig.f.stored(QStringLiteral("default"), QStringLiteral("Hall")),
             QStringList{"08:00=Power ON"});
    QVERIFY(!health.isActive(HealthCondition::SaveFailing));
}

void SchedulePanelTest::twelveHourLocale() {
    PanelRig rig(QDate(2024, 3, 15), QStringLiteral("h:mm AP"), QStringLiteral("en_US"));
    rig.panel->showNode(rig.f.hall);
    rig.set(21, 0, QStringLiteral("Power ON"));
    rig.set(9, 0, QStringLiteral("Power OFF"));
    QCOMPARE(rig.rows(), QStringList({"9:00 AM Power OFF", "9:00 PM Power ON"}));
    QCOMPARE(rig.f.stored(QStringLiteral("20240315"), QStringLiteral("Hall")),
             QStringList({"09:00=Power OFF", "21:00=Power ON"}));
}

// A group the dialog accepted as " Hall B " (blanks at both ends): the list
// comes back after a reload, a second "Set" of the same time is refused, and
// the file holds one section for it.
void SchedulePanelTest::nameWithBlanksKeepsOneSection() {
    PanelRig rig;
    const int group = AddGroupNode(*rig.f.state, QStringLiteral(" Hall B "), nullptr);
    QVERIFY(group > 0);
    rig.panel->showNode(group);
    rig.set(8, 0, QStringLiteral("Power ON"));
    rig.panel->showNode(rig.f.hall);
    QVERIFY(rig.rows().isEmpty());
    rig.panel->showNode(group);
    QCOMPARE(rig.rows(), QStringList{"08:00 Power ON"});
    rig.set(9, 0, QStringLiteral("Power OFF"));
    rig.panel->showNode(rig.f.solo);
    rig.panel->showNode(group);
    QCOMPARE(rig.rows(), QStringList({"08:00 Power ON", "09:00 Power OFF"}));
    rig.set(8, 0, QStringLiteral("Power OFF"));
    QCOMPARE(rig.messages.lastText(), QStringLiteral("There is a command of the same time."));
    QCOMPARE(rig.rows().size(), 2);
    QCOMPARE(rig.f.readFile(QStringLiteral("20240315")),
             QByteArray("[Hall B]\n08:00=Power ON\n09:00=Power OFF\n"));
    QCOMPARE(rig.runner->SchedulePlanCount(), 1);
    QCOMPARE(rig.runner->SchedulePlan().front().NodeIndex, qint16(group));
}

// A time typed over the whole field's text goes in hour first, whatever the
// time format.
void SchedulePanelTest::typedTimeFillsFromTheHour_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QTime>("time");
    QTest::newRow("24 hours") << "HH:mm"
                              << "05:05" << QTime(5, 5);
    QTest::newRow("24 hours, late") << "HH:mm"
                                    << "23:59" << QTime(23, 59);
    QTest::newRow("one-digit hour") << "H:mm"
                                    << "5:05" << QTime(5, 5);
    QTest::newRow("12 hours") << "h:mm AP"
                              << "05:05" << QTime(5, 5);
}

void SchedulePanelTest::typedTimeFillsFromTheHour() {
    QFETCH(QString, format);
    QFETCH(QString, typed);
    QFETCH(QTime, time);
    PanelRig rig(QDate(2024, 3, 15), format);
    rig.panel->show();
    auto* edit = rig.child<QTimeEdit>("dtpScheduleTime");
    edit->setFocus();
    for (int round = 0; round < 2; ++round) {
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(edit, typed);
        QCOMPARE(edit->time(), time);
    }
}

QTEST_MAIN(SchedulePanelTest)
#include "tst_schedule_panel.moc"
