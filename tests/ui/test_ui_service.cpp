// The lamp and filter forecasts in the window: the "Lamp due" and "Filter
// due" columns and labels, their order, and the service report with its
// choice of 30, 60 or 90 days and its CSV.

#include "UiFixture.h"

#include "core/CsvText.h"
#include "ui/Panels.h"
#include "ui/ServiceReport.h"

#include <QTreeWidget>

namespace {

const QDateTime Now(QDate(2026, 3, 10), QTime(9, 0));

Forecast Due(int days, Forecast::State state = Forecast::State::Due) {
    Forecast forecast;
    forecast.state = state;
    forecast.hours = 1000 + days;
    forecast.hoursPerDay = 7.25;
    forecast.dueMs = Now.addDays(days).addSecs(3600).toMSecsSinceEpoch();
    return forecast;
}

QStringList Column(const QTreeWidget* list, int column) {
    QStringList texts;
    for (int r = 0; r < list->topLevelItemCount(); ++r)
        texts << list->topLevelItem(r)->text(column);
    return texts;
}

} // namespace

class TestUiService : public QObject {
    Q_OBJECT

    std::unique_ptr<UiFixture> f;
    int m_group = 0;
    std::array<int, 5> m_nodes{};

    ProjectorInfo& projector(int i) {
        return f->state.Projectors[ProjectorOfNode(f->state, m_nodes[std::size_t(i)])];
    }

  private slots:
    void init() {
        f = std::make_unique<UiFixture>();
        f->state.clock.set(Now);
        m_group = f->addGroupDirect("Floor");
        for (int i = 0; i < 5; ++i)
            m_nodes[std::size_t(i)] =
                f->addLanDirect(m_group, QStringLiteral("P%1").arg(i + 1), "127.0.0.1", "1");
        f->quietEngine();
    }

    void cleanup() { f.reset(); }

    void dueTextsInEveryView_data() {
        QTest::addColumn<Forecast>("lamp");
        QTest::addColumn<QString>("text");
        QTest::newRow("no data") << Forecast() << "-";
        QTest::newRow("not burning") << Due(0, Forecast::State::NotBurning) << "-";
        QTest::newRow("tomorrow") << Due(1) << "in 1 day";
        QTest::newRow("in 23 days") << Due(23) << "in 23 days";
        QTest::newRow("overdue") << Due(-2, Forecast::State::Overdue) << "overdue";
    }

    void dueTextsInEveryView() {
        QFETCH(Forecast, lamp);
        QFETCH(QString, text);
        // Shown for the lamps: lamp 2's, the soonest.
        projector(0).LampForecasts = {Forecast(), lamp};
        projector(0).FilterForecast = Due(40);
        const auto check = [&](QTreeWidget* list) {
            QVERIFY(list && list->isVisible());
            QCOMPARE(list->headerItem()->text(ColumnLampDue), QString("Lamp due"));
            QCOMPARE(list->headerItem()->text(ColumnFilterDue), QString("Filter due"));
            const int row = int(Column(list, ColumnName).indexOf("P1"));
            QVERIFY(row >= 0);
            QCOMPARE(list->topLevelItem(row)->text(ColumnLampDue), text);
            QCOMPARE(list->topLevelItem(row)->text(ColumnFilterDue), QString("in 40 days"));
        };
        f->selectTab(MainForm::TabStatus);
        f->form->selectNode(1);
        f->form->rebuildView();
        check(f->child<QTreeWidget>("ListViewFleet"));
        f->form->selectNode(m_group);
        check(f->child<QTreeWidget>("ListView1"));
        f->form->selectNode(m_nodes[0]);
        QCOMPARE(f->shownLabel("lblLampDue")->text(), text);
        QCOMPARE(f->shownLabel("lblFilterDue")->text(), QString("in 40 days"));
    }

