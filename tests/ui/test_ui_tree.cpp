// Building the tree through the dialogs: every validation message, editing
// and deleting with Yes and No, and what reaches the settings file.
#include "UiFixture.h"

#include <QDir>

#include "ui/AddGroupForm.h"
#include "ui/AddPJForm.h"
#include "ui/RefreshForm.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QSettings>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

class TestUiTree : public QObject {
    Q_OBJECT

  private:
    // Opens the group dialog from the root, types the name and presses OK.
    static QString addGroup(UiFixture& f, const QString& name) {
        f.form->selectNode(1);
        f.messages.clearShown();
        f.action("menuAddGroup")->trigger();
        auto* dialog = f.openDialog<AddGroupForm>();
        if (!dialog)
            return "no dialog";
        UiFixture::type(dialog, "txtGroupName", name);
        UiFixture::click(dialog, "cmdOK");
        const QString message = f.messages.lastText();
        if (dialog->isVisible())
            UiFixture::click(dialog, "cmdCancel");
        return message;
    }

  private slots:
    void groupDialogChecksAndKeys() {
        auto fixture = std::make_unique<UiFixture>(); // the tables are too big for the stack
        UiFixture& f = *fixture;
        QCOMPARE(addGroup(f, ""), QString("A Group Name is not sepcified."));
        QCOMPARE(addGroup(f, "   "), QString("A Group Name is not sepcified."));
        QCOMPARE(addGroup(f, "two\nlines"),
                 QString("A name cannot contain line breaks or control characters."));
        QCOMPARE(addGroup(f, "tab\there"),
                 QString("A name cannot contain line breaks or control characters."));
        QCOMPARE(f.state.Nodes.size(), std::size_t(1));

        QCOMPARE(addGroup(f, "Hall"), QString());
        QCOMPARE(addGroup(f, "Hall"), QString("A Group Name overlaps."));
        QCOMPARE(f.messages.shown().last().kind, MessageKind::Warning);
        QCOMPARE(addGroup(f, "hall"), QString()); // case matters
        QCOMPARE(addGroup(f, " Hall "), QString());
        const QString odd = QString::fromUtf8("Säle [1]=a;b'c");
        QCOMPARE(addGroup(f, odd), QString());
        // As long as the CSV import takes it, so an export comes back in.
        QCOMPARE(addGroup(f, QString(257, QChar('x'))),
                 QString("A name has more than 256 characters."));
        QCOMPARE(addGroup(f, QString::fromUtf8("a\u200Bb")),
                 QString("A name cannot contain bidirectional or zero-width characters."));
        const QString longName(256, QChar('x'));
        QCOMPARE(addGroup(f, longName), QString());

        QStringList keys;
        for (const TreeNode& node : f.state.Nodes)
            keys << node.KeyName;
        QCOMPARE(keys, QStringList({"rt", "g0", "g1", "g2", "g3", "g4"}));

        // Deleting g1 frees its number for the next group.
        f.form->selectNode(3);
        f.messages.queueAnswer(MessageAnswer::Yes);
        f.action("menuDelete")->trigger();
        QCOMPARE(addGroup(f, "Again"), QString());
        QCOMPARE(f.state.Nodes.back().KeyName, QString("g1"));

        // Everything, odd characters included, comes back from the file.
        f.closeWindow();
        auto reloadedState = std::make_unique<AppState>();
        AppState& reloaded = *reloadedState;
        f.store->LoadTree(reloaded);
        QCOMPARE(reloaded.Nodes.size(), f.state.Nodes.size());
        for (std::size_t i = 0; i < reloaded.Nodes.size(); ++i)
            QCOMPARE(reloaded.Nodes[i].Text, f.state.Nodes[i].Text);
        QCOMPARE(reloaded.Nodes[3].Text, odd);
        QCOMPARE(reloaded.Nodes[2].Text, QString(" Hall "));
    }

    void failedSaveIsReported() {
        auto fixture = std::make_unique<UiFixture>(); // the tables are too big for the stack
        UiFixture& f = *fixture;
        // A folder where the settings file should be makes every save fail.
        QFile::remove(f.store->filePath());
        QVERIFY(QDir().mkdir(f.store->filePath()));
        QVERIFY(addGroup(f, "Hall").startsWith("The settings could not be saved to"));
        QCOMPARE(f.messages.shown().last().kind, MessageKind::Warning);
        QCOMPARE(f.state.Nodes.size(), std::size_t(2)); // kept for this run
    }

