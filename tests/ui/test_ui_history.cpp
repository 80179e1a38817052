// The History tab on a file of a million events: the first page, paging
// by the cursor, the filters and the tree's selection narrowing it, the
// rows a writer commits coming in, the export and the hours chart, all
// read off the window's thread.

#include "HistoryRows.h"
#include "UiFixture.h"

#include "history/EventCsv.h"
#include "history/HistoryWriter.h"
#include "ui/HistoryChart.h"
#include "ui/HistoryModel.h"
#include "ui/HistoryPanel.h"

#include <QApplication>
#include <QChart>
#include <QCheckBox>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLineSeries>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyle>
#include <QTableView>
#include <QThread>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <set>

using namespace std::chrono_literals;

using Wanted = std::function<bool(qint64 n)>;
Q_DECLARE_METATYPE(Wanted)

class TestUiHistory : public QObject {
    Q_OBJECT

    std::unique_ptr<UiFixture> f;
    std::unique_ptr<HistoryRows> rows;
    int m_group = 0;
    int m_r001 = 0;
    int m_r002 = 0;

    HistoryPanel* panel() const { return f->form->historyPanel(); }
    HistoryModel* model() const { return panel()->model(); }
    QString path() const { return f->home.path() + "/History.sqlite"; }

    void showHistoryOf(int node) {
        f->form->selectNode(node);
        f->selectTab(MainForm::TabHistory);
        QTRY_VERIFY_WITH_TIMEOUT(!model()->isReading(), 30000);
    }

    void resetFilters() {
        f->child<QLineEdit>("txtTreeSearch")->clear();
        f->child<QComboBox>("cmbHistoryKind")->setCurrentIndex(0);
        f->child<QCheckBox>("chkHistoryFrom")->setChecked(false);
        f->child<QCheckBox>("chkHistoryTo")->setChecked(false);
        QTRY_VERIFY(model()->filter().text.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!model()->isReading(), 30000);
    }

    // The newest `limit` events the predicate keeps, newest first.
    std::vector<qint64> newest(const Wanted& wanted, std::size_t limit) const {
        std::vector<qint64> ids;
        for (qint64 n = rows->count; n >= 1 && ids.size() < limit; --n)
            if (wanted(n))
                ids.push_back(n);
        return ids;
    }

    std::vector<qint64> shownIds() const {
        std::vector<qint64> ids;
        for (int r = 0; r < model()->rowCount(); ++r)
            ids.push_back(model()->event(r).id);
        return ids;
    }

    // The first page and up to `pages - 1` more hold exactly the newest
    // events the filter must find, in order, never more than the pages
    // fetched; a shorter list has reached the end.
    void checkPages(const Wanted& wanted, int pages) {
        QCOMPARE(model()->pagesFetched(), 1);
        QCOMPARE(model()->rowCount(),
                 std::min<int>(HistoryModel::PageSize,
                               int(newest(wanted, HistoryModel::PageSize).size())));
        for (int p = 1; p < pages && model()->canFetchMore({}); ++p) {
            model()->fetchMore({});
            QTRY_VERIFY_WITH_TIMEOUT(!model()->isReading(), 30000);
            QVERIFY(model()->rowCount() <= model()->pagesFetched() * HistoryModel::PageSize);
        }
        const std::vector<qint64> expected =
            newest(wanted, std::size_t(pages * HistoryModel::PageSize));
        QCOMPARE(shownIds(), expected);
        if (expected.size() < std::size_t(pages * HistoryModel::PageSize))
            QVERIFY(!model()->canFetchMore({}));
    }

