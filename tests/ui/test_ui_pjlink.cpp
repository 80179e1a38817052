// PJLink projectors in the window: their states in the lists, labels and
// tree marks, the Control rows they have and the lines those queue, a mixed
// group's report, and the projector dialog's protocol choice and password.
#include "UiFixture.h"

#include "support/SimProcess.h"
#include "ui/AddPJForm.h"
#include "ui/FleetState.h"
#include "ui/StatusRows.h"

#include <QFormLayout>
#include <QScrollArea>
#include <QTreeWidget>

namespace {

// Nodes: 1 root, 2 group "Hall", 3 "Own" (projector 1), 4 "PJ" (projector 2).
constexpr int Own = 1;
constexpr int PJ = 2;
constexpr int HallNode = 2;
constexpr int PJNode = 4;

std::unique_ptr<UiFixture> MixedHall() {
    auto fixture = std::make_unique<UiFixture>();
    UiFixture& f = *fixture;
    const int hall = f.addGroupDirect("Hall");
    f.addLanDirect(hall, "Own", "192.0.2.1");
    f.addPJLinkDirect(hall, "PJ", "192.0.2.2");
    f.quietEngine();
    for (int p : {Own, PJ}) {
        ProjectorInfo& info = f.state.Projectors[p];
        info.Disconnected = false;
        info.PowerStatus = 1;
        info.ErrorStatus = 0;
        info.LastReply = QDateTime(QDate(2026, 3, 1), QTime(8, 0));
    }
    return fixture;
}

QTreeWidgetItem* TreeItem(UiFixture& f, const QString& text) {
    const auto items = f.child<QTreeWidget>("ProjectorTree")
                           ->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return items.isEmpty() ? nullptr : items.first();
}

QTreeWidgetItem* RowOf(QTreeWidget* list, const QString& name) {
    for (int r = 0; r < list->topLevelItemCount(); ++r)
        if (list->topLevelItem(r)->text(ColumnName) == name)
            return list->topLevelItem(r);
    return nullptr;
}

// Whether the row of the Control panel that holds the named widget shows.
bool RowShown(UiFixture& f, const QString& name) {
    auto* widget = f.child<QWidget>(name);
    return widget && widget->isVisibleTo(f.child<QScrollArea>("scrollProjectorControl"));
}

QStringList Entries(const QComboBox* combo) {
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts << combo->itemText(i);
    return texts;
}

} // namespace

class TestUiPJLink : public QObject {
    Q_OBJECT

  private slots:
    void statusOfAProjector_data() {
        QTest::addColumn<bool>("pjlink");
        QTest::addColumn<int>("power");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("warning");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<bool>("gone");
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("seriousness");
        QTest::addColumn<QString>("tip");
        QTest::addColumn<QString>("powerText");
        QTest::addColumn<bool>("tinted");
        QTest::addRow("warming up")
            << true << 3 << 0 << "" << false << false << "Normal" << 5 << "PJ: Warming up"
            << "WARMUP" << false;
        QTest::addRow("lamp warning") << true << 1 << 0 << "Lamp Warning" << false << false
                                      << "Lamp Warning" << 4 << "PJ: On, Lamp Warning"
                                      << "ON" << true;
        QTest::addRow("an error outranks a warning")
            << true << 1 << 4 << "Fan Warning" << false << false << "Temp Error" << 0
            << "PJ: Temp Error"
            << "ON" << true;
        QTest::addRow("refused password")
            << true << 1 << 0 << "" << true << false << "Authentication Error" << 3
            << "PJ: Authentication Error"
            << "-" << true;
        QTest::addRow("refused password, then silent")
            << true << -1 << -1 << "Filter Warning" << true << true << "Authentication Error" << 3
            << "PJ: Authentication Error"
            << "-" << true;
        QTest::addRow("silent") << true << 1 << 0 << "Lamp Warning" << false << true << "Disconnect"
                                << 2 << "PJ: Not answering"
                                << "-" << false;
        QTest::addRow("own protocol has none of it")
            << false << 1 << 0 << "Lamp Warning" << true << false << "Normal" << 5 << "Own: On"
            << "ON" << false;
    }