    void projectorDialogChecks() {
        auto fixture = std::make_unique<UiFixture>(); // the tables are too big for the stack
        UiFixture& f = *fixture;
        f.addSerialDirect(1, "Serial", 3);
        f.addLanDirect(1, "Lan", "10.0.0.5", "23");
        f.form->selectNode(1);
        f.action("menuAddProjector")->trigger();
        auto* dialog = f.openDialog<AddPJForm>();
        QVERIFY(dialog);
        QCOMPARE(dialog->windowTitle(), QString("Add Projector"));
        auto ok = [&] {
            f.messages.clearShown();
            UiFixture::click(dialog, "cmdOK");
            return f.messages.lastText();
        };
        QCOMPARE(ok(), QString("A Projector Name is not specified."));
        UiFixture::type(dialog, "txtProjectorName", "  ");
        QCOMPARE(ok(), QString("A Projector Name is not specified."));
        UiFixture::type(dialog, "txtProjectorName", "bad\rname");
        QCOMPARE(ok(), QString("A name cannot contain line breaks or control characters."));
        UiFixture::type(dialog, "txtProjectorName", QString::fromUtf8("abc\u202Etxt"));
        QCOMPARE(ok(), QString("A name cannot contain bidirectional or zero-width characters."));
        UiFixture::type(dialog, "txtProjectorName", QString(300, QChar('n')));
        QCOMPARE(dialog->findChild<QLineEdit*>("txtProjectorName")->text().size(), 256);
        UiFixture::type(dialog, "txtProjectorName", QString::fromUtf8(" Beamer [x]=1;'ü "));
        dialog->findChild<QComboBox*>("cmbCOMPort")->setCurrentIndex(2);
        QCOMPARE(ok(), QString("COM port overlapps."));

        // Waking by LAN is for LAN projectors only.
        auto* wake = dialog->findChild<QCheckBox*>("chkWakeOnLan");
        QVERIFY(wake && !wake->isEnabled() && !wake->isChecked());
        dialog->findChild<QRadioButton*>("optNETWORK")->setChecked(true);
        QVERIFY(wake->isEnabled());
        wake->setChecked(true);
        auto* model = dialog->findChild<QComboBox*>("cmbModel");
        // A model without a network port of its own gets the usual one.
        QCOMPARE(dialog->findChild<QLineEdit*>("txtPortNo")->text(), QString("23"));
        model->setCurrentIndex(model->findText("VX-5100N"));
        model->setCurrentIndex(model->findText("VX-4200"));
        QCOMPARE(dialog->findChild<QLineEdit*>("txtPortNo")->text(), QString("23"));
        QCOMPARE(ok(), QString("An IP address is not specified."));
        for (const char* address : {"999.1.1.1", "1.2.3", "::1", "-oProxy=x", " 10.0.0.5"}) {
            UiFixture::type(dialog, "txtIPAddress", address);
            QVERIFY2(ok().contains("is no IPv4 address"), address);
        }
        UiFixture::type(dialog, "txtIPAddress", "10.0.0.5");
        UiFixture::type(dialog, "txtPortNo", "");
        QCOMPARE(ok(), QString("Port No is not specified."));
        UiFixture::type(dialog, "txtPortNo", "0");
        QCOMPARE(ok(), QString("The port \"0\" is not a number from 1 to 65535."));
        UiFixture::type(dialog, "txtPortNo", "");
        model->setCurrentIndex(model->findText("VX-5100N"));
        QCOMPARE(dialog->findChild<QLineEdit*>("txtPortNo")->text(), QString("23"));
        QCOMPARE(ok(), QString("An IP address overlaps."));
        UiFixture::type(dialog, "txtPortNo", "4352");
        QCOMPARE(ok(), QString());
        QVERIFY(!dialog->isVisible());

        QCOMPARE(f.state.ProjectorCount, qint16(3));
        const ProjectorInfo& added = f.state.Projectors[3];
        QCOMPARE(added.ProjectorName, QString::fromUtf8(" Beamer [x]=1;'ü "));
        QCOMPARE(added.ConnectionKind, ConnectionLan);
        QCOMPARE(added.PortNo, QString("4352"));
        QVERIFY(added.WakeOnLan);
        QCOMPARE(f.state.Nodes.back().Text, added.ProjectorName);
        QCOMPARE(f.state.NodeProjector[4], qint16(3));

        auto reloadedState = std::make_unique<AppState>();
        AppState& reloaded = *reloadedState;
        f.store->LoadConfiguration(reloaded);
        QCOMPARE(reloaded.ProjectorCount, qint16(3));
        QCOMPARE(reloaded.Projectors[3].ProjectorName, added.ProjectorName);
        QVERIFY(reloaded.Projectors[3].WakeOnLan);

        // Edit mode makes no overlap check; serial clears the LAN fields.
        f.form->selectNode(4);
        f.action("menuEdit")->trigger();
        dialog = f.openDialog<AddPJForm>();
        QVERIFY(dialog);
        QCOMPARE(dialog->windowTitle(), QString("Edit Projector"));
        wake = dialog->findChild<QCheckBox*>("chkWakeOnLan");
        QVERIFY(wake->isEnabled() && wake->isChecked());
        dialog->findChild<QRadioButton*>("optRS232C")->setChecked(true);
        QVERIFY(!wake->isEnabled());
        dialog->findChild<QComboBox*>("cmbCOMPort")->setCurrentIndex(2);
        QCOMPARE(ok(), QString());
        QCOMPARE(f.state.Projectors[3].COMPort, qint16(3));
        QCOMPARE(f.state.Projectors[3].IPAddress, QString());
        QCOMPARE(f.state.Projectors[3].PortNo, QString());
        QCOMPARE(f.state.Projectors[3].COMSettings, QString("19200,n,8,1"));
        QVERIFY(!f.state.Projectors[3].WakeOnLan);
    }

