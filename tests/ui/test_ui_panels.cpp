// The panels, command availability, the queries that showing a panel sends,
// the refresh interface, every control's commands, the layout and exit.
#include "UiFixture.h"

#include "comm/CommandQueue.h"
#include "core/ModelFile.h"
#include "core/PingList.h"
#include "support/CommTestKit.h"

#include "support/SimProcess.h"

#include <QCloseEvent>
#include <QTreeWidget>

using namespace std::chrono_literals;

namespace {

const QStringList RefreshSet = {"PowerGetCommand", "InputGetCommand", "ErrorStatusGetCommand",
                                "LampTimeGetCommand", "FilterTimeGetCommand"};

// Enabled state of the ten commands in flag order, read from the main menu,
// and checked against the pop-up and the toolbar on the way.
QString Availability(UiFixture& f) {
    const QStringList names = {"Add",           "AddGroup",    "AddProjector", "Delete",
                               "Edit",          "Refresh",     "PowerON",      "PowerOFF",
                               "ScheduleStart", "ScheduleStop"};
    QString flags;
    for (int i = 0; i < names.size(); ++i) {
        const bool on = f.action("menu" + names[i])->isEnabled();
        if (i < 8 && f.action("popup" + names[i])->isEnabled() != on)
            return "popup differs at " + names[i];
        if (i > 0 && f.action("tb" + names[i])->isEnabled() != on)
            return "toolbar differs at " + names[i];
        flags += on ? '1' : '0';
    }
    return flags;
}

// A frame as the simulator reports it: upper-case hex without blanks.
QString Hex(const CommandFrame& frame) {
    return QString::fromLatin1(frame.toByteArray().toHex().toUpper());
}

} // namespace

class TestUiPanels : public QObject {
    Q_OBJECT

  private slots:
    void availabilityInEveryView() {
        auto fixture = std::make_unique<UiFixture>(); // the tables are too big for the stack
        UiFixture& f = *fixture;
        // The window opens on the root.
        QCOMPARE(f.form->selectedNode(), 1);
        QCOMPARE(Availability(f), QString("1110000010"));
        f.form->setScheduleRunning(true);
        QCOMPARE(Availability(f), QString("0000000001"));
        f.form->setScheduleRunning(false);

        const int group = f.addGroupDirect("G");
        const int empty = f.addGroupDirect("Empty");
        const int projector = f.addLanDirect(group, "P", "10.0.0.1");
        struct Case {
            int node;
            int tab;
            const char* stopped;
            const char* running;
        };
        const Case cases[] = {
            {1, 0, "1110000010", "0000000001"},         {1, 2, "1110000010", "0000000001"},
            {empty, 0, "1011100010", "0000000001"},     {empty, 1, "1011100010", "0000000001"},
            {group, 0, "1011111110", "0000011101"},     {group, 1, "1011101110", "0000001101"},
            {group, 2, "1011101110", "0000001101"},     {projector, 0, "0001111110", "0000011101"},
            {projector, 1, "0001101110", "0000001101"}, {projector, 2, "0001101110", "0000001101"},
        };
        for (const Case& c : cases) {
            f.form->selectNode(c.node);
            f.selectTab(c.tab);
            f.form->setScheduleRunning(false);
            QCOMPARE(Availability(f), QString(c.stopped));
            f.form->setScheduleRunning(true);
            QCOMPARE(Availability(f), QString(c.running));
        }
    }