    // The Status column, its sort rank, tint and tool tip, the Power and
    // Protocol columns and the tree's mark say the same state, in words.
    void statusOfAProjector() {
        QFETCH(bool, pjlink);
        QFETCH(int, power);
        QFETCH(int, error);
        QFETCH(QString, warning);
        QFETCH(bool, refused);
        QFETCH(bool, gone);
        QFETCH(QString, status);
        QFETCH(int, seriousness);
        QFETCH(QString, tip);
        QFETCH(QString, powerText);
        QFETCH(bool, tinted);
        auto fixture = MixedHall();
        UiFixture& f = *fixture;
        const int p = pjlink ? PJ : Own;
        ProjectorInfo& info = f.state.Projectors[p];
        info.PowerStatus = qint16(power);
        info.ErrorStatus = qint16(error);
        info.PJLink.Warning = warning;
        info.PJLink.AuthenticationError = refused;
        info.Disconnected = gone;
        f.selectTab(0);
        f.form->selectNode(1);
        f.form->statusChanged(p, StatusItem::Error);

        QTreeWidgetItem* row = RowOf(f.child<QTreeWidget>("ListViewFleet"), info.ProjectorName);
        QVERIFY(row);
        QCOMPARE(row->text(ColumnStatus), status);
        QCOMPARE(row->data(ColumnStatus, StatusRow::SortRole).toInt(), seriousness);
        QCOMPARE(row->data(ColumnStatus, Qt::BackgroundRole).isValid(), tinted);
        // A tinted state is also explained in words.
        QCOMPARE(!row->toolTip(ColumnStatus).isEmpty(), tinted && (refused || error == 0));
        QCOMPARE(row->text(ColumnPower), powerText);
        QCOMPARE(row->text(ColumnProtocol), QString(pjlink ? "PJLink" : "Own"));
        QCOMPARE(TreeItem(f, info.ProjectorName)->toolTip(0), tip);

        f.form->selectNode(pjlink ? PJNode : PJNode - 1);
        QCOMPARE(f.shownLabel("lblErrorStatus")->text(), status);
        QCOMPARE(f.shownLabel("lblPowerStatus")->text(), powerText);
        // The power drop-down selects nothing for a state it has no entry for.
        f.selectTab(1);
        const int entry = power == 1 ? 1 : power == 0 || power == 2 ? 0 : -1;
        QCOMPARE(f.child<QComboBox>("cmbPower")->currentIndex(), entry);
    }

    // Every state has a mark of its own, so no two are told apart by
    // colour alone or not at all; the group shows the most serious.
    void marksAndGroupState() {
        const std::vector<FleetState> states = {
            FleetState::NotReported,         FleetState::Off,     FleetState::On,
            FleetState::WarmingUp,           FleetState::Cooling, FleetState::NotAnswering,
            FleetState::AuthenticationError, FleetState::Error};
        QList<QImage> images;
        for (FleetState state : states) {
            const QImage image = MarkedIcon(IconKind::Projector, state)
                                     .pixmap(32, 32)
                                     .toImage()
                                     .convertToFormat(QImage::Format_Grayscale8);
            for (int i = 0; i < images.size(); ++i)
                QVERIFY2(image != images[i], qPrintable(StateText(state) + " looks like " +
                                                        StateText(states[std::size_t(i)])));
            images << image;
        }

        auto fixture = MixedHall();
        UiFixture& f = *fixture;
        f.state.Projectors[PJ].PJLink.AuthenticationError = true;
        f.form->statusChanged(PJ, StatusItem::Power);
        QCOMPARE(TreeItem(f, "Hall")->toolTip(0),
                 QString("Hall: Authentication Error (1 of 2 projectors)"));
        f.state.Projectors[Own].ErrorStatus = 3;
        f.form->statusChanged(Own, StatusItem::Error);
        QCOMPARE(TreeItem(f, "Hall")->toolTip(0), QString("Hall: Error (1 of 2 projectors)"));
    }

    void labels_data() {
        QTest::addColumn<int>("pjClass");
        QTest::addColumn<QStringList>("shown"); // label: text, for every information row
        QTest::addColumn<QStringList>("hidden");
        QTest::addRow("own") << 0 << QStringList{"lblProtocol:Own", "lblInputSource:S-Video"}
                             << QStringList{"lblMaker",       "lblProduct",      "lblPJLinkName",
                                            "lblPJLinkClass", "lblSerialNumber", "lblLamps"};
        QTest::addRow("class 1") << 1
                                 << QStringList{"lblProtocol:PJLink",
                                                "lblMaker:Orvane",
                                                "lblProduct:LX 90",
                                                "lblPJLinkName:Hall-A",
                                                "lblPJLinkClass:1",
                                                "lblInputSource:DIGITAL 1",
                                                "lblLampTime:40000 h",
                                                "lblFilterTime:-",
                                                "lblLamps:Lamp 1: 40000 h on, Lamp 2: 120 h off"}
                                 << QStringList{"lblSerialNumber"};
        QTest::addRow("class 2") << 2
                                 << QStringList{"lblPJLinkClass:2", "lblSerialNumber:SN0042",
                                                "lblInputSource:Laptop", "lblFilterTime:310 h",
                                                "lblModel:"}
                                 << QStringList{};
    }

