// The fleet overview and the group list under a stream of replies, the
// "Refusing" look of a projector that answers but reports nothing, and the
// program's own problems in the window's problems list.
#include "UiFixture.h"

#include "comm/StatusDisplay.h"
#include "core/HealthReport.h"
#include "ui/Contrast.h"
#include "ui/FleetState.h"

#include <QApplication>
#include <QHeaderView>
#include <QMenu>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QSet>
#include <QToolButton>
#include <QTreeWidget>

namespace {

const QString Dash = "-";

// Projectors P01..Pnn, spread over three groups and the root, each with a
// reported status; saved once and loaded into the window. Returns the node
// of "Hall 1".
int AddFleet(UiFixture& f, int count) {
    std::array<int, 3> groups{};
    for (int g = 0; g < 3; ++g)
        groups[g] = AddGroupNode(f.state, QString("Hall %1").arg(g + 1), nullptr);
    for (int i = 1; i <= count; ++i) {
        AddProjector(
            f.state, i % 4 == 0 ? 1 : groups[i % 4 - 1],
            LanProjector(QString("P%1").arg(i, 2, 10, QChar('0')), QString("192.0.2.%1").arg(i))
                .model("VX-5100N"));
    }
    f.saveAndReload();
    f.quietEngine();
    for (int p = 1; p <= count; ++p) {
        ProjectorInfo& info = f.state.Projectors[p];
        info.Disconnected = false;
        info.PowerStatus = 1;
        info.InputStatus = 1;
        info.ErrorStatus = 0;
        info.LampTime = qint16(100 * p);
        info.FilterTime = qint16(50 * p);
        info.LastReply = QDateTime(QDate(2026, 3, 1), QTime(8, 0));
    }
    // As the engine reports each reply.
    for (int p = 1; p <= count; ++p)
        f.form->statusChanged(p, StatusItem::Power);
    for (int node = 1; node <= NodeCount(f.state); ++node)
        if (Node(f.state, node).Text == "Hall 1")
            return node;
    return 0;
}

// What a row must show for its projector, column by column.
QStringList Expected(const UiFixture& f, int p) {
    const ProjectorInfo& info = f.state.Projectors[p];
    const bool gone = info.Disconnected;
    const int parent =
        NodeIndexOfKey(f.state, Node(f.state, NodeOfProjector(f.state, p)).ParentKey);
    return {info.ProjectorName,
            info.IPAddress,
            info.MACAddress,
            gone ? Dash : PowerDisplayText(info.PowerStatus),
            gone ? Dash : InputDisplayText(f.state, p),
            gone ? "Disconnect" : (info.Refusing ? "Refusing" : ErrorDisplayText(info.ErrorStatus)),
            gone ? Dash : HoursDisplayText(info.LampTime),
            gone ? Dash : HoursDisplayText(info.FilterTime),
            info.LastReply.isValid() ? info.LastReply.toString("HH:mm:ss") : Dash,
            NodeKind(f.state, parent) == 'g' ? Node(f.state, parent).Text : QString(),
            "Own",
            Dash,
            Dash};
}

QStringList Shown(const QTreeWidgetItem* row) {
    QStringList texts;
    for (int c = 0; c < ListColumnCount; ++c)
        texts << row->text(c);
    return texts;
}

// One reply or loss of contact, as the engine reports it.
void RandomReply(UiFixture& f, QRandomGenerator& random, int projectorCount) {
    const int p = random.bounded(1, projectorCount + 1);
    ProjectorInfo& info = f.state.Projectors[p];
    if (random.bounded(10) == 0) {
        info.Disconnected = true;
        f.form->reachabilityChanged(p);
        return;
    }
    const auto item = StatusItem(random.bounded(5));
    switch (item) {
    case StatusItem::Power:
        info.PowerStatus = qint16(random.bounded(-1, 3));
        break;
    case StatusItem::Input:
        info.InputStatus = qint16(random.bounded(-1, 4));
        break;
    case StatusItem::Error:
        info.ErrorStatus = std::array<qint16, 5>{-1, 0, 0, 3, 8}[random.bounded(5)];
        break;
    case StatusItem::LampTime:
        info.LampTime = qint16(random.bounded(-1, 30000));
        break;
    default:
        info.FilterTime = qint16(random.bounded(-1, 30000));
        break;
    }
    info.Disconnected = false;
    info.Refusing = random.bounded(8) == 0;
    info.LastReply = info.LastReply.addSecs(random.bounded(1, 4000));
    f.form->statusChanged(p, item);
    f.form->commandFinished(p, {}, CommandOutcome::Data);
}

} // namespace