    void groupListAndQueries() {
        auto fixture = std::make_unique<UiFixture>(); // the tables are too big for the stack
        UiFixture& f = *fixture;
        const int group = f.addGroupDirect("Hall");
        f.addLanDirect(group, "A", "10.0.0.1");
        f.addSerialDirect(group, "B", 4);
        f.addLanDirect(1, "Outside", "10.0.0.9");
        f.quietEngine();
        f.selectTab(0);
        f.form->selectNode(group);
        QCOMPARE(f.shownLabel("lblGroupName")->text(), QString("Hall"));
        QCOMPARE(f.shownLabel("lblNumberOfProjectors")->text(), QString("2"));

        // A name that looks like markup is shown with its tags.
        const QString marked = "<b>Hall</b>";
        f.state.Nodes[std::size_t(group - 1)].Text = marked;
        f.form->selectNode(1);
        f.form->selectNode(group);
        QLabel* name = f.shownLabel("lblGroupName");
        QCOMPARE(name->text(), marked);
        QVERIFY(name->sizeHint().width() >= name->fontMetrics().horizontalAdvance(marked));
        f.state.Nodes[std::size_t(group - 1)].Text = "Hall";
        f.quietEngine();
        f.form->selectNode(1);
        f.form->selectNode(group);
        auto* list = f.child<QTreeWidget>("ListView1");
        QCOMPARE(list->topLevelItemCount(), 2);
        QCOMPARE(list->topLevelItem(0)->text(ColumnStatus), QString("Disconnect"));
        QCOMPARE(list->topLevelItem(1)->text(ColumnConnection), QString("COM4"));
        QCOMPARE(list->topLevelItem(1)->text(ColumnMacAddress), QString("-"));
        QCOMPARE(list->topLevelItem(0)->text(ColumnPower), QString("-"));
        QCOMPARE(list->topLevelItem(0)->text(ColumnLampTime), QString("-"));
        QCOMPARE(f.queued(1), RefreshSet);
        QCOMPARE(f.queued(2), RefreshSet);
        QVERIFY(f.queued(3).isEmpty());

        // Replies reach one column of one row.
        ProjectorInfo& a = f.state.Projectors[1];
        a.Disconnected = false;
        a.PowerStatus = 2;
        a.LampTime = 1520;
        a.MACAddress = "00:1A:2B:3C:4D:5E";
        f.form->statusChanged(1, StatusItem::Power);
        f.form->statusChanged(1, StatusItem::LampTime);
        QCOMPARE(list->topLevelItem(0)->text(ColumnPower), QString("COOLDOWN"));
        QCOMPARE(list->topLevelItem(0)->text(ColumnLampTime), QString("1520 h"));
        QCOMPARE(list->topLevelItem(0)->text(ColumnMacAddress), QString("00:1A:2B:3C:4D:5E"));
        f.form->statusChanged(3, StatusItem::Power); // not listed: nothing breaks

        // Filling the list again shows the hours as a refresh does, and "-"
        // for hours not yet reported.
        a.FilterTime = -1;
        f.form->selectNode(1);
        f.form->selectNode(group);
        QCOMPARE(list->topLevelItem(0)->text(ColumnPower), QString("COOLDOWN"));
        QCOMPARE(list->topLevelItem(0)->text(ColumnLampTime), QString("1520 h"));
        QCOMPARE(list->topLevelItem(0)->text(ColumnFilterTime), QString("-"));
        a.FilterTime = 310;
        f.form->statusChanged(1, StatusItem::FilterTime);
        QCOMPARE(list->topLevelItem(0)->text(ColumnFilterTime), QString("310 h"));
        QCOMPARE(list->topLevelItem(0)->text(ColumnStatus), QString("-"));

        // Selection actions: refresh flushes and queues the refresh set; power
        // asks first.
        f.quietEngine();
        f.state.Queues[1] = {};
        f.action("menuRefresh")->trigger();
        QCOMPARE(f.queued(2), RefreshSet);
        f.messages.queueAnswer(MessageAnswer::No);
        f.action("menuPowerOFF")->trigger();
        QCOMPARE(f.messages.lastText(), QString("Turn off the 2 projectors of Hall?"));
        QCOMPARE(f.queued(2), RefreshSet);
        f.messages.queueAnswer(MessageAnswer::Yes);
        f.action("menuPowerOFF")->trigger();
        QCOMPARE(f.queued(1), QStringList{"PowerOffCommand"});
        QCOMPARE(f.queued(2), QStringList{"PowerOffCommand"});
        QVERIFY(f.queued(3).isEmpty());

        // The group panel's drop-down appends without asking.
        f.selectTab(1);
        f.messages.clearShown();
        UiFixture::pick(f.child<QComboBox>("cmbGroupPower"), 1);
        QCOMPARE(f.queued(1), QStringList({"PowerOffCommand", "PowerOnCommand"}));
        QVERIFY(f.messages.shown().isEmpty());
        // Picking the entry already shown sends again; code setting it sends too.
        UiFixture::pick(f.child<QComboBox>("cmbGroupPower"), 1);
        f.child<QComboBox>("cmbGroupPower")->setCurrentIndex(0);
        QCOMPARE(f.queued(2), QStringList({"PowerOffCommand", "PowerOnCommand", "PowerOnCommand",
                                           "PowerOffCommand"}));
    }