    // The Status tab shows what a PJLink projector tells of itself, and an
    // own projector shows none of those rows.
    void labels() {
        QFETCH(int, pjClass);
        QFETCH(QStringList, shown);
        QFETCH(QStringList, hidden);
        auto fixture = MixedHall();
        UiFixture& f = *fixture;
        const int p = pjClass == 0 ? Own : PJ;
        PJLinkFacts& facts = f.state.Projectors[p].PJLink;
        facts.Class = qint16(pjClass);
        facts.Maker = "Orvane";
        facts.Product = "LX 90";
        facts.Name = "Hall-A";
        facts.SerialNumber = pjClass == 2 ? "SN0042" : "";
        facts.InputCode = pjClass == 2 ? "3A" : "31";
        facts.InputName = pjClass == 2 ? "Laptop" : "";
        f.state.Projectors[p].InputStatus = 3;
        facts.Lamps[0] = {40000, true};
        facts.Lamps[1] = {120, false};
        facts.LampCount = 2;
        f.state.Projectors[p].LampTime = 40000;
        f.state.Projectors[p].FilterTime = pjClass == 2 ? 310 : -1;
        f.selectTab(0);
        f.form->selectNode(p == Own ? PJNode - 1 : PJNode);
        // Identity arrives in replies that change no status item.
        f.form->commandFinished(p, "%1INF1 ?", CommandOutcome::Data);
        for (const QString& entry : shown) {
            const QString name = entry.section(':', 0, 0);
            QLabel* label = f.shownLabel(name);
            QVERIFY2(label, qPrintable(name + " is hidden"));
            QCOMPARE(label->text(), entry.section(':', 1));
        }
        for (const QString& name : hidden)
            QVERIFY2(!f.shownLabel(name), qPrintable(name + " is shown"));
    }

    void controlRows_data() {
        QTest::addColumn<int>("pjClass");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QStringList>("inputs");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QStringList>("shownQueries");
        QTest::addColumn<QStringList>("inputLines");
        QTest::addRow("class 1") << 1
                                 << QStringList{"cmbPower", "cmbInputSource", "cmbBlank", "cmbMute"}
                                 << QStringList{"RGB 1", "DIGITAL 1", "NETWORK 1"} << "DIGITAL 1"
                                 << QStringList{"%1POWR ?", "%1INPT ?", "%1AVMT ?"}
                                 << QStringList{"%1INPT 51", "%1INPT ?"};
        QTest::addRow("class 2") << 2
                                 << QStringList{"cmbPower", "cmbInputSource", "cmbBlank", "cmbMute",
                                                "cmbFreeze"}
                                 << QStringList{"RGB 1", "Laptop", "NETWORK 1"} << "Laptop"
                                 << QStringList{"%1POWR ?", "%2INPT ?", "%1AVMT ?", "%2FREZ ?"}
                                 << QStringList{"%2INPT 51", "%2INPT ?"};
    }