    // Sorted by the lamp's forecast, the overdue come first and those
    // without a date last, whatever their texts.
    void overviewSortsByDueDate() {
        projector(0).LampForecasts = {};
        projector(1).LampForecasts = {Due(50)};
        projector(2).LampForecasts = {Due(-5, Forecast::State::Overdue)};
        projector(3).LampForecasts = {Due(5)};
        projector(4).LampForecasts = {Due(0, Forecast::State::NotBurning)};
        f->selectTab(MainForm::TabStatus);
        f->form->selectNode(1);
        f->form->rebuildView();
        auto* list = f->child<QTreeWidget>("ListViewFleet");
        list->sortByColumn(ColumnLampDue, Qt::AscendingOrder);
        QCOMPARE(Column(list, ColumnName), (QStringList{"P3", "P4", "P2", "P5", "P1"}));
        list->sortByColumn(ColumnLampDue, Qt::DescendingOrder);
        QCOMPARE(Column(list, ColumnName), (QStringList{"P1", "P5", "P2", "P4", "P3"}));
    }

    void serviceReportChoosesTheHorizon_data() {
        QTest::addColumn<int>("horizon");
        QTest::addColumn<QStringList>("due"); // "<projector> <part>", soonest first
        const QStringList within30 = {"P1 Lamp", "P2 Lamp", "P5 Filter"};
        QTest::newRow("30 days") << 0 << within30;
        QTest::newRow("60 days") << 1 << within30 + QStringList{"P2 Filter"};
        QTest::newRow("90 days") << 2 << within30 + QStringList{"P2 Filter", "P3 Lamp"};
    }

    void serviceReportChoosesTheHorizon() {
        QFETCH(int, horizon);
        QFETCH(QStringList, due);
        projector(0).LampForecasts = {Due(-3, Forecast::State::Overdue)};
        // Two lamps: one row, the sooner lamp 2's.
        projector(1).LampForecasts = {Due(80), Due(10)};
        projector(1).FilterForecast = Due(45);
        projector(2).LampForecasts = {Due(80)};
        projector(2).FilterForecast = Due(120);
        projector(3).FilterForecast = Due(0, Forecast::State::NotBurning);
        projector(4).FilterForecast = Due(30);
        f->action("menuServiceReport")->trigger();
        auto* report = f->openDialog<ServiceReportDialog>();
        QVERIFY(report);
        f->form->findChild<QComboBox*>("cmbServiceHorizon")->setCurrentIndex(horizon);
        QStringList shown;
        for (const ServiceItem& item : report->items())
            shown << item.projectorName + " " + item.part;
        QCOMPARE(shown, due);
        QCOMPARE(Column(report->findChild<QTreeWidget*>("listServiceReport"), 1).size(),
                 due.size());

        const QString file = f->home.path() + "/service.csv";
        QVERIFY(report->saveTo(file));
        QFile csv(file);
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const CsvText text = ReadCsv(csv.readAll());
        QVERIFY(text.problems.isEmpty());
        QCOMPARE(text.records.size(), due.size() + 1);
        QCOMPARE(text.records[0].fields, (QStringList{"Group", "Projector", "Part", "Hours",
                                                      "Hours per day", "Due date", "Due"}));
        QCOMPARE(text.records[1].fields,
                 (QStringList{"Floor", "P1", "Lamp", "997", "7.3", "2026-03-07", "overdue"}));
        QCOMPARE(text.records[3].fields,
                 (QStringList{"Floor", "P5", "Filter", "1030", "7.3", "2026-04-09", "in 30 days"}));
        report->close();
    }

    void serviceReportSaysWhenItCannotSave() {
        f->action("menuServiceReport")->trigger();
        auto* report = f->openDialog<ServiceReportDialog>();
        QVERIFY(report);
        const QString file = f->home.path() + "/missing/service.csv";
        QVERIFY(!report->saveTo(file));
        QVERIFY(f->messages.lastText().contains(file));
        QVERIFY(!QFile::exists(file));
        report->close();
    }
};

QTEST_MAIN(TestUiService)
#include "test_ui_service.moc"