    void projectorPanelsAndControls() {
        auto fixture = std::make_unique<UiFixture>(); // the tables are too big for the stack
        UiFixture& f = *fixture;
        const int node = f.addLanDirect(1, "P", "10.0.0.1");
        ProjectorInfo& p = f.state.Projectors[1];
        p.Disconnected = false;
        p.PowerStatus = 2;
        p.InputStatus = 5;
        p.ErrorStatus = 16;
        p.LampTime = 2000;
        p.FilterTime = -1;
        p.AspectStatus = 16;
        p.MirrorStatus = 2;
        p.Brightness = 120;
        p.Sharpness = 128;
        p.MACAddress = "00:11:22:33:44:55";
        f.quietEngine();
        f.selectTab(0);
        f.form->selectNode(node);
        QCOMPARE(f.shownLabel("lblConnection")->text(), QString("10.0.0.1 (00:11:22:33:44:55)"));
        QCOMPARE(f.shownLabel("lblPowerStatus")->text(), QString("COOLDOWN"));
        QCOMPARE(f.shownLabel("lblInputSource")->text().trimmed(), QString("HDMI"));
        QCOMPARE(f.shownLabel("lblErrorStatus")->text(), QString("Other Error"));
        QCOMPARE(f.shownLabel("lblLampTime")->text(), QString("2000 h"));
        QCOMPARE(f.shownLabel("lblFilterTime")->text(), QString("-"));
        QVERIFY(!f.shownLabel("lblConnectionStatus"));
        QCOMPARE(f.queued(1), RefreshSet);

        f.quietEngine();
        f.selectTab(1);
        QCOMPARE(f.child<QComboBox>("cmbPower")->currentIndex(), 0);
        QCOMPARE(f.child<QComboBox>("cmbInputSource")->currentText().trimmed(), QString("HDMI"));
        QCOMPARE(f.child<QComboBox>("cmbAspect")->currentText(), QString("Native"));
        QCOMPARE(f.child<QComboBox>("cmbMirror")->currentIndex(), 2);
        QCOMPARE(f.child<QComboBox>("cmbMute")->currentIndex(), -1);
        QCOMPARE(f.child<QLabel>("lblBrightValue")->text(), QString("-8"));
        QCOMPARE(f.child<QLabel>("lblSharpnessValue")->text(), QString("+3"));
        QCOMPARE(f.child<QLabel>("lblContrastValue")->text(), QString());
        QCOMPARE(f.queued(1),
                 QStringList({"PowerGetCommand", "InputGetCommand", "AspectGetCommand",
                              "WhisperGetCommand", "MirrorGetCommand", "BlankGetCommand",
                              "MuteGetCommand", "BrightnessGetCommand", "ContrastGetCommand",
                              "SharpnessGetCommand", "ColorGetCommand", "TintGetCommand"}));

        // Every control, each exactly its commands.
        struct Step {
            std::function<void()> act;
            QStringList expected;
        };
        auto combo = [&](const char* name, int index) {
            return [&f, name, index] { UiFixture::pick(f.child<QComboBox>(name), index); };
        };
        auto button = [&](const char* name) {
            return [&f, name] { f.child<QPushButton>(name)->click(); };
        };
        const std::vector<Step> steps = {
            {combo("cmbPower", 1), {"PowerOnCommand"}},
            {combo("cmbInputSource", 1), {"InputSet1Command", "InputGetCommand"}},
            {combo("cmbAspect", 3), {"AspectSet16Command", "AspectGetCommand"}},
            {combo("cmbBlank", 1), {"BlankOnCommand", "BlankGetCommand"}},
            {combo("cmbMute", 0), {"MuteOffCommand", "MuteGetCommand"}},
            {combo("cmbWhisper", 1), {"WhisperOnCommand", "WhisperGetCommand"}},
            {combo("cmbMirror", 2), {"MirrorVInverseCommand", "MirrorGetCommand"}},
            {button("cmdIncBrightness"), {"BrightnessIncrementCommand", "BrightnessGetCommand"}},
            {button("cmdDecContrast"), {"ContrastDecrementCommand", "ContrastGetCommand"}},
            {button("cmdIncColor"), {"ColorIncrementCommand", "ColorGetCommand"}},
            {button("cmdDecTint"), {"TintDecrementCommand", "TintGetCommand"}},
            {button("cmdIncSharpness"), {"SharpnessIncrementCommand", "SharpnessGetCommand"}},
            {button("cmdAutoAdjust"), {"AutoAdjustExecuteCommand"}},
            {button("cmdLampTimeReset"), {"LampTimeResetCommand", "LampTimeGetCommand"}},
            {button("cmdFilterTimeReset"), {"FilterTimeResetCommand", "FilterTimeGetCommand"}},
        };
        for (const Step& step : steps) {
            f.quietEngine();
            step.act();
            QCOMPARE(f.queued(1), step.expected);
        }
        // An entry whose code is not a number selects no input command.
        const ModelInfo* found = FindModel(f.state, f.state.Projectors[1].ModelName);
        QVERIFY(found);
        QString& entry = f.state.Models[found - f.state.Models.data()].Input[2];
        entry = "x;" + GetField(";", entry, 2);
        f.quietEngine();
        UiFixture::pick(f.child<QComboBox>("cmbInputSource"), 1);
        QCOMPARE(f.queued(1), QStringList({"InputGetCommand"}));
        // An entry set by code acts like a pick, unless the program is
        // setting the drop-downs itself.
        f.quietEngine();
        auto* whisper = f.child<QComboBox>("cmbWhisper");
        whisper->setCurrentIndex(0);
        QCOMPARE(f.queued(1), QStringList({"WhisperNormalCommand", "WhisperGetCommand"}));
        f.quietEngine();
        f.state.ControlsUpdating = true;
        whisper->setCurrentIndex(1);
        f.child<QComboBox>("cmbInputSource")->setCurrentIndex(0);
        f.state.ControlsUpdating = false;
        QVERIFY(f.queued(1).isEmpty());
        QTest::keyClick(whisper, Qt::Key_Up); // the operator's pick sends once
        QCOMPARE(whisper->currentIndex(), 0);
        QCOMPARE(f.queued(1), QStringList({"WhisperNormalCommand", "WhisperGetCommand"}));

        f.quietEngine();
        f.messages.queueAnswer(MessageAnswer::No);
        f.child<QPushButton>("cmdLampTimeReset")->click();
        QCOMPARE(f.messages.lastText(),
                 QString("Are you sure that you want to reset the lamp time?"));
        QVERIFY(f.queued(1).isEmpty());

        // Replies set drop-downs without sending anything back.
        p.MuteStatus = 1;
        f.form->statusChanged(1, StatusItem::Mute);
        QCOMPARE(f.child<QComboBox>("cmbMute")->currentIndex(), 1);
        p.Tint = 130;
        f.form->statusChanged(1, StatusItem::Tint);
        QCOMPARE(f.child<QLabel>("lblTintValue")->text(), QString("+2"));
        f.child<QComboBox>("cmbBlank")->setCurrentIndex(1);
        p.BlankStatus = 0;
        f.form->restoreDropDown(1, StatusItem::Blank);
        QCOMPARE(f.child<QComboBox>("cmbBlank")->currentIndex(), 0);
        QVERIFY(f.queued(1).isEmpty());
        QVERIFY(!f.state.ControlsUpdating);
    }