    // A PJLink projector's Control panel has only the rows PJLink has a
    // command for; an own projector gets every row back.
    void controlRows() {
        QFETCH(int, pjClass);
        QFETCH(QStringList, rows);
        QFETCH(QStringList, inputs);
        QFETCH(QString, input);
        QFETCH(QStringList, shownQueries);
        QFETCH(QStringList, inputLines);
        auto fixture = MixedHall();
        UiFixture& f = *fixture;
        PJLinkFacts& facts = f.state.Projectors[PJ].PJLink;
        facts.Class = qint16(pjClass);
        facts.Inputs = {"11", pjClass == 2 ? "3A" : "31", "51"};
        facts.InputCode = facts.Inputs[1];
        facts.InputName = pjClass == 2 ? "Laptop" : "";
        facts.FreezeStatus = 1;
        f.state.Projectors[PJ].InputStatus = 3;
        f.selectTab(1);
        f.form->selectNode(PJNode);
        const QStringList all = {"cmbPower",          "cmbInputSource", "cmbAspect",
                                 "cmbBlank",          "cmbMute",        "cmbWhisper",
                                 "cmbMirror",         "cmbFreeze",      "lblBrightValue",
                                 "lblSharpnessValue", "cmdAutoAdjust",  "cmdLampTimeReset",
                                 "cmdFilterTimeReset"};
        for (const QString& name : all)
            QVERIFY2(RowShown(f, name) == rows.contains(name), qPrintable(name));
        auto* inputSource = f.child<QComboBox>("cmbInputSource");
        QCOMPARE(Entries(inputSource), inputs);
        QCOMPARE(inputSource->currentText(), input);
        if (pjClass == 2)
            QCOMPARE(f.child<QComboBox>("cmbFreeze")->currentIndex(), 1);
        QCOMPARE(f.queuedLines(PJ), shownQueries);

        f.quietEngine();
        UiFixture::pick(inputSource, 2);
        QCOMPARE(f.queuedLines(PJ), inputLines);
        // A refusal is reported as for the own protocol.
        f.form->commandFinished(PJ, inputLines[0].toLatin1(), CommandOutcome::Refused);
        QCOMPARE(f.child<QLabel>("lblCommandResult")->text(),
                 QString("PJ: Input NETWORK 1 refused"));
        // A power off that had to wait for the end of the warm-up says so.
        f.quietEngine();
        UiFixture::pick(f.child<QComboBox>("cmbPower"), 0);
        f.form->commandFinished(PJ, "%1POWR 0", CommandOutcome::WaitedForWarmUp);
        QCOMPARE(f.child<QLabel>("lblCommandResult")->text(),
                 QString("PJ: Power OFF acknowledged, waited for warm-up"));

        f.form->selectNode(PJNode - 1);
        for (const QString& name : all)
            QVERIFY2(RowShown(f, name) == (name != "cmbFreeze"), qPrintable(name));
    }

    // Freeze (class 2) queues its line and the query; a reply that tells
    // the class shows the row, and the drop-down follows the reported state.
    void freeze() {
        auto fixture = MixedHall();
        UiFixture& f = *fixture;
        f.selectTab(1);
        f.form->selectNode(PJNode);
        QVERIFY(!RowShown(f, "cmbFreeze"));
        // No inputs known yet: they are asked.
        QCOMPARE(f.queuedLines(PJ), (QStringList{"%1POWR ?", "%1INPT ?", "%1AVMT ?", "%1INST ?"}));
        f.state.Projectors[PJ].PJLink.Class = 2;
        f.state.Projectors[PJ].PJLink.FreezeStatus = 0;
        f.form->commandFinished(PJ, "%1CLSS ?", CommandOutcome::Data);
        QVERIFY(RowShown(f, "cmbFreeze"));
        auto* freeze = f.child<QComboBox>("cmbFreeze");
        QCOMPARE(freeze->currentIndex(), 0);
        f.quietEngine();
        UiFixture::pick(freeze, 1);
        QCOMPARE(f.queuedLines(PJ), (QStringList{"%2FREZ 1", "%2FREZ ?"}));
        // Refused: the drop-down goes back to what the projector reports.
        f.form->commandFinished(PJ, "%2FREZ 1", CommandOutcome::Refused);
        QCOMPARE(freeze->currentIndex(), 0);
    }

    // One power-on of a mixed group reaches each projector in its own
    // protocol, and one report covers both.
    void mixedGroupPower() {
        auto fixture = MixedHall();
        UiFixture& f = *fixture;
        f.selectTab(1);
        f.form->selectNode(HallNode);
        UiFixture::pick(f.child<QComboBox>("cmbGroupPower"), 1);
        QCOMPARE(f.queued(Own), QStringList{"PowerOnCommand"});
        QCOMPARE(f.queuedLines(PJ), QStringList{"%1POWR 1"});
        f.form->commandFinished(Own, {}, CommandOutcome::Acknowledged);
        f.form->commandFinished(PJ, "%1POWR 1", CommandOutcome::Refused);
        QCOMPARE(f.child<QLabel>("lblCommandResult")->text(),
                 QString("Hall: Power ON, 1 of 2 acknowledged, refused by PJ"));
    }

    void followsASimulatedProjector_data() {
        QTest::addColumn<int>("pjClass");
        QTest::addColumn<QString>("password"); // the projector's
        QTest::addColumn<QString>("given");    // ours
        QTest::addRow("class 1, open") << 1 << ""
                                       << "";
        QTest::addRow("class 2, password") << 2 << "s3cret"
                                           << "s3cret";
        QTest::addRow("wrong password") << 2 << "s3cret"
                                        << "guess";
    }

