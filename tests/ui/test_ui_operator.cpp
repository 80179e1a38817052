// The operator's view of the fleet: the overview at the root, the state marks
// of the tree, the outcome of commands and the polling progress in the status
// bar, the layout at the least window size, and the entry fields and settings
// that must not get in the operator's way.

#include "UiFixture.h"

#include "mail/MailWorker.h"
#include "support/SimProcess.h"
#include "ui/AddPJForm.h"
#include "ui/MailSettingsForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QHeaderView>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

namespace {

QTreeWidgetItem* TreeItem(UiFixture& f, const QString& text) {
    const auto found = f.child<QTreeWidget>("ProjectorTree")
                           ->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.first();
}

QString TreeTip(UiFixture& f, const QString& text) {
    QTreeWidgetItem* item = TreeItem(f, text);
    return item ? item->toolTip(0) : QString("<no node %1>").arg(text);
}

QString Hex(const CommandFrame& frame) {
    return QString::fromLatin1(frame.toByteArray().toHex().toUpper());
}

QString StatusBarText(UiFixture& f) {
    return f.child<QLabel>("lblCommandResult")->text();
}

QStringList Column(QTreeWidget* list, int column) {
    QStringList texts;
    for (int r = 0; r < list->topLevelItemCount(); ++r)
        texts << list->topLevelItem(r)->text(column);
    return texts;
}

// The parts of a list (header, scroll bars, viewport) size with the list.
bool InsideItemView(const QWidget* w) {
    for (const QWidget* up = w->parentWidget(); up; up = up->parentWidget())
        if (qobject_cast<const QAbstractItemView*>(up))
            return true;
    return false;
}

// Every shown widget of the tab control at least as large as its own
// minimum size hint; returns the first that is not.
QString FirstSqueezedWidget(UiFixture& f) {
    auto* tabs = f.child<QTabWidget>("SSTab");
    for (QWidget* w : tabs->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(f.form.get()) || InsideItemView(w))
            continue;
        const QSize hint = w->minimumSizeHint();
        if (!hint.isValid())
            continue;
        if (w->width() < hint.width() || w->height() < hint.height())
            return QString("%1 (%2) is %3x%4, needs %5x%6")
                .arg(w->objectName(), w->metaObject()->className())
                .arg(w->width())
                .arg(w->height())
                .arg(hint.width())
                .arg(hint.height());
    }
    return QString();
}

} // namespace

class TestUiOperator : public QObject {
    Q_OBJECT