    void layoutClockAndExit() {
        auto fixture = std::make_unique<UiFixture>(); // the tables are too big for the stack
        UiFixture& f = *fixture;
        // The least size is the larger of 640 x 495 and what the panels need.
        const QSize least = f.form->minimumSize();
        QVERIFY(least.width() >= 640 && least.height() >= 495);
        f.form->resize(100, 100);
        QTRY_COMPARE(f.form->size(), least);
        f.state.clock.set(QDateTime(QDate(2026, 3, 9), QTime(23, 59, 30)));
        QTRY_VERIFY(f.child<QLabel>("lblToday")->text().startsWith("Today : "));
        const QString before = f.child<QLabel>("lblToday")->text();
        f.state.clock.set(QDateTime(QDate(2026, 3, 10), QTime(0, 0, 5)));
        QTRY_VERIFY(f.child<QLabel>("lblToday")->text() != before);
        // A fleet without projectors shows what to do first in the overview's place.
        QVERIFY(f.child<QFrame>("frameFirstStart")->isVisible());
        QVERIFY(!f.child<QTreeWidget>("ListViewFleet")->isVisible());

        f.messages.queueAnswer(MessageAnswer::No);
        QVERIFY(!f.form->close());
        QCOMPARE(f.messages.lastText(),
                 QString("Are you sure that you want to exit this program?"));
        QVERIFY(f.form->isVisible());
        f.messages.queueAnswer(MessageAnswer::Yes);
        QVERIFY(f.form->close());
    }