    // Against the simulator: what a projector tells of itself reaches the
    // labels and the Control panel, its input and freeze can be set, and a
    // refused password is shown as such.
    void followsASimulatedProjector() {
        QFETCH(int, pjClass);
        QFETCH(QString, password);
        QFETCH(QString, given);
        QStringList arguments = {"--pjlink", "1", "--pjlink-class", QString::number(pjClass)};
        if (!password.isEmpty())
            arguments << "--pjlink-password" << password;
        SimProcess sim(arguments);
        QVERIFY2(sim.isReady(), qPrintable(sim.errorString()));
        QVERIFY(sim.command("pj 1 power 1").startsWith("OK"));
        auto fixture = std::make_unique<UiFixture>();
        UiFixture& f = *fixture;
        f.state.Timing.TcpTimeoutTime = 1000;
        f.state.Timing.StatusCheckInterval = 1;
        f.state.PJLinkPassword = [given](int) { return given; };
        const int node =
            f.addPJLinkDirect(1, "PJ", "127.0.0.1", QString::number(sim.pjlinkPort(1)));
        f.selectTab(0);
        f.form->selectNode(node);
        f.engine->startDispatcher();
        f.engine->startPolling();
        if (given != password) {
            QTRY_COMPARE_WITH_TIMEOUT(TreeItem(f, "PJ")->toolTip(0),
                                      QString("PJ: Authentication Error"), 30000);
            QCOMPARE(f.shownLabel("lblErrorStatus")->text(), QString("Authentication Error"));
            QVERIFY(!f.shownLabel("lblErrorStatus")->toolTip().isEmpty());
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(TreeItem(f, "PJ")->toolTip(0), QString("PJ: On"), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(f.shownLabel("lblMaker")->text(), QString("Sim Optics"), 30000);
        QCOMPARE(f.shownLabel("lblPJLinkClass")->text(), QString::number(pjClass));
        QCOMPARE(f.shownLabel("lblSerialNumber") != nullptr, pjClass == 2);

        f.selectTab(1);
        auto* inputs = f.child<QComboBox>("cmbInputSource");
        QTRY_VERIFY_WITH_TIMEOUT(inputs->findText("DIGITAL 2") >= 0, 30000);
        UiFixture::pick(inputs, inputs->findText("DIGITAL 2"));
        QTRY_VERIFY_WITH_TIMEOUT(sim.command("pj 1 state").contains("input=32"), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(inputs->currentText(), QString("DIGITAL 2"), 30000);
        QCOMPARE(RowShown(f, "cmbFreeze"), pjClass == 2);
        if (pjClass == 2) {
            UiFixture::pick(f.child<QComboBox>("cmbFreeze"), 1);
            QTRY_VERIFY_WITH_TIMEOUT(sim.command("pj 1 state").contains("freeze=1"), 30000);
        }
    }

    // Adding a PJLink projector: the port, the LAN and the password row
    // follow the protocol, the model may stay empty, and the password goes
    // to the password keeper, never into the record.
    void addDialog() {
        auto fixture = std::make_unique<UiFixture>();
        UiFixture& f = *fixture;
        QStringList stored;
        f.form->StorePJLinkPassword = [&stored](int p, const QString& password) {
            stored << QString("%1:%2").arg(p).arg(password);
            return true;
        };
        f.form->selectNode(1);
        f.action("menuAddProjector")->trigger();
        auto* dialog = f.openDialog<AddPJForm>();
        QVERIFY(dialog);
        auto* protocol = dialog->findChild<QComboBox*>("cmbProtocol");
        auto* port = dialog->findChild<QLineEdit*>("txtPortNo");
        auto* model = dialog->findChild<QComboBox*>("cmbModel");
        auto* password = dialog->findChild<QLineEdit*>("txtPJLinkPassword");
        auto* serial = dialog->findChild<QRadioButton*>("optRS232C");
        QCOMPARE(Entries(protocol), (QStringList{"Own", "PJLink"}));
        QVERIFY(!password->isVisible());
        const QString modelPort = port->text();

        struct Step {
            int protocol;
            QString typedPort; // empty: leave the field as it is
            QString port;
        };
        const std::vector<Step> steps = {
            {1, "", "4352"}, {0, "", modelPort}, {1, "", "4352"}, {1, "5000", "5000"},
            {0, "", "5000"}, {1, "", "5000"},    {0, "23", "23"}, {1, "", "4352"},
        };
        for (const Step& step : steps) {
            if (!step.typedPort.isEmpty())
                port->setText(step.typedPort);
            protocol->setCurrentIndex(step.protocol);
            QCOMPARE(port->text(), step.port);
            const bool pjlink = step.protocol == 1;
            QCOMPARE(serial->isEnabled(), !pjlink);
            QCOMPARE(password->isVisible(), pjlink);
            QCOMPARE(model->findText("(none)") >= 0, pjlink);
        }
        QVERIFY(dialog->findChild<QRadioButton*>("optNETWORK")->isChecked());
        QCOMPARE(model->currentText(), QString("(none)"));
        QCOMPARE(password->echoMode(), QLineEdit::Password);
        QVERIFY(password->placeholderText().isEmpty());
        UiFixture::type(dialog, "txtProjectorName", "Foyer");
        UiFixture::type(dialog, "txtIPAddress", "192.0.2.9");
        UiFixture::type(dialog, "txtPJLinkPassword", "s3cret");
        UiFixture::click(dialog, "cmdOK");
        QCOMPARE(f.messages.lastText(), QString());
        QVERIFY(!dialog->isVisible());

        const ProjectorInfo& added = f.state.Projectors[1];
        QCOMPARE(added.ProjectorName, QString("Foyer"));
        QVERIFY(IsPJLink(added));
        QCOMPARE(added.ConnectionKind, ConnectionLan);
        QCOMPARE(added.PortNo, QString("4352"));
        QCOMPARE(added.ModelName, QString());
        QCOMPARE(stored, QStringList{"1:s3cret"});
    }

    void editDialog_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QString>("protocol");
        QTest::addRow("untouched") << "" << QStringList{} << "PJLink";
        QTest::addRow("new password") << "password n3w" << QStringList{"1:n3w"} << "PJLink";
        QTest::addRow("password cleared") << "password " << QStringList{"1:"} << "PJLink";
        // The stored one leaves the old address and follows to the new one.
        QTest::addRow("moved") << "address 192.0.2.10" << QStringList{"1:", "1:s3cret"} << "PJLink";
        QTest::addRow("no longer PJLink") << "protocol 0" << QStringList{"1:"} << "";
    }

    // Editing never shows the stored password; a field left alone keeps it.
    void editDialog() {
        QFETCH(QString, change);
        QFETCH(QStringList, stored);
        QFETCH(QString, protocol);
        auto fixture = std::make_unique<UiFixture>();
        UiFixture& f = *fixture;
        f.addPJLinkDirect(1, "Foyer", "192.0.2.9");
        f.state.PJLinkPassword = [](int p) { return p == 1 ? QString("s3cret") : QString(); };
        QStringList calls;
        f.form->StorePJLinkPassword = [&calls](int p, const QString& password) {
            calls << QString("%1:%2").arg(p).arg(password);
            return true;
        };
        f.form->selectNode(2);
        f.action("menuEdit")->trigger();
        auto* dialog = f.openDialog<AddPJForm>();
        QVERIFY(dialog);
        auto* password = dialog->findChild<QLineEdit*>("txtPJLinkPassword");
        QCOMPARE(password->text(), QString());
        QCOMPARE(password->placeholderText(), QString("unchanged"));
        QCOMPARE(dialog->findChild<QComboBox*>("cmbModel")->currentText(), QString("(none)"));
        const QString what = change.section(' ', 0, 0);
        const QString value = change.section(' ', 1);
        if (what == "password") {
            password->setText("x");
            password->setText(value);
        } else if (what == "address") {
            UiFixture::type(dialog, "txtIPAddress", value);
        } else if (what == "protocol") {
            dialog->findChild<QComboBox*>("cmbProtocol")->setCurrentIndex(value.toInt());
            auto* model = dialog->findChild<QComboBox*>("cmbModel");
            QCOMPARE(model->findText("(none)"), -1);
            model->setCurrentIndex(model->findText("VX-5100N"));
            QCOMPARE(dialog->findChild<QLineEdit*>("txtPortNo")->text(), QString("23"));
        }
        UiFixture::click(dialog, "cmdOK");
        QVERIFY(!dialog->isVisible());
        QCOMPARE(calls, stored);
        QCOMPARE(f.state.Projectors[1].Protocol, protocol);
    }
};

QTEST_MAIN(TestUiPJLink)
#include "test_ui_pjlink.moc"