class TestUiFleet : public QObject {
    Q_OBJECT

  private slots:
    void rowsFollowTheirProjectors_data() {
        QTest::addColumn<int>("column");
        QTest::addColumn<bool>("ascending");
        QTest::addColumn<bool>("groupList");
        const QStringList names = {"Name",     "Connection", "MAC",         "Power",  "Input",
                                   "Status",   "Lamp Time",  "Filter Time", "Answer", "Group",
                                   "Protocol", "Lamp due",   "Filter due"};
        for (int c = 0; c < ListColumnCount; ++c)
            for (bool ascending : {true, false})
                QTest::addRow("overview by %s %s", qPrintable(names[c]), ascending ? "up" : "down")
                    << c << ascending << false;
        QTest::addRow("group list") << 0 << true << true;
    }

    // Sorting moves rows while replies arrive: each reply must still land on
    // its own projector's row, and no row may be lost or doubled.
    void rowsFollowTheirProjectors() {
        QFETCH(int, column);
        QFETCH(bool, ascending);
        QFETCH(bool, groupList);
        constexpr int Count = 42;
        auto fixture = std::make_unique<UiFixture>();
        UiFixture& f = *fixture;
        const int hall = AddFleet(f, Count);
        f.selectTab(0);
        f.form->selectNode(groupList ? hall : 1);
        f.form->rebuildView();
        auto* list = f.child<QTreeWidget>(groupList ? "ListView1" : "ListViewFleet");
        QVERIFY(list->isVisible());
        const Qt::SortOrder order = ascending ? Qt::AscendingOrder : Qt::DescendingOrder;
        if (!groupList)
            list->sortByColumn(column, order);
        QSet<int> members;
        for (int r = 0; r < list->topLevelItemCount(); ++r)
            members << list->topLevelItem(r)->text(ColumnName).mid(1).toInt();
        QCOMPARE(members.size(), groupList ? Count / 4 + 1 : Count);
        // The operator's selection stays on its projector while rows move.
        QTreeWidgetItem* chosen = list->topLevelItem(list->topLevelItemCount() / 2);
        const QString chosenName = chosen->text(ColumnName);
        list->setCurrentItem(chosen);

        QRandomGenerator random(quint32(1000 + column * 2 + int(ascending)));
        for (int n = 0; n < 200; ++n)
            RandomReply(f, random, Count);

        QSet<int> seen;
        for (int r = 0; r < list->topLevelItemCount(); ++r) {
            const QTreeWidgetItem* row = list->topLevelItem(r);
            const int p = row->text(ColumnName).mid(1).toInt();
            QVERIFY2(!seen.contains(p), qPrintable("row twice: " + row->text(ColumnName)));
            seen << p;
            QStringList expected = Expected(f, p);
            if (groupList)
                expected[ColumnGroup] = QString();
            QCOMPARE(Shown(row), expected);
            // And the list is still in the order the operator chose.
            if (!groupList && r > 0) {
                const QTreeWidgetItem* above = list->topLevelItem(r - 1);
                QVERIFY2(ascending ? !(*row < *above) : !(*above < *row),
                         qPrintable(QString("%1 out of order below %2")
                                        .arg(row->text(column), above->text(column))));
            }
        }
        QCOMPARE(seen, members);
        // Each group's mark counts its members' states as they are now.
        auto* tree = f.child<QTreeWidget>("ProjectorTree");
        for (int g = 1; g <= 3; ++g) {
            const QString group = QString("Hall %1").arg(g);
            std::array<int, FleetStateCount> counts{};
            int total = 0;
            for (int p = 1; p <= Count; ++p)
                if (Expected(f, p)[ColumnGroup] == group) {
                    ++counts[std::size_t(StateOf(f.state.Projectors[p]))];
                    ++total;
                }
            int worst = FleetStateCount - 1;
            while (worst > 0 && counts[std::size_t(worst)] == 0)
                --worst;
            const QList<QTreeWidgetItem*> nodes = tree->findItems(group, Qt::MatchRecursive);
            QCOMPARE(nodes.size(), 1);
            QCOMPARE(nodes[0]->toolTip(0), QString("%1: %2 (%3 of %4 projectors)")
                                               .arg(group, StateText(FleetState(worst)))
                                               .arg(counts[std::size_t(worst)])
                                               .arg(total));
        }
        QCOMPARE(list->selectedItems().size(), 1);
        QCOMPARE(list->selectedItems()[0]->text(ColumnName), chosenName);
        QCOMPARE(list->currentItem()->text(ColumnName), chosenName);
    }