    // A failed ping of a member while its group is shown redraws that row
    // from the record and queues nothing (a re-query would flush every
    // member's commands in flight).
    void failedPingRedrawsOnlyItsRow() {
        auto fixture = std::make_unique<UiFixture>();
        UiFixture& f = *fixture;
        const int group = f.addGroupDirect("Hall");
        f.addLanDirect(group, "One", "192.0.2.1");
        f.addLanDirect(group, "Two", "192.0.2.2");
        f.quietEngine();
        for (int p : {1, 2}) {
            f.state.Projectors[p].Disconnected = false;
            f.state.Projectors[p].PowerStatus = 1;
            f.state.Projectors[p].ErrorStatus = 0;
        }
        f.selectTab(0);
        f.form->selectNode(group);
        auto* list = f.child<QTreeWidget>("ListView1");
        QCOMPARE(list->topLevelItemCount(), 2);
        const QString power = list->topLevelItem(0)->text(ColumnPower);
        QVERIFY(power != "-");
        for (int p : {1, 2})
            ResetProjectorQueue(f.state, p);

        QTemporaryDir tools;
        f.engine->setToolPrograms(MakePingScript(tools, "fail"), "ip", 5s);
        AddToPingList(f.state, 1);
        QTRY_COMPARE(list->topLevelItem(0)->text(ColumnStatus), QString("Disconnect"));
        QCOMPARE(list->topLevelItem(0)->text(ColumnPower), QString("-"));
        QCOMPARE(list->topLevelItem(1)->text(ColumnPower), power);
        QCOMPARE(list->topLevelItem(1)->text(ColumnStatus), QString("Normal"));
        QCOMPARE(f.queued(1), QStringList());
        QCOMPARE(f.queued(2), QStringList());

        // The same on a projector's own Status page.
        f.form->selectNode(NodeOfProjector(f.state, 2));
        ResetProjectorQueue(f.state, 2);
        AddToPingList(f.state, 2);
        QTRY_COMPARE(f.child<QLabel>("lblErrorStatus")->text(), QString("Disconnect"));
        QCOMPARE(f.queued(2), QStringList());
    }

    void followsTheSimulator() {
        SimProcess sim({"--tcp", "1"});
        QVERIFY2(sim.isReady(), qPrintable(sim.errorString()));
        auto fixture = std::make_unique<UiFixture>(); // the tables are too big for the stack
        UiFixture& f = *fixture;
        const int group = f.addGroupDirect("Sim");
        const int projector =
            f.addLanDirect(group, "One", "127.0.0.1", QString::number(sim.tcpPort(1)));
        f.engine->startDispatcher();
        f.selectTab(0);
        f.form->selectNode(group);
        auto* list = f.child<QTreeWidget>("ListView1");
        QTRY_VERIFY_WITH_TIMEOUT(list->topLevelItem(0)->text(ColumnStatus) == "Normal", 30000);
        QTRY_VERIFY_WITH_TIMEOUT(list->topLevelItem(0)->text(ColumnPower) != "-", 30000);

        // A control's commands reach the projector, in order.
        f.form->selectNode(projector);
        f.selectTab(1);
        // The panel's twelve queries end with the tint; wait for them all.
        QTRY_VERIFY_WITH_TIMEOUT(f.state.Projectors[1].Tint != 0, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(IsQueueEmpty(f.state, 1), 30000);
        QVERIFY(sim.command("clear 1").startsWith("OK"));
        UiFixture::pick(f.child<QComboBox>("cmbMirror"), 2);
        QTRY_VERIFY_WITH_TIMEOUT(sim.command("state 1").contains("mirror=2"), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(f.child<QComboBox>("cmbMirror")->currentIndex(), 2, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(IsQueueEmpty(f.state, 1), 30000);
        const QString frames = sim.command("frames 1");
        QVERIFY2(frames.startsWith("OK 2 "), qPrintable(frames));
        QVERIFY(frames.contains(Hex(f.engine->commands().MirrorVInverseCommand) + " " +
                                Hex(f.engine->commands().MirrorGetCommand)));
    }
};

QTEST_MAIN(TestUiPanels)
#include "test_ui_panels.moc"