    // Group and Kind as wide as what they show, Text to the viewport's edge.
    void checkColumns() const {
        QTableView* table = panel()->table();
        QApplication::processEvents();
        const QHeaderView* header = table->horizontalHeader();
        for (int c : {int(HistoryModel::ColumnGroup), int(HistoryModel::ColumnKind)}) {
            int widest = 0;
            for (int r = 0; r < model()->rowCount(); ++r)
                widest = std::max(widest, table->fontMetrics().horizontalAdvance(
                                              model()->index(r, c).data().toString()));
            // The view's text margin on either side.
            const int margins =
                2 * (table->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, table) + 1);
            QVERIFY2(widest > 0 && header->sectionSize(c) >= widest + margins,
                     qPrintable(QString("column %1: %2 for %3")
                                    .arg(c)
                                    .arg(header->sectionSize(c))
                                    .arg(widest)));
        }
        int right = 0;
        for (int c = 0; c < HistoryModel::ColumnCount; ++c)
            right = std::max(right, header->sectionViewportPosition(c) + header->sectionSize(c));
        QCOMPARE(right, table->viewport()->width());
        QVERIFY(header->sectionSize(HistoryModel::ColumnText) > header->minimumSectionSize());
    }

  private slots:
    void initTestCase() {
        f = std::make_unique<UiFixture>();
        m_group = f->addGroupDirect("Floor 1");
        m_r001 = f->addLanDirect(m_group, "R001", "127.0.0.1", "1");
        m_r002 = f->addLanDirect(m_group, "R002", "127.0.0.1", "1");
        f->quietEngine();
        const auto idOf = [this](int node) {
            return f->state.Projectors[ProjectorOfNode(f->state, node)].ProjectorId;
        };
        rows =
            std::make_unique<HistoryRows>(1'000'000, QDateTime::currentMSecsSinceEpoch() - 60'000,
                                          QStringList{idOf(m_r001), idOf(m_r002)});
        QElapsedTimer built;
        built.start();
        QCOMPARE(rows->build(path()), QString());
        qInfo("1,000,000 events written in %lld ms", built.elapsed());
    }

    void cleanupTestCase() { f.reset(); }

    void firstPageThenPagesByScrolling() {
        resetFilters();
        showHistoryOf(1);
        QVERIFY(panel()->isStoreOpen());
        QCOMPARE(model()->event(0).id, rows->count);
        QCOMPARE(model()->index(0, HistoryModel::ColumnProjector).data().toString(),
                 HistoryRows::nameOf(HistoryRows::projectorOf(rows->count)));
        checkColumns();
        checkPages([](qint64) { return true; }, 5);
        // Scrolled to the end, the view asks for the next page itself.
        QTableView* table = panel()->table();
        table->scrollToBottom();
        QTRY_COMPARE(model()->rowCount(), 6 * HistoryModel::PageSize);
        QCOMPARE(shownIds(), newest([](qint64) { return true; }, 6 * HistoryModel::PageSize));
        model()->reload();
    }

    void filtersNarrowTheEvents_data() {
        QTest::addColumn<int>("kindChoice");
        QTest::addColumn<QString>("search");
        QTest::addColumn<QString>("node"); // "root", "group", "R001"
        QTest::addColumn<int>("daysBack"); // a one-day range that many days ago; -1 none
        QTest::addColumn<Wanted>("wanted");
        const auto kind = [](EventKind k) {
            return [k](qint64 n) { return HistoryRows::kindOf(n) == k; };
        };
        QTest::newRow("commands") << int(HistoryKindChoice::Commands) << ""
                                  << "root" << -1 << Wanted(kind(EventKind::Command));
        QTest::newRow("state changes")
            << int(HistoryKindChoice::StateChanges) << ""
            << "root" << -1 << Wanted([](qint64 n) {
                   const EventKind k = HistoryRows::kindOf(n);
                   return k != EventKind::Command && k != EventKind::MailSent &&
                          k != EventKind::ScheduleAction && k != EventKind::Hours;
               });
        QTest::newRow("mails") << int(HistoryKindChoice::Mails) << ""
                               << "root" << -1 << Wanted(kind(EventKind::MailSent));
        QTest::newRow("search by name")
            << 0 << "R017"
            << "root" << -1 << Wanted([](qint64 n) { return HistoryRows::projectorOf(n) == 16; });
        QTest::newRow("search in text, commands")
            << int(HistoryKindChoice::Commands) << "power off"
            << "root" << -1 << Wanted([](qint64 n) {
                   return HistoryRows::kindOf(n) == EventKind::Command && n % 4 == 0;
               });
        QTest::newRow("a projector")
            << 0 << ""
            << "R001" << -1 << Wanted([](qint64 n) { return HistoryRows::projectorOf(n) == 0; });
        QTest::newRow("a group") << 0 << ""
                                 << "group" << -1 << Wanted([](qint64 n) {
                                        return HistoryRows::projectorOf(n) < 2;
                                    });
        QTest::newRow("a projector's errors")
            << int(HistoryKindChoice::StateChanges) << "lamp error"
            << "R001" << -1 << Wanted([](qint64 n) {
                   return HistoryRows::projectorOf(n) == 0 &&
                          HistoryRows::kindOf(n) == EventKind::Error;
               });
        QTest::newRow("one day") << 0 << ""
                                 << "root" << 10 << Wanted();
    }

    void filtersNarrowTheEvents() {
        QFETCH(int, kindChoice);
        QFETCH(QString, search);
        QFETCH(QString, node);
        QFETCH(int, daysBack);
        QFETCH(Wanted, wanted);
        resetFilters();
        showHistoryOf(node == "root" ? 1 : node == "group" ? m_group : m_r001);
        f->child<QComboBox>("cmbHistoryKind")->setCurrentIndex(kindChoice);
        f->child<QLineEdit>("txtTreeSearch")->setText(search);
        QTRY_COMPARE(model()->filter().text, search);
        if (daysBack >= 0) {
            const QDate day =
                QDateTime::fromMSecsSinceEpoch(rows->newestMs).date().addDays(-daysBack);
            f->child<QDateEdit>("dateHistoryFrom")->setDate(day);
            f->child<QDateEdit>("dateHistoryTo")->setDate(day);
            f->child<QCheckBox>("chkHistoryFrom")->setChecked(true);
            f->child<QCheckBox>("chkHistoryTo")->setChecked(true);
            const qint64 from = day.startOfDay().toMSecsSinceEpoch();
            const qint64 to = day.addDays(1).startOfDay().toMSecsSinceEpoch();
            wanted = [this, from, to](qint64 n) {
                return rows->timeOf(n) >= from && rows->timeOf(n) < to;
            };
        }
        QTRY_VERIFY_WITH_TIMEOUT(!model()->isReading(), 30000);
        checkPages(wanted, 3);
        resetFilters();
    }

    // A search that finds nothing reads the whole file, off the window's
    // thread: the window's timers keep firing until the answer comes, and a
    // filter changed meanwhile shows only its own rows.
    void readsLeaveTheWindowTurning() {
        resetFilters();
        showHistoryOf(1);
        int ticks = 0;
        QTimer tick;
        tick.setInterval(1ms);
        connect(&tick, &QTimer::timeout, this, [&] { ++ticks; });
        tick.start();
        auto* search = f->child<QLineEdit>("txtTreeSearch");
        search->setText("no such text");
        QTRY_COMPARE(model()->filter().text, QString("no such text"));
        QVERIFY(model()->isReading());
        QCOMPARE(f->child<QLabel>("lblHistoryNote")->text(), QString("Reading the history..."));
        const int before = ticks;
        QTRY_VERIFY_WITH_TIMEOUT(ticks > before + 5, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(!model()->isReading(), 60000);
        QCOMPARE(model()->rowCount(), 0);
        QVERIFY(model()->problem().isEmpty());

        search->setText("no such text either");
        QTRY_COMPARE(model()->filter().text, QString("no such text either"));
        QVERIFY(model()->isReading());
        f->child<QComboBox>("cmbHistoryKind")->setCurrentIndex(int(HistoryKindChoice::Commands));
        search->setText("power off");
        QTRY_COMPARE(model()->filter().text, QString("power off"));
        QTRY_VERIFY_WITH_TIMEOUT(!model()->isReading(), 30000);
        checkPages(
            [](qint64 n) { return HistoryRows::kindOf(n) == EventKind::Command && n % 4 == 0; }, 2);
        resetFilters();
    }

    // The chart of a projector draws its daily hours and the hours at
    // which the lamp and the filter are due; a group has none.
    void projectorChartsItsHours() {
        resetFilters();
        f->state.Mail.LampAlarmTime = 1500;
        f->state.Mail.FilterAlarmTime = 900;
        showHistoryOf(m_r002);
        HistoryChart* chart = panel()->chart();
        QVERIFY(chart->isVisible());
        const std::vector<qint64> hours = newest(
            [](qint64 n) {
                return HistoryRows::projectorOf(n) == 1 &&
                       HistoryRows::kindOf(n) == EventKind::Hours;
            },
            std::size_t(rows->count));
        // Read off the window's thread, the hours come a moment later.
        using Line = HistoryChart::Line;
        QTRY_COMPARE_WITH_TIMEOUT(chart->readings(Line::Lamp).size(), qsizetype(hours.size()),
                                  30000);
        QCOMPARE(chart->chart()->title(), QString("Lamp and filter hours"));
        QCOMPARE(chart->readings(Line::Filter).size(), qsizetype(hours.size()));
        // Readings every few hours make one line each, too many for points.
        QCOMPARE(chart->runCount(Line::Lamp), 1);
        QCOMPARE(chart->pointCount(Line::Lamp), 0);
        const QPointF last = chart->readings(Line::Lamp).last();
        QCOMPARE(qint64(last.x()), rows->timeOf(hours.front()));
        QCOMPARE(qint64(last.y()), hours.front() / 1000);
        QCOMPARE(qint64(chart->readings(Line::Filter).first().y()), hours.back() / 2000);
        for (const QPointF& point : chart->lampThresholdSeries()->points())
            QCOMPARE(point.y(), 1500.0);
        for (const QPointF& point : chart->filterThresholdSeries()->points())
            QCOMPARE(point.y(), 900.0);
        showHistoryOf(m_group);
        QVERIFY(!chart->isVisible());
    }

    // Readings on the days given (days ago, -1 none) and the due hours:
    // how many pieces each line makes, how many readings are points, and
    // what the legend names.
    void chartDrawsWhatWasRead_data() {
        QTest::addColumn<QList<int>>("daysAgo");
        QTest::addColumn<QList<int>>("due"); // lamp, filter
        QTest::addColumn<int>("runs");
        QTest::addColumn<int>("points");
        QTest::addColumn<QStringList>("legend");
        const QStringList both = {"Lamp hours", "Filter hours"};
        QTest::newRow("one reading")
            << QList<int>{0} << QList<int>{1500, 900} << 1 << 1
            << both + QStringList{"Lamp due at 1500 h", "Filter due at 900 h"};
        QTest::newRow("a week, few")
            << QList<int>{6, 5, 4, 3, 2, 1, 0} << QList<int>{1500, 900} << 1 << 7
            << both + QStringList{"Lamp due at 1500 h", "Filter due at 900 h"};
        QTest::newRow("months apart")
            << QList<int>{120, 119, 118, 117, 116, 115, 114, 113, 3, 2, 1, 0}
            << QList<int>{2000, 2000} << 2 << 0
            << both + QStringList{"Lamp and filter due at 2000 h"};
        QTest::newRow("a lone day between")
            << QList<int>{40, 39, 20, 1, 0} << QList<int>{1, 2} << 3 << 5
            << both + QStringList{"Lamp due at 1 h", "Filter due at 2 h"};
        QTest::newRow("none") << QList<int>{} << QList<int>{100, 100} << 0 << 0
                              << QStringList{"Lamp and filter due at 100 h"};
    }

    void chartDrawsWhatWasRead() {
        QFETCH(QList<int>, daysAgo);
        QFETCH(QList<int>, due);
        QFETCH(int, runs);
        QFETCH(int, points);
        QFETCH(QStringList, legend);
        HistoryChart chart;
        std::vector<HoursRecord> read;
        const QDateTime now = QDateTime::currentDateTime();
        for (int ago : daysAgo)
            read.push_back({now.addDays(-ago).toMSecsSinceEpoch(), 100 + ago, 50 + ago, {}});
        chart.showHours(read, due[0], due[1]);
        chart.show();
        QVERIFY(QTest::qWaitForWindowExposed(&chart));
        using Line = HistoryChart::Line;
        for (Line line : {Line::Lamp, Line::Filter}) {
            QCOMPARE(chart.readings(line).size(), daysAgo.size());
            QCOMPARE(chart.runCount(line), runs);
            QCOMPARE(chart.pointCount(line), points);
        }
        QCOMPARE(chart.legendNames(), legend);
        // A due line is never drawn in an hours line's colour.
        const QList<QColor> hoursColours = {QColor(200, 110, 0), QColor(30, 100, 190)};
        QVERIFY(!hoursColours.contains(chart.lampThresholdSeries()->pen().color()));
        QVERIFY(!hoursColours.contains(chart.filterThresholdSeries()->pen().color()));
        QVERIFY(chart.lampThresholdSeries()->pen().color() !=
                chart.filterThresholdSeries()->pen().color());
        // Each date once under the axis, from the oldest reading's day or the
        // one before to after today.
        const QStringList dates = chart.dateLabels();
        QCOMPARE(QSet<QString>(dates.begin(), dates.end()).size(), dates.size());
        QVERIFY(dates.size() >= 2 && dates.size() <= 7);
        const QDate oldest = now.date().addDays(daysAgo.isEmpty() ? -30 : -daysAgo.first());
        const QDate first = QDate::fromString(dates.first(), "yyyy-MM-dd");
        QVERIFY2(first == oldest || first == oldest.addDays(-1), qPrintable(dates.first()));
        QVERIFY(QDate::fromString(dates.last(), "yyyy-MM-dd") > now.date());
    }

    void exportWritesWhatTheFilterSelects_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("kindChoice");
        QTest::addColumn<bool>("ok");
        QTest::newRow("every event") << "events.csv" << int(HistoryKindChoice::Every) << true;
        QTest::newRow("commands") << "commands.csv" << int(HistoryKindChoice::Commands) << true;
        QTest::newRow("no such folder")
            << "missing/events.csv" << int(HistoryKindChoice::Every) << false;
    }

    // The file holds the header and exactly the events selected, newest
    // first, written by the export's own thread.
    void exportWritesWhatTheFilterSelects() {
        QFETCH(QString, file);
        QFETCH(int, kindChoice);
        QFETCH(bool, ok);
        resetFilters();
        showHistoryOf(1);
        f->child<QComboBox>("cmbHistoryKind")->setCurrentIndex(kindChoice);
        const QString target = f->home.path() + "/" + file;
        QSignalSpy finished(panel(), &HistoryPanel::exportFinished);
        panel()->exportTo(target);
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 120000);
        QCOMPARE(finished.at(0).at(0).toBool(), ok);
        QVERIFY(finished.at(0).at(1).toString().contains(target));
        QCOMPARE(QFile::exists(target), ok);
        if (!ok)
            return;
        const QList<EventKind> kinds = KindsOf(HistoryKindChoice(kindChoice));
        QFile csv(target);
        QVERIFY(csv.open(QIODevice::ReadOnly));
        QCOMPARE(csv.read(EventCsvHeader().size()), EventCsvHeader());
        const QTimeZone zone = QTimeZone::systemTimeZone();
        for (qint64 n = rows->count; n >= 1; --n) {
            if (!kinds.isEmpty() && !kinds.contains(HistoryRows::kindOf(n)))
                continue;
            const QByteArray line = EventCsvLine(rows->event(n), zone);
            QCOMPARE(csv.read(line.size()), line);
        }
        QVERIFY(csv.atEnd());
    }

    // An export cancelled by another, or under way when the window closes,
    // leaves the chosen file as it was and nothing beside it.
    void interruptedExportLeavesTheOldFile_data() {
        QTest::addColumn<bool>("closed");
        QTest::newRow("another export") << false;
        QTest::newRow("window closed") << true;
    }

    void interruptedExportLeavesTheOldFile() {
        QFETCH(bool, closed);
        const QString folder = f->home.path() + "/interrupted";
        QVERIFY(QDir().mkpath(folder));
        const QString target = folder + "/old.csv";
        {
            QFile old(target);
            QVERIFY(old.open(QIODevice::WriteOnly | QIODevice::Truncate));
            old.write("old content\n");
        }
        auto tab = std::make_unique<HistoryPanel>(path());
        tab->setActive(true);
        QSignalSpy finished(tab.get(), &HistoryPanel::exportFinished);
        tab->exportTo(target);
        // The window's thread sleeps without turning; the export goes on.
        qint64 written = 0;
        for (int i = 0; i < 600 && written < (1 << 20); ++i) {
            QThread::msleep(50);
            // The new file has no name until it is complete: found by the
            // descriptor writing into the folder.
            written = 0;
            for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
                std::error_code error;
                const QString link =
                    QString::fromStdString(std::filesystem::read_symlink(fd, error).string());
                if (link.startsWith(folder + "/") && !link.endsWith("/old.csv"))
                    written += qint64(std::filesystem::file_size(fd, error));
            }
        }
        QVERIFY(written >= 1 << 20);
        auto* note = tab->findChild<QLabel*>("lblHistoryNote");
        QTRY_VERIFY_WITH_TIMEOUT(note->text().startsWith("Exporting: "), 30000);
        QCOMPARE(finished.count(), 0);
        if (closed) {
            tab.reset();
        } else {
            tab->exportTo(folder + "/missing/other.csv");
            QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 30000);
            const auto cancelled = [&](int i) {
                return finished.at(i).at(1).toString() ==
                       QString("The export to %1 was cancelled").arg(target);
            };
            QVERIFY(cancelled(0) != cancelled(1));
        }
        QFile old(target);
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("old content\n"));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"old.csv"});
    }

    // A file that is not a history stays where it is, untouched, and the
    // tab says in one line why it shows nothing.
    void unreadableFileShowsOneLine_data() {
        QTest::addColumn<QByteArray>("content"); // empty: no file
        QTest::addColumn<QString>("why");
        QTest::newRow("no file yet") << QByteArray() << "does not exist yet";
        QTest::newRow("not a database") << QByteArray(8192, 'x') << "not a database";
    }

    void unreadableFileShowsOneLine() {
        QFETCH(QByteArray, content);
        QFETCH(QString, why);
        UiFixture other;
        const QString file = other.home.path() + "/History.sqlite";
        if (!content.isEmpty()) {
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(content);
        }
        other.form->selectNode(1);
        other.selectTab(MainForm::TabHistory);
        QLabel* line = other.shownLabel("lblHistoryUnreadable");
        QVERIFY(line);
        QVERIFY(line->text().startsWith("The history cannot be shown: "));
        QVERIFY2(line->text().contains(why), qPrintable(line->text()));
        QVERIFY(!other.child<QTableView>("tableHistory")->isVisible());
        QCOMPARE(QDir(other.home.path()).entryList({"History.sqlite*"}, QDir::Files),
                 content.isEmpty() ? QStringList() : QStringList{"History.sqlite"});
        if (!content.isEmpty()) {
            QFile in(file);
            QVERIFY(in.open(QIODevice::ReadOnly));
            QCOMPARE(in.readAll(), content);
        }
    }

    // Last, as it adds events: what the writer commits comes in at the top;
    // scrolled down, the rows on screen stay where they are.
    void committedEventsComeIn() {
        resetFilters();
        showHistoryOf(1);
        HistoryWriter::Options options;
        options.filePath = path();
        options.limits = {400, 4096};
        options.interval = std::chrono::milliseconds(200);
        HistoryWriter writer(options);
        f->form->setHistory(&writer);
        const auto record = [&](const QString& text) {
            HistoryEvent e;
            e.timeMs = QDateTime::currentMSecsSinceEpoch();
            e.kind = EventKind::ProgramStart;
            e.text = text;
            writer.record(e);
        };
        // The rows are read again once the writer is set: none meanwhile.
        const auto topText = [this] {
            return model()->rowCount() > 0 ? model()->event(0).text : QString();
        };
        record("first");
        QTRY_COMPARE_WITH_TIMEOUT(topText(), QString("first"), 20000);
        QCOMPARE(model()->event(1).id, rows->count);

        QScrollBar* scroll = panel()->table()->verticalScrollBar();
        scroll->setValue(40);
        const qint64 onTop = model()->event(40).id;
        record("second");
        QTRY_COMPARE_WITH_TIMEOUT(topText(), QString("second"), 20000);
        QCOMPARE(scroll->value(), 41);
        QCOMPARE(model()->event(scroll->value()).id, onTop);
        f->form->setHistory(nullptr);
    }
};

QTEST_MAIN(TestUiHistory)
#include "test_ui_history.moc"