  private slots:
    // The root shows every projector, queues nothing while doing so, follows
    // the replies of the simulator and sorts by value.
    void fleetOverview() {
        SimProcess sim({"--tcp", "3"});
        QVERIFY2(sim.isReady(), qPrintable(sim.errorString()));
        auto fixture = std::make_unique<UiFixture>();
        UiFixture& f = *fixture;
        const int east = f.addGroupDirect("East");
        const int west = f.addGroupDirect("West");
        f.addLanDirect(east, "Alpha", "127.0.0.1", QString::number(sim.tcpPort(1)));
        f.addLanDirect(west, "Bravo", "127.0.0.1", QString::number(sim.tcpPort(2)));
        f.addLanDirect(east, "Charlie", "127.0.0.1", QString::number(sim.tcpPort(3)));
        QVERIFY(sim.command("lamp 1 900").startsWith("OK"));
        QVERIFY(sim.command("lamp 2 75").startsWith("OK"));
        QVERIFY(sim.command("lamp 3 1482").startsWith("OK"));
        f.quietEngine();

        f.selectTab(0);
        f.form->selectNode(1);
        auto* list = f.child<QTreeWidget>("ListViewFleet");
        QVERIFY(list->isVisible());
        QVERIFY(!f.child<QLabel>("lblSelectMessage0")->isVisible());
        QCOMPARE(list->topLevelItemCount(), 3);
        for (int p = 1; p <= 3; ++p)
            QVERIFY2(f.queued(p).isEmpty(), "showing the overview queues nothing");
        QCOMPARE(Column(list, ColumnName), (QStringList{"Alpha", "Bravo", "Charlie"}));
        QCOMPARE(Column(list, ColumnGroup), (QStringList{"East", "West", "East"}));
        QCOMPARE(Column(list, ColumnLastAnswer), (QStringList{"-", "-", "-"}));
        QCOMPARE(Column(list, ColumnStatus),
                 (QStringList{"Disconnect", "Disconnect", "Disconnect"}));
        // "Group" stands before "Last Answer".
        QVERIFY(list->header()->visualIndex(ColumnGroup) <
                list->header()->visualIndex(ColumnLastAnswer));

        // The next polling pass fills the rows in place.
        f.engine->startDispatcher();
        f.engine->startPolling();
        QTRY_COMPARE_WITH_TIMEOUT(Column(list, ColumnStatus),
                                  (QStringList{"Normal", "Normal", "Normal"}), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(!Column(list, ColumnFilterTime).contains("-"), 30000);
        QVERIFY(!Column(list, ColumnLastAnswer).contains("-"));

        // Hours sort as numbers, not as texts ("75 h" before "900 h").
        list->sortByColumn(ColumnLampTime, Qt::AscendingOrder);
        QCOMPARE(Column(list, ColumnName), (QStringList{"Bravo", "Alpha", "Charlie"}));
        QCOMPARE(Column(list, ColumnLampTime), (QStringList{"75 h", "900 h", "1482 h"}));
        list->sortByColumn(ColumnGroup, Qt::DescendingOrder);
        QCOMPARE(Column(list, ColumnName).first(), QString("Bravo"));

        // The other tabs keep their message at the root.
        f.selectTab(1);
        QVERIFY(f.child<QLabel>("lblSelectMessage1")->isVisible());
        f.selectTab(2);
        QVERIFY(f.child<QLabel>("lblSelectMessage2")->isVisible());
    }

    // A node's mark and tool tip follow power, an error, silence after five
    // time-outs and recovery; the group shows the most serious of them.
    void stateMarks() {
        SimProcess sim({"--tcp", "2"});
        QVERIFY2(sim.isReady(), qPrintable(sim.errorString()));
        auto fixture = std::make_unique<UiFixture>();
        UiFixture& f = *fixture;
        f.state.Timing.TcpTimeoutTime = 300;
        f.state.Timing.StatusCheckInterval = 1;
        const int group = f.addGroupDirect("Hall");
        f.addLanDirect(group, "Left", "127.0.0.1", QString::number(sim.tcpPort(1)));
        f.addLanDirect(group, "Right", "127.0.0.1", QString::number(sim.tcpPort(2)));
        QCOMPARE(TreeTip(f, "Left"), QString("Left: Not reported yet"));
        QVERIFY(TreeTip(f, "Hall").startsWith("Hall: Not reported yet"));
        QVERIFY(!TreeItem(f, "Left")->icon(0).isNull());

        f.engine->startDispatcher();
        f.engine->startPolling();
        QTRY_COMPARE_WITH_TIMEOUT(TreeTip(f, "Left"), QString("Left: Off"), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(TreeTip(f, "Hall"), QString("Hall: Off (2 of 2 projectors)"),
                                  30000);

        QVERIFY(sim.command("power 1 1").startsWith("OK"));
        QTRY_COMPARE_WITH_TIMEOUT(TreeTip(f, "Left"), QString("Left: On"), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(TreeTip(f, "Hall"), QString("Hall: On (1 of 2 projectors)"),
                                  30000);

        QVERIFY(sim.command("error 2 3").startsWith("OK"));
        QTRY_COMPARE_WITH_TIMEOUT(TreeTip(f, "Right"), QString("Right: Lamp Error"), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(TreeTip(f, "Hall"), QString("Hall: Error (1 of 2 projectors)"),
                                  30000);

        // The group list marks the error cell, with the error's name.
        f.selectTab(0);
        f.form->selectNode(group);
        auto* list = f.child<QTreeWidget>("ListView1");
        QTRY_COMPARE_WITH_TIMEOUT(list->topLevelItem(1)->text(ColumnStatus), QString("Lamp Error"),
                                  30000);
        QVERIFY(list->topLevelItem(1)->data(ColumnStatus, Qt::BackgroundRole).isValid());
        QVERIFY(!list->topLevelItem(0)->data(ColumnStatus, Qt::BackgroundRole).isValid());

        QVERIFY(sim.command("silent 1 on").startsWith("OK"));
        QTRY_COMPARE_WITH_TIMEOUT(TreeTip(f, "Left"), QString("Left: Not answering"), 60000);
        QCOMPARE(TreeTip(f, "Hall"), QString("Hall: Error (1 of 2 projectors)"));
        QTRY_COMPARE_WITH_TIMEOUT(list->topLevelItem(0)->text(ColumnStatus), QString("Disconnect"),
                                  30000);
        QVERIFY(list->topLevelItem(0)->data(ColumnName, Qt::ForegroundRole).isValid());

        QVERIFY(sim.command("error 2 0").startsWith("OK"));
        QTRY_COMPARE_WITH_TIMEOUT(TreeTip(f, "Hall"),
                                  QString("Hall: Not answering (1 of 2 projectors)"), 30000);
        QVERIFY(sim.command("silent 1 off").startsWith("OK"));
        QTRY_COMPARE_WITH_TIMEOUT(TreeTip(f, "Left"), QString("Left: On"), 60000);
        QTRY_COMPARE_WITH_TIMEOUT(TreeTip(f, "Hall"), QString("Hall: On (1 of 2 projectors)"),
                                  30000);
        QVERIFY(!list->topLevelItem(0)->data(ColumnName, Qt::ForegroundRole).isValid());
    }

    // A group power-on where one projector refuses and one stays silent, and
    // a command cancelled by a later flush.
    void commandFeedback() {
        SimProcess sim({"--tcp", "3"});
        QVERIFY2(sim.isReady(), qPrintable(sim.errorString()));
        auto fixture = std::make_unique<UiFixture>();
        UiFixture& f = *fixture;
        f.state.Timing.TcpTimeoutTime = 300;
        const int group = f.addGroupDirect("Stage");
        f.addLanDirect(group, "One", "127.0.0.1", QString::number(sim.tcpPort(1)));
        const int two = f.addLanDirect(group, "Two", "127.0.0.1", QString::number(sim.tcpPort(2)));
        const int three =
            f.addLanDirect(group, "Three", "127.0.0.1", QString::number(sim.tcpPort(3)));
        QVERIFY(sim.command("refuse 2 on").startsWith("OK"));
        QVERIFY(sim.command("silent 3 on").startsWith("OK"));
        f.engine->startDispatcher();
        f.selectTab(1); // the Control tab queries nothing for a group

        f.form->selectNode(group);
        f.messages.queueAnswer(MessageAnswer::Yes);
        f.action("menuPowerON")->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(
            StatusBarText(f),
            QString("Stage: Power ON, 1 of 3 acknowledged, refused by Two, no answer from Three"),
            30000);
        // Each refusal and silence, then the whole line.
        const auto& problems = f.form->recentProblems();
        QCOMPARE(problems.size(), std::size_t(3));
        QCOMPARE(problems[2].text, StatusBarText(f));
        QVERIFY(problems[0].text.startsWith("Two: Power ON refused") ||
                problems[1].text.startsWith("Two: Power ON refused"));
        QVERIFY(f.child<QToolButton>("cmdRecentProblems")->isEnabled());

        // One projector: a refusal.
        f.form->selectNode(two);
        f.messages.queueAnswer(MessageAnswer::Yes);
        f.action("menuPowerOFF")->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(StatusBarText(f), QString("Two: Power OFF refused"), 30000);

        // A drop-down pick on the silent projector, then a power command that
        // flushes its queue: the pick ends as cancelled at once.
        f.state.Timing.TcpTimeoutTime = 20000;
        f.form->selectNode(three);
        f.quietEngine();
        f.engine->startDispatcher();
        UiFixture::pick(f.child<QComboBox>("cmbMute"), 1);
        QTRY_VERIFY_WITH_TIMEOUT(
            sim.command("frames 3").contains(Hex(f.engine->commands().MuteOnCommand)), 30000);
        f.messages.queueAnswer(MessageAnswer::Yes);
        f.action("menuPowerOFF")->trigger();
        QCOMPARE(StatusBarText(f), QString("Three: Mute ON, cancelled"));
    }

    // The status bar counts the projectors of a pass through to its summary;
    // the schedule indicator follows the runner.
    void pollingProgress() {
        SimProcess sim({"--tcp", "256"});
        QVERIFY2(sim.isReady(), qPrintable(sim.errorString()));
        auto fixture = std::make_unique<UiFixture>();
        UiFixture& f = *fixture;
        const int group = AddGroupNode(f.state, "All", nullptr);
        for (int p = 1; p <= 256; ++p) {
            AddProjector(f.state, group,
                         LanProjector(QString("P%1").arg(p, 3, 10, QChar('0')), "127.0.0.1",
                                      QString::number(sim.tcpPort(p)))
                             .model("VX-5100N"));
        }
        f.saveAndReload();
        f.quietEngine();
        auto* progress = f.child<QLabel>("lblPollProgress");
        QStringList seen;
        QTimer sampler;
        connect(&sampler, &QTimer::timeout, this, [&] {
            const QString text = progress->text();
            if (!text.isEmpty() && (seen.isEmpty() || seen.last() != text))
                seen << text;
        });
        sampler.start(0);
        f.engine->startDispatcher();
        f.engine->startPolling();
        QTRY_VERIFY_WITH_TIMEOUT(progress->text().startsWith("Last poll "), 120000);
        sampler.stop();
        QVERIFY2(progress->text().endsWith(": 256 answered, 0 did not"),
                 qPrintable(progress->text()));
        // The count only goes up while the pass runs (the event loop shows
        // only some of the steps).
        const QRegularExpression step("^Polling: (\\d+) of 256 projectors done$");
        int last = -1;
        for (const QString& text : seen.mid(0, seen.size() - 1)) {
            const QRegularExpressionMatch match = step.match(text);
            QVERIFY2(match.hasMatch(), qPrintable(seen.join(" | ")));
            QVERIFY2(match.captured(1).toInt() > last, qPrintable(seen.join(" | ")));
            last = match.captured(1).toInt();
        }
        QVERIFY2(last >= 0, qPrintable(seen.join(" | ")));

        auto* schedule = f.child<QLabel>("lblScheduleState");
        QCOMPARE(schedule->text(), QString("Schedule stopped"));
        f.form->setScheduleRunning(true);
        QCOMPARE(schedule->text(), QString("Schedule running"));
    }

    // No text of any panel is cut at the least size, at the default font and
    // at one and a half times it.
    void layoutAtLeastSize_data() {
        QTest::addColumn<double>("scale");
        QTest::newRow("default font") << 1.0;
        QTest::newRow("font x 1.5") << 1.5;
    }
    void layoutAtLeastSize() {
        QFETCH(double, scale);
        const QFont original = QApplication::font();
        QFont font = original;
        font.setPointSizeF(original.pointSizeF() * scale);
        QApplication::setFont(font);
        auto fixture = std::make_unique<UiFixture>();
        UiFixture& f = *fixture;
        const int group = f.addGroupDirect("Hall");
        const int projector = f.addLanDirect(group, "Left", "192.0.2.10");
        f.state.Projectors[1].MACAddress = "00:1A:2B:3C:4D:5E";
        f.quietEngine();
        f.form->resize(10, 10);
        QTRY_COMPARE(f.form->size(), f.form->minimumSize());
        for (int node : {1, group, projector}) {
            f.form->selectNode(node);
            for (int tab = 0; tab < 3; ++tab) {
                f.selectTab(tab);
                QApplication::processEvents();
                const QString squeezed = FirstSqueezedWidget(f);
                QVERIFY2(
                    squeezed.isEmpty(),
                    qPrintable(QString("node %1, tab %2: %3").arg(node).arg(tab).arg(squeezed)));
            }
        }
        // At the default size the group list shows every column whole.
        f.form->resize(f.form->sizeHint().expandedTo(QSize(1120, 720)));
        f.form->selectNode(group);
        f.selectTab(0);
        auto* list = f.child<QTreeWidget>("ListView1");
        QTRY_VERIFY(list->isVisible());
        QApplication::processEvents();
        if (scale == 1.0)
            QVERIFY2(!list->horizontalScrollBar()->isVisible(), "the group list scrolls sideways");
        const int mac = list->header()->sectionSize(ColumnMacAddress);
        QVERIFY(mac >= list->fontMetrics().horizontalAdvance("00:1A:2B:3C:4D:5E"));
        f.closeWindow();
        QApplication::setFont(original);
    }

    // Entering a pre-filled port field selects it, so typing replaces it; a
    // paste longer than the field's limit is refused whole.
    void typingReplaces() {
        auto fixture = std::make_unique<UiFixture>();
        UiFixture& f = *fixture;
        f.form->selectNode(1);
        f.action("menuAddProjector")->trigger();
        auto* dialog = f.openDialog<AddPJForm>();
        QVERIFY(dialog);
        dialog->findChild<QComboBox*>("cmbModel")->setCurrentText("VX-5100N");
        auto* port = dialog->findChild<QLineEdit*>("txtPortNo");
        QCOMPARE(port->text(), QString("23"));
        dialog->activateWindow();
        QTest::mouseClick(port, Qt::LeftButton);
        QTRY_VERIFY(port->hasSelectedText());
        QTest::keyClicks(port, "53001");
        QCOMPARE(port->text(), QString("53001"));

        auto* address = dialog->findChild<QLineEdit*>("txtIPAddress");
        address->setText("10.0.0.1");
        address->setFocus(Qt::TabFocusReason);
        QTRY_COMPARE(address->selectedText(), QString("10.0.0.1"));
        QGuiApplication::clipboard()->setText("192.168.100.2000"); // 16 characters
        QTest::keySequence(address, QKeySequence::Paste);
        QCOMPARE(address->text(), QString("10.0.0.1"));
        QGuiApplication::clipboard()->setText("192.168.100.200");
        QTest::keySequence(address, QKeySequence::Paste);
        QCOMPARE(address->text(), QString("192.168.100.200"));
        dialog->reject();
    }

    // "OK" of the mail settings does not check a field that is disabled and
    // keeps its stored value.
    void mailSettingsChecksOnlyEnabledFields() {
        auto fixture = std::make_unique<UiFixture>();
        UiFixture& f = *fixture;
        f.state.Mail.MailSend = false;
        f.state.Mail.LampAlarmTime = -1;
        MailWorker worker;
        MailSettingsForm form(f.state, *f.store, worker, f.messages, f.form.get());
        form.show();
        QVERIFY(!form.findChild<QLineEdit*>("txtLampTime")->isEnabled());
        f.messages.clearShown();
        UiFixture::click(&form, "cmdOK");
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QVERIFY2(f.messages.shown().isEmpty(), qPrintable(f.messages.lastText()));
        QCOMPARE(f.state.Mail.LampAlarmTime, qint16(-1));
        QSettings stored(f.store->filePath(), QSettings::IniFormat);
        QCOMPARE(stored.value("MailSetting/LampAlarmTime").toString(), QString("-1"));

        // Enabled, the same value is refused.
        MailSettingsForm again(f.state, *f.store, worker, f.messages, f.form.get());
        again.show();
        again.findChild<QCheckBox*>("chkSendMail")->setChecked(true);
        QVERIFY(again.findChild<QLineEdit*>("txtLampTime")->isEnabled());
        f.messages.queueAnswer(MessageAnswer::Ok);
        UiFixture::click(&again, "cmdOK");
        QVERIFY(again.isVisible());
        QVERIFY(f.messages.lastText().contains("lamp hours"));
    }

    // Schedule > "Start Schedule at Launch" writes its setting and shows it
    // again in a new window.
    void scheduleAutoStartEntry() {
        auto fixture = std::make_unique<UiFixture>();
        UiFixture& f = *fixture;
        QAction* entry = f.action("menuScheduleAutoStart");
        QVERIFY(entry);
        QVERIFY(entry->isCheckable());
        QVERIFY(!entry->isChecked());
        entry->trigger();
        QVERIFY(entry->isChecked());
        {
            const QSettings stored(f.store->filePath(), QSettings::IniFormat);
            QCOMPARE(stored.value("Setting/ScheduleAutoStart").toString(), QString("1"));
        }
        QVERIFY(!f.form->isScheduleRunning());
        f.closeWindow();
        f.startWindow();
        entry = f.action("menuScheduleAutoStart");
        QVERIFY(entry->isChecked());
        entry->trigger();
        const QSettings stored(f.store->filePath(), QSettings::IniFormat);
        QCOMPARE(stored.value("Setting/ScheduleAutoStart").toString(), QString("0"));
    }
};

QTEST_MAIN(TestUiOperator)
#include "test_ui_operator.moc"