    void namesSortAsRead_data() {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("order");
        QTest::addRow("numbers by value") << QStringList{"Room 10", "Room 2", "Room 100", "Room 1"}
                                          << QStringList{"Room 1", "Room 2", "Room 10", "Room 100"};
        QTest::addRow("leading zeros, then text")
            << QStringList{"Hall 3b", "Hall 03", "Hall 3a", "Hall 12", "Foyer"}
            << QStringList{"Foyer", "Hall 03", "Hall 3a", "Hall 3b", "Hall 12"};
        QTest::addRow("numbers first")
            << QStringList{"B7", "7", "A", "10"} << QStringList{"7", "10", "A", "B7"};
    }

    // The overview sorted by name lists names as people read them.
    void namesSortAsRead() {
        QFETCH(QStringList, names);
        QFETCH(QStringList, order);
        auto fixture = std::make_unique<UiFixture>();
        UiFixture& f = *fixture;
        AddFleet(f, int(names.size()));
        for (int p = 1; p <= names.size(); ++p)
            f.state.Projectors[p].ProjectorName = names[p - 1];
        f.selectTab(0);
        f.form->selectNode(1);
        f.form->rebuildView();
        auto* list = f.child<QTreeWidget>("ListViewFleet");
        for (Qt::SortOrder direction : {Qt::AscendingOrder, Qt::DescendingOrder}) {
            list->sortByColumn(ColumnName, direction);
            QStringList shown;
            for (int r = 0; r < list->topLevelItemCount(); ++r)
                shown << list->topLevelItem(r)->text(ColumnName);
            QStringList expected = order;
            if (direction == Qt::DescendingOrder)
                std::reverse(expected.begin(), expected.end());
            QCOMPARE(shown, expected);
        }
    }

    // At the default size every column of the overview is in view, none
    // behind the scroll bar, and no cell's text is cut.
    void everyColumnShowsAtTheDefaultSize() {
        auto fixture = std::make_unique<UiFixture>();
        UiFixture& f = *fixture;
        constexpr int count = 24;
        AddFleet(f, count);
        for (int p = 1; p <= count; ++p) {
            ProjectorInfo& info = f.state.Projectors[p];
            info.ProjectorName = QString("Room %1").arg(100 + p);
            info.IPAddress = QString("192.168.100.%1").arg(100 + p);
            info.MACAddress = QString("00:1A:2B:3C:4D:%1").arg(p, 2, 16, QChar('0')).toUpper();
            info.PowerStatus = p == 2 ? 2 : 1; // "COOLDOWN"
            info.ErrorStatus = p == 3 ? 6 : 0; // "Lamp Time Over"
            info.LampTime = 20000;
            info.FilterTime = 9000;
        }
        f.form->resize(MainForm::DefaultWindowSize);
        f.selectTab(0);
        f.form->selectNode(1);
        f.form->rebuildView();
        QApplication::processEvents();
        auto* list = f.child<QTreeWidget>("ListViewFleet");
        QCOMPARE(list->topLevelItemCount(), count);
        const QHeaderView* header = list->header();
        for (int c = 0; c < ListColumnCount; ++c) {
            const int right = header->sectionViewportPosition(c) + header->sectionSize(c);
            QVERIFY2(!list->isColumnHidden(c) && right <= list->viewport()->width(),
                     qPrintable(QString("column %1 ends at %2 of %3")
                                    .arg(list->headerItem()->text(c))
                                    .arg(right)
                                    .arg(list->viewport()->width())));
            QVERIFY(header->sectionSize(c) >=
                    static_cast<const QAbstractItemView*>(list)->sizeHintForColumn(c));
        }
        QVERIFY(!list->horizontalScrollBar()->isVisible());
    }