    void refusalsAndLimits() {
        auto fixture = std::make_unique<UiFixture>(); // the tables are too big for the stack
        UiFixture& f = *fixture;
        const int lan = f.addLanDirect(1, "Lan", "10.0.0.5");
        f.state.MacAcquiring = true;
        const QString acquiring = "During the MAC address acquisition.\nWait for a while.";
        for (const char* name : {"menuAddProjector", "menuEdit", "menuDelete"}) {
            f.form->selectNode(QString(name) == "menuAddProjector" ? 1 : lan);
            f.messages.clearShown();
            f.action(name)->trigger();
            QCOMPARE(f.messages.lastText(), acquiring);
            QVERIFY(!f.openDialog<AddPJForm>());
        }
        QCOMPARE(f.state.ProjectorCount, qint16(1));
        f.state.MacAcquiring = false;

        f.state.ProjectorCount = MaxProjectors;
        f.form->selectNode(1);
        f.action("menuAddProjector")->trigger();
        QCOMPARE(f.messages.lastText(), QString("No more than 256 projectors can be registered."));
        QVERIFY(!f.openDialog<AddPJForm>());
        f.state.ProjectorCount = 1;
    }

    void deleteWithYesAndNo() {
        auto fixture = std::make_unique<UiFixture>(); // the tables are too big for the stack
        UiFixture& f = *fixture;
        const int group = f.addGroupDirect("G");
        f.addLanDirect(group, "A", "10.0.0.1");
        f.addLanDirect(group, "B", "10.0.0.2");
        f.addLanDirect(1, "C", "10.0.0.3");

        f.form->selectNode(4); // B, projector 2
        f.messages.queueAnswer(MessageAnswer::No);
        f.action("menuDelete")->trigger();
        QCOMPARE(f.messages.lastText(),
                 QString("Are you sure you want to delete the selected projector?"));
        QCOMPARE(f.state.ProjectorCount, qint16(3));

        f.messages.queueAnswer(MessageAnswer::Yes);
        f.action("menuDelete")->trigger();
        QCOMPARE(f.state.ProjectorCount, qint16(2));
        QCOMPARE(f.state.Projectors[2].ProjectorName, QString("C"));
        QCOMPARE(f.state.NodeProjector[4], qint16(2));
        QCOMPARE(f.form->selectedNode(), group);

        f.messages.queueAnswer(MessageAnswer::Yes);
        f.action("menuDelete")->trigger();
        QCOMPARE(f.messages.lastText(),
                 QString("Are you sure you want to delete the selected group?"));
        QCOMPARE(f.state.ProjectorCount, qint16(1));
        QCOMPARE(f.state.Projectors[1].ProjectorName, QString("C"));
        QCOMPARE(f.state.Nodes.size(), std::size_t(2));

        auto reloadedState = std::make_unique<AppState>();
        AppState& reloaded = *reloadedState;
        f.store->LoadConfiguration(reloaded);
        f.store->LoadTree(reloaded);
        QCOMPARE(reloaded.ProjectorCount, qint16(1));
        QCOMPARE(reloaded.Nodes.size(), std::size_t(2));
        QCOMPARE(reloaded.NodeProjector[2], qint16(1));
    }