    void refusingLooksLikeNotAnswering_data() {
        QTest::addColumn<bool>("disconnected");
        QTest::addColumn<bool>("refusing");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("tip");
        QTest::addRow("answering") << false << false << "Normal"
                                   << "P01: On";
        QTest::addRow("refusing") << false << true << "Refusing"
                                  << "P01: Refusing";
        QTest::addRow("refusing, then lost") << true << true << "Disconnect"
                                             << "P01: Not answering";
    }

    // Every place that says "Disconnect" says "Refusing" for a projector
    // that answers nothing but refusals, with the same greyed look.
    void refusingLooksLikeNotAnswering() {
        QFETCH(bool, disconnected);
        QFETCH(bool, refusing);
        QFETCH(QString, status);
        QFETCH(QString, tip);
        auto fixture = std::make_unique<UiFixture>();
        UiFixture& f = *fixture;
        const int hall = AddFleet(f, 5); // P01 and P05 in "Hall 1"
        ProjectorInfo& info = f.state.Projectors[1];
        info.Disconnected = disconnected;
        info.Refusing = refusing;
        const bool greyed = disconnected || refusing;
        f.selectTab(0);
        auto* tree = f.child<QTreeWidget>("ProjectorTree");
        for (const auto& [node, listName] :
             {std::pair{1, QString("ListViewFleet")}, std::pair{hall, QString("ListView1")}}) {
            f.form->selectNode(node);
            f.form->statusChanged(1, StatusItem::Error);
            auto* list = f.child<QTreeWidget>(listName);
            const QList<QTreeWidgetItem*> rows = list->findItems("P01", Qt::MatchExactly);
            QCOMPARE(rows.size(), 1);
            QCOMPARE(rows[0]->text(ColumnStatus), status);
            QCOMPARE(rows[0]->text(ColumnPower), disconnected ? Dash : "ON");
            QCOMPARE(rows[0]->foreground(ColumnName),
                     greyed ? QBrush(SubduedTextColour(list->palette())) : QBrush());
            const QList<QTreeWidgetItem*> others = list->findItems("P05", Qt::MatchExactly);
            QCOMPARE(others.size(), 1);
            QCOMPARE(others[0]->foreground(ColumnName), QBrush());
        }
        const QList<QTreeWidgetItem*> nodes = tree->findItems("P01", Qt::MatchRecursive);
        QCOMPARE(nodes.size(), 1);
        QCOMPARE(nodes[0]->toolTip(0), tip);
        QCOMPARE(nodes[0]->parent()->toolTip(0),
                 QString(greyed ? "Hall 1: Not answering (1 of 2 projectors)"
                                : "Hall 1: On (2 of 2 projectors)"));

        f.form->selectNode(NodeOfProjector(f.state, 1));
        f.form->reachabilityChanged(1);
        QCOMPARE(f.child<QLabel>("lblErrorStatus")->text(), status);
    }

    // Conditions of the program itself join the commands' problems: each
    // raise with its text, each end with its recovery (or, without one, the
    // text it was raised with), newest first; so do the conditions raised
    // before the window opened.
    void programProblemsAreListed() {
        auto fixture = std::make_unique<UiFixture>();
        UiFixture& f = *fixture;
        f.closeWindow();
        f.state.Health.raise(HealthCondition::NoRecipient,
                             "Alerts are on, but no recipient is set");
        f.startWindow();
        auto* button = f.child<QToolButton>("cmdRecentProblems");
        QVERIFY(button->toolTip().contains("commands"));
        QVERIFY(button->toolTip().contains("program"));
        QCOMPARE(button->text(), QString("Problems: 1"));
        QVERIFY(button->isEnabled());

        f.state.Health.raise(HealthCondition::LogWriteFailing, "Mail log cannot be written");
        f.state.Health.clear(HealthCondition::LogWriteFailing, "Mail log written again");
        f.state.Health.clear(HealthCondition::NoRecipient);
        QCOMPARE(button->text(), QString("Problems: 4"));

        button->click();
        auto* menu = f.form->findChild<QMenu*>("RecentProblems");
        QVERIFY(menu);
        QStringList shown;
        for (QAction* entry : menu->actions())
            shown << entry->text().section("  ", 1);
        QCOMPARE(shown, (QStringList{"Resolved: Alerts are on, but no recipient is set",
                                     "Mail log written again", "Mail log cannot be written",
                                     "Alerts are on, but no recipient is set"}));
        menu->close();
    }
};

QTEST_MAIN(TestUiFleet)
#include "test_ui_fleet.moc"