    void rightClickKeepsTheSelection() {
        auto fixture = std::make_unique<UiFixture>();
        UiFixture& f = *fixture;
        const int group = f.addGroupDirect("G");
        f.form->selectNode(1);
        auto* tree = f.child<QTreeWidget>("ProjectorTree");
        QTreeWidgetItem* groupItem = tree->topLevelItem(0)->child(0);
        QCOMPARE(groupItem->text(0), QString("G"));
        const QPoint at = tree->visualItemRect(groupItem).center();
        QTest::mouseClick(tree->viewport(), Qt::RightButton, {}, at);
        QCOMPARE(f.form->selectedNode(), 1);
        auto* popup = f.child<QMenu>("PopupMenu");
        QTRY_VERIFY(popup->isVisible());
        popup->hide();
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(f.form->selectedNode(), group);

        // Neither a click below the last node nor a control-click on the
        // selected node leaves the panels without a node to act on.
        const QPoint below(at.x(), tree->viewport()->height() - 2);
        QVERIFY(!tree->itemAt(below));
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, below);
        QCOMPARE(f.form->selectedNode(), group);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::ControlModifier, at);
        QCOMPARE(f.form->selectedNode(), group);
        QVERIFY(f.action("menuDelete")->isEnabled());
    }

    void refreshDialog() {
        int seconds = 0;
        QVERIFY(!ParseStatusInterval("", &seconds));
        QVERIFY(!ParseStatusInterval("9", &seconds));
        QVERIFY(!ParseStatusInterval("3601", &seconds));
        QVERIFY(!ParseStatusInterval("abc", &seconds));
        QVERIFY(!ParseStatusInterval("  ", &seconds));
        QVERIFY(ParseStatusInterval("10", &seconds) && seconds == 10);
        QVERIFY(ParseStatusInterval("3600", &seconds) && seconds == 3600);
        QVERIFY(ParseStatusInterval("12ab", &seconds) && seconds == 12);
        QVERIFY(ParseStatusInterval("10.5", &seconds) && seconds == 10);

        auto fixture = std::make_unique<UiFixture>(); // the tables are too big for the stack
        UiFixture& f = *fixture;
        f.action("menuStatusCheckInterval")->trigger();
        auto* dialog = f.openDialog<RefreshForm>();
        QVERIFY(dialog);
        QCOMPARE(dialog->findChild<QLineEdit*>("txtTime")->text(), QString("300"));
        UiFixture::type(dialog, "txtTime", "9");
        UiFixture::click(dialog, "cmdOK");
        QCOMPARE(f.messages.lastText(), QString("Time is Invalid."));
        QCOMPARE(f.messages.shown().last().kind, MessageKind::Critical);
        QVERIFY(dialog->isVisible());
        UiFixture::type(dialog, "txtTime", "15x");
        UiFixture::click(dialog, "cmdOK");
        QVERIFY(!dialog->isVisible());
        QCOMPARE(f.state.Timing.StatusCheckInterval, 15);
        QSettings file(f.store->filePath(), QSettings::IniFormat);
        QCOMPARE(file.value("Setting/StatusCheckInterval").toString(), QString("15x"));

        // Keys stop at four characters; a longer text set in the field is
        // read by its leading number and stored whole.
        f.action("menuStatusCheckInterval")->trigger();
        dialog = f.openDialog<RefreshForm>();
        QVERIFY(dialog);
        auto* field = dialog->findChild<QLineEdit*>("txtTime");
        field->clear();
        QTest::keyClicks(field, "123456");
        QCOMPARE(field->text(), QString("1234"));
        UiFixture::type(dialog, "txtTime", "12abcd");
        QTest::keyClick(field, Qt::Key_End);
        QTest::keyClick(field, Qt::Key_X);
        QCOMPARE(field->text(), QString("12abcd"));
        QTest::keyClick(field, Qt::Key_Backspace);
        QCOMPARE(field->text(), QString("12abc"));
        UiFixture::click(dialog, "cmdOK");
        QVERIFY(!dialog->isVisible());
        QCOMPARE(f.state.Timing.StatusCheckInterval, 12);
        file.sync();
        QCOMPARE(file.value("Setting/StatusCheckInterval").toString(), QString("12abc"));
    }

    // The search box over 256 projectors: by name, address and state, in
    // the tree and the fleet overview, without touching the selection or
    // the stored tree; Ctrl+F finds the box, Escape clears it.
    void searchFiltersTheTree() {
        auto fixture = std::make_unique<UiFixture>();
        UiFixture& f = *fixture;
        for (int g = 0; g < 4; ++g) {
            const int group = AddGroupNode(f.state, QStringLiteral("Wing %1").arg(g + 1), nullptr);
            for (int k = 0; k < 64; ++k) {
                const QString name =
                    QStringLiteral("R%1%2").arg(g + 1).arg(k, 2, 10, QLatin1Char('0'));
                QVERIFY(
                    AddProjector(f.state, group,
                                 LanProjector(name, QStringLiteral("192.0.2.%1").arg(g * 64 + k))
                                     .model(QStringLiteral("VX-5100N"))) > 0);
            }
        }
        f.saveAndReload();
        QCOMPARE(f.state.ProjectorCount, qint16(256));
        for (int p = 1; p <= 256; ++p)
            f.state.Projectors[p].Disconnected = p != 100;
        f.state.Projectors[7].Disconnected = false;
        f.state.Projectors[7].ErrorStatus = 3;
        f.form->selectNode(1);
        f.selectTab(0);
        auto* tree = f.child<QTreeWidget>("ProjectorTree");
        auto* search = f.child<QLineEdit>("txtTreeSearch");
        auto* overview = f.child<QTreeWidget>("ListViewFleet");
        auto* noMatch = f.child<QLabel>("lblTreeNoMatch");
        QVERIFY(tree && search && overview && noMatch);
        const auto visible = [](QTreeWidget* widget) {
            int n = 0;
            for (QTreeWidgetItemIterator it(widget); *it; ++it)
                n += !(*it)->isHidden();
            return n;
        };
        const int all = visible(tree);
        QCOMPARE(all, 1 + 4 + 256);
        struct Case {
            const char* text;
            int tree;     // root, groups and projectors shown
            int overview; // rows shown
        };
        const Case cases[] = {{"r305", 3, 1},
                              {"192.0.2.25", 1 + 2 + 7, 7}, // 25, 250..255: two wings
                              {"lamp error", 3, 1},
                              {"Disconnect", 1 + 4 + 254, 254},
                              {"nowhere", 0, 0}};
        f.form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f.form.get()));
        QTest::keySequence(f.form.get(), QKeySequence::Find);
        QTRY_VERIFY(search->hasFocus());
        for (const Case& c : cases) {
            search->setText(QString::fromLatin1(c.text));
            QCOMPARE(visible(tree), c.tree);
            QCOMPARE(visible(overview), c.overview);
            QCOMPARE(f.form->selectedNode(), 1);
            // An empty tree says why.
            QCOMPARE(noMatch->isVisible(), c.tree == 0);
            if (c.tree == 0)
                QCOMPARE(noMatch->text(), QString("Nothing matches \"%1\".").arg(c.text));
        }
        QTest::keyClick(search, Qt::Key_Escape);
        QVERIFY(search->text().isEmpty());
        QVERIFY(!noMatch->isVisible());
        QCOMPARE(visible(tree), all);
        QCOMPARE(visible(overview), 256);
        QCOMPARE(NodeCount(f.state), 1 + 4 + 256);
    }
};

QTEST_MAIN(TestUiTree)
#include "test_ui_tree.moc"
