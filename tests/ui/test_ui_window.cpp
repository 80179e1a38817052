// The window as an operator at a control-room desk meets it: status-bar
// items that are never cut without saying so, the overview sorted by what
// needs attention and laid out as the operator left it, readable states in
// light and dark palettes, guarded pastes, the mail dialog's refusals and
// confirmations that name what they act on.

#include "UiFixture.h"

#include "mail/MailWorker.h"
#include "ui/AddPJForm.h"
#include "ui/ElidedLabel.h"
#include "ui/MailSettingsForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTcpServer>
#include <QToolButton>
#include <QTreeWidget>

#include <cmath>

namespace {

QStringList Column(QTreeWidget* list, int column) {
    QStringList texts;
    for (int r = 0; r < list->topLevelItemCount(); ++r)
        texts << list->topLevelItem(r)->text(column);
    return texts;
}

// Relative luminance and contrast ratio of two sRGB colours.
double Luminance(const QColor& c) {
    const auto linear = [](double v) {
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

double Contrast(const QColor& a, const QColor& b) {
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QPalette DarkPalette() {
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(45, 45, 45));
    dark.setColor(QPalette::WindowText, QColor(220, 220, 220));
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    dark.setColor(QPalette::AlternateBase, QColor(40, 40, 40));
    dark.setColor(QPalette::Text, QColor(220, 220, 220));
    dark.setColor(QPalette::Disabled, QPalette::Text, QColor(110, 110, 110));
    dark.setColor(QPalette::Button, QColor(50, 50, 50));
    dark.setColor(QPalette::ButtonText, QColor(220, 220, 220));
    return dark;
}

// A port on 127.0.0.1 where nothing listens.
quint16 ClosedPort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

// Sets a projector's record to one of the states the Status column ranks.
void SetState(ProjectorInfo& info, const QString& state) {
    info.Disconnected = state == "lost" || state == "never";
    info.LastReply = state == "never" ? QDateTime() : QDateTime(QDate(2026, 3, 1), QTime(8, 0));
    info.Refusing = state == "refusing";
    info.ErrorStatus = state == "lamp" ? 3 : state == "fan" ? 2 : 0;
    info.PowerStatus = state == "off" ? 0 : 1;
}

// Records what the window asks the desktop to open.
class OpenedUrls : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> urls;
  public slots:
    void open(const QUrl& url) { urls << url; }
};

} // namespace

class TestUiWindow : public QObject {
    Q_OBJECT

  private slots:
    // At the least size and at a large font every status-bar item either
    // shows its whole text or ends in "…" with the whole text in its tool
    // tip (the schedule's state is never cut); a long group line is kept
    // whole in the problems list, and the permanent items keep their places
    // while their texts change.
    void statusBarNeverCutsSilently_data() {
        QTest::addColumn<double>("points");
        QTest::newRow("default font") << 0.0;
        QTest::newRow("13.5 pt") << 13.5;
    }
    void statusBarNeverCutsSilently() {
        QFETCH(double, points);
        const QFont original = QApplication::font();
        if (points > 0) {
            QFont font = original;
            font.setPointSizeF(points);
            QApplication::setFont(font);
        }
        auto fixture = std::make_unique<UiFixture>();
        UiFixture& f = *fixture;
        f.state.Timing.TcpTimeoutTime = 200;
        const QString port = QString::number(ClosedPort());
        const int group = f.addGroupDirect("Main Building");
        for (const char* name : {"Hall 1 with the long name", "Hall 2 with the long name",
                                 "Hall 3 with the long name"})
            f.addLanDirect(group, name, "127.0.0.1", port);
        f.quietEngine();
        f.engine->startDispatcher();
        f.form->selectNode(group);
        f.action("menuRefresh")->trigger();
        auto* result = f.child<ElidedLabel>("lblCommandResult");
        QTRY_VERIFY_WITH_TIMEOUT(result->text().contains("no answer from"), 30000);
        QCOMPARE(f.form->recentProblems().back().text, result->text());

        f.form->resize(10, 10);
        QTRY_COMPARE(f.form->size(), f.form->minimumSize());
        QApplication::processEvents();
        QStatusBar* bar = f.form->statusBar();
        const QList<ElidedLabel*> items = bar->findChildren<ElidedLabel*>();
        QCOMPARE(items.size(), 4);
        for (ElidedLabel* item : items) {
            const QString shown = item->shownText();
            QVERIFY2(item->fontMetrics().horizontalAdvance(shown) <= item->contentsRect().width(),
                     qPrintable(item->objectName() + ": " + shown));
            QVERIFY2(item->geometry().right() <= bar->width(), qPrintable(item->objectName()));
            if (shown != item->text()) {
                QVERIFY2(shown.endsWith(QChar(0x2026)), qPrintable(shown));
                QCOMPARE(item->toolTip(), item->text());
            } else {
                QVERIFY(item->toolTip().isEmpty());
            }
        }
        QVERIFY2(result->isElided(), "the group line fits at the least size: make it longer");
        QVERIFY2(!f.child<ElidedLabel>("lblScheduleState")->isElided(),
                 "the schedule's state is cut");
        auto* problems = f.child<QToolButton>("cmdRecentProblems");
        QVERIFY(problems->geometry().right() <= bar->width());
        QVERIFY(problems->width() >= problems->sizeHint().width());

        // With room, the permanent items show their texts whole and stay
        // where they are while their texts change.
        f.form->resize(QSize(2400, f.form->minimumHeight()));
        QApplication::processEvents();
        for (ElidedLabel* item : items)
            QVERIFY2(item == result || !item->isElided(), qPrintable(item->shownText()));
        const auto places = [&] {
            QList<int> x;
            for (const char* name :
                 {"lblMacProgress", "lblPollProgress", "cmdRecentProblems", "lblScheduleState"})
                x << f.child<QWidget>(name)->geometry().left();
            return x;
        };
        const QList<int> before = places();
        f.form->setScheduleRunning(true);
        f.form->pollingPassStarted(3);
        f.form->macPassProgress(1, 3);
        QApplication::processEvents();
        QCOMPARE(places(), before);
        for (ElidedLabel* item : items)
            QVERIFY2(item == result || !item->isElided(), qPrintable(item->shownText()));
        if (qEnvironmentVariableIsSet("NORVIK3_SCREENSHOTS") && points > 0) {
            f.form->resize(f.form->minimumSize());
            QApplication::processEvents();
            QVERIFY(bar->grab().save(qEnvironmentVariable("NORVIK3_SCREENSHOTS") +
                                     "/status-bar-at-least-size.png"));
        }
        f.closeWindow();
        QApplication::setFont(original);
    }

    // The Status column ranks by seriousness, names breaking ties; the
    // overview opens at the root sorted that way, the tree's tip gives name
    // and exact state, and the tree, the sort and the columns are as the
    // operator left them after a restart.
    void seriousnessSortAndRememberedLayout() {
        auto fixture = std::make_unique<UiFixture>();
        UiFixture& f = *fixture;
        const int hall = f.addGroupDirect("Main Hall");
        const QStringList states = {"on", "lost", "fan", "refusing", "off", "never", "lamp"};
        const QString longName = "Hall 3 north balcony, left projector of the pair";
        for (int i = 0; i < states.size(); ++i)
            f.addLanDirect(hall, i == 6 ? longName : QString("P%1 %2").arg(i).arg(states[i]),
                           "192.0.2.1", QString::number(1000 + i));
        f.quietEngine();
        for (int i = 0; i < states.size(); ++i)
            SetState(f.state.Projectors[i + 1], states[i]);
        f.closeWindow();
        f.startWindow();
        f.quietEngine();

        QCOMPARE(f.form->selectedNode(), 1);
        auto* list = f.child<QTreeWidget>("ListViewFleet");
        QVERIFY(list->isVisible());
        QCOMPARE(list->header()->sortIndicatorSection(), int(ColumnStatus));
        QCOMPARE(Column(list, ColumnName), (QStringList{"P2 fan", longName, "P3 refusing",
                                                        "P1 lost", "P5 never", "P0 on", "P4 off"}));
        QCOMPARE(Column(list, ColumnStatus),
                 (QStringList{"Fan Error", "Lamp Error", "Refusing", "Disconnect", "Disconnect",
                              "Normal", "Normal"}));
        // Name, Status and Group come first and the long name is whole.
        for (int c : {int(ColumnName), int(ColumnStatus), int(ColumnGroup)})
            QVERIFY(list->header()->visualIndex(c) <= 2);
        QVERIFY(list->header()->sectionSize(ColumnName) >
                list->fontMetrics().horizontalAdvance(longName));
        auto* tree = f.child<QTreeWidget>("ProjectorTree");
        const auto nodes = tree->findItems(longName, Qt::MatchExactly | Qt::MatchRecursive);
        QCOMPARE(nodes.size(), 1);
        QCOMPARE(nodes[0]->toolTip(0), longName + ": Lamp Error");

        // The splitter starts at 200; the operator drags it, sorts by name
        // and widens a column.
        auto* splitter = f.child<QSplitter>("splitterMain");
        QVERIFY(splitter);
        QCOMPARE(splitter->sizes().value(0), MainForm::TreeWidth);
        QSplitterHandle* handle = splitter->handle(1);
        const QPoint grip(handle->width() / 2, handle->height() / 2);
        QMouseEvent press(QEvent::MouseButtonPress, grip, handle->mapToGlobal(grip), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(handle, &press);
        const QPoint to = grip + QPoint(150, 0);
        QMouseEvent move(QEvent::MouseMove, to, handle->mapToGlobal(to), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(handle, &move);
        QMouseEvent release(QEvent::MouseButtonRelease, to, handle->mapToGlobal(to), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(handle, &release);
        const int treeWidth = splitter->sizes().value(0);
        QVERIFY2(treeWidth > MainForm::TreeWidth + 100, qPrintable(QString::number(treeWidth)));
        list->sortByColumn(ColumnName, Qt::DescendingOrder);
        const int wide = list->header()->sectionSize(ColumnInput) + 77;
        list->header()->resizeSection(ColumnInput, wide);

        f.closeWindow();
        f.startWindow();
        list = f.child<QTreeWidget>("ListViewFleet");
        QCOMPARE(f.child<QSplitter>("splitterMain")->sizes().value(0), treeWidth);
        QCOMPARE(list->header()->sortIndicatorSection(), int(ColumnName));
        QCOMPARE(list->header()->sortIndicatorOrder(), Qt::DescendingOrder);
        QCOMPARE(list->header()->sectionSize(ColumnInput), wide);
        QCOMPARE(Column(list, ColumnName).first(), QString("P5 never"));

        // Widths stored before the Protocol column are still applied.
        f.closeWindow();
        {
            QSettings stored(f.store->filePath(), QSettings::IniFormat);
            QStringList widths;
            for (int c = 0; c < ColumnProtocol; ++c)
                widths << QString::number(c == ColumnInput ? wide + 5 : 90);
            stored.setValue("Window/FleetColumns", widths.join(','));
        }
        f.startWindow();
        list = f.child<QTreeWidget>("ListViewFleet");
        QCOMPARE(list->header()->sectionSize(ColumnInput), wide + 5);
    }

    // Rows of projectors that do not answer or refuse read at 4.5:1 at least
    // against the list's base, in a light and a dark palette.
    void subduedRowsStayReadable_data() {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void subduedRowsStayReadable() {
        QFETCH(bool, dark);
        const QPalette original = QApplication::palette();
        if (dark)
            QApplication::setPalette(DarkPalette());
        auto fixture = std::make_unique<UiFixture>();
        UiFixture& f = *fixture;
        const int hall = f.addGroupDirect("Hall");
        f.addLanDirect(hall, "Gone", "192.0.2.1");
        f.addLanDirect(hall, "Refuses", "192.0.2.2");
        f.quietEngine();
        SetState(f.state.Projectors[1], "lost");
        SetState(f.state.Projectors[2], "refusing");
        for (int node : {1, hall}) {
            f.form->selectNode(node);
            f.form->rebuildView();
            for (const QString listName : {"ListViewFleet", "ListView1"}) {
                auto* list = f.child<QTreeWidget>(listName);
                if (!list->isVisible())
                    continue;
                const QColor base = list->palette().color(QPalette::Base);
                for (int r = 0; r < list->topLevelItemCount(); ++r) {
                    QTreeWidgetItem* row = list->topLevelItem(r);
                    QVERIFY(row->data(ColumnName, Qt::ForegroundRole).isValid());
                    const QColor text = row->foreground(ColumnName).color();
                    QVERIFY2(Contrast(text, base) >= 4.5,
                             qPrintable(QString("%1 on %2: %3")
                                            .arg(text.name(), base.name())
                                            .arg(Contrast(text, base))));
                    // Quieter than the normal text, so the look still tells.
                    QVERIFY(text != list->palette().color(QPalette::Text));
                }
                const QStringList status = Column(list, ColumnStatus);
                QVERIFY(status.contains("Disconnect") && status.contains("Refusing"));
            }
        }
        f.closeWindow();
        QApplication::setPalette(original);
    }

    // A paste that would not fit is refused by Ctrl+V, by the field's menu
    // and by the middle button alike, and the field's tip says why; one
    // that fits goes in.
    void guardedPastes_data() {
        QTest::addColumn<QString>("way");
        QTest::newRow("keys") << "keys";
        QTest::newRow("menu") << "menu";
        QTest::newRow("middle button") << "middle";
    }
    void guardedPastes() {
        QFETCH(QString, way);
        const QClipboard::Mode mode =
            way == "middle" ? QClipboard::Selection : QClipboard::Clipboard;
        if (mode == QClipboard::Selection && !QGuiApplication::clipboard()->supportsSelection())
            QSKIP("this platform has no selection to paste with the middle button");
        auto fixture = std::make_unique<UiFixture>();
        UiFixture& f = *fixture;
        f.action("menuAddProjector")->trigger();
        auto* dialog = f.openDialog<AddPJForm>();
        QVERIFY(dialog);
        dialog->findChild<QRadioButton*>("optNETWORK")->setChecked(true);
        auto* field = dialog->findChild<QLineEdit*>("txtIPAddress");
        field->setText("10.0.0.1");
        const auto paste = [&] {
            field->setFocus();
            field->selectAll();
            if (way == "keys") {
                QTest::keySequence(field, QKeySequence::Paste);
            } else if (way == "middle") {
                QTest::mouseClick(field, Qt::MiddleButton);
            } else {
                QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2),
                                        field->mapToGlobal(QPoint(2, 2)));
                QApplication::sendEvent(field, &event);
                QMenu* menu = field->findChild<QMenu*>("FieldMenu");
                QVERIFY(menu);
                QAction* pasteEntry = nullptr;
                for (QAction* a : menu->actions())
                    if (a->text().remove('&').startsWith("Paste"))
                        pasteEntry = a;
                QVERIFY(pasteEntry);
                pasteEntry->trigger();
                menu->close();
            }
        };
        QGuiApplication::clipboard()->setText("192.168.100.2000", mode); // 16 characters
        paste();
        QCOMPARE(field->text(), QString("10.0.0.1"));
        QVERIFY2(field->toolTip().contains("at most 15"), qPrintable(field->toolTip()));
        QGuiApplication::clipboard()->setText("192.168.100.200", mode);
        paste();
        QCOMPARE(field->text(), QString("192.168.100.200"));
        QVERIFY(!field->toolTip().contains("Not pasted"));
        dialog->reject();
    }

    // "OK" of the mail settings refuses a port outside 1..65535 and a
    // recipient without a kind, and leaves untouched values as stored.
    void mailSettingsRefusals_data() {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("recipient");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("port 0") << "0"
                                << "a@example.test;TO"
                                << "SMTP port";
        QTest::newRow("port 65536") << "65536"
                                    << "a@example.test;TO"
                                    << "SMTP port";
        QTest::newRow("port text") << "25a"
                                   << "a@example.test;TO"
                                   << "SMTP port";
        QTest::newRow("unknown kind") << "587"
                                      << "b@example.test;XX"
                                      << "has no kind";
        // A stored recipient without a kind is read as TO.
        QTest::newRow("no kind") << "587"
                                 << "b@example.test;"
                                 << "";
        QTest::newRow("accepted") << "587"
                                  << "a@example.test;CC"
                                  << "";
        QTest::newRow("empty port") << ""
                                    << "a@example.test;BCC"
                                    << "";
    }
    void mailSettingsRefusals() {
        QFETCH(QString, port);
        QFETCH(QString, recipient);
        QFETCH(QString, refusal);
        auto fixture = std::make_unique<UiFixture>();
        UiFixture& f = *fixture;
        f.state.Mail.MailSend = true;
        f.state.Mail.FromAddress = "norvik3@example.test";
        f.state.Mail.SMTPPort = " 25 ";
        f.state.Mail.SendAddress[1] = recipient;
        MailWorker worker;
        MailSettingsForm form(f.state, *f.store, worker, f.messages, f.form.get());
        form.show();
        auto* portField = form.findChild<QLineEdit*>("txtSMTPPort");
        QVERIFY(portField->isEnabled());
        portField->selectAll();
        QTest::keyClick(portField, Qt::Key_Delete);
        QTest::keyClicks(portField, port);
        f.messages.clearShown();
        f.messages.queueAnswer(MessageAnswer::Ok);
        UiFixture::click(&form, "cmdOK");
        if (!refusal.isEmpty()) {
            QVERIFY(form.isVisible());
            QVERIFY2(f.messages.lastText().contains(refusal), qPrintable(f.messages.lastText()));
            return;
        }
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QVERIFY2(f.messages.shown().isEmpty(), qPrintable(f.messages.lastText()));
        QCOMPARE(f.state.Mail.SMTPPort, port);

        // Opened again and confirmed untouched, the stored port stays as typed.
        f.state.Mail.SMTPPort = " 25 ";
        MailSettingsForm again(f.state, *f.store, worker, f.messages, f.form.get());
        again.show();
        UiFixture::click(&again, "cmdOK");
        QCOMPARE(again.result(), int(QDialog::Accepted));
        QCOMPARE(f.state.Mail.SMTPPort, QString(" 25 "));
    }

    // Power questions name the projector, or the group and its count.
    void confirmationsNameTheirTarget_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("question");
        QTest::newRow("projector on") << "Hall 3"
                                      << "menuPowerON"
                                      << "Turn on the projector Hall 3?";
        QTest::newRow("projector off") << "Hall 3"
                                       << "popupPowerOFF"
                                       << "Turn off the projector Hall 3?";
        QTest::newRow("group on") << "Main Hall"
                                  << "tbPowerON"
                                  << "Turn on the 4 projectors of Main Hall?";
        QTest::newRow("group of one") << "Side"
                                      << "menuPowerOFF"
                                      << "Turn off the projector of Side?";
    }
    void confirmationsNameTheirTarget() {
        QFETCH(QString, target);
        QFETCH(QString, entry);
        QFETCH(QString, question);
        auto fixture = std::make_unique<UiFixture>();
        UiFixture& f = *fixture;
        const int main = f.addGroupDirect("Main Hall");
        const int side = f.addGroupDirect("Side");
        int hall3 = 0;
        for (int i = 1; i <= 4; ++i) {
            const int node = f.addLanDirect(main, QString("Hall %1").arg(i), "192.0.2.1",
                                            QString::number(2000 + i));
            hall3 = i == 3 ? node : hall3;
        }
        f.addLanDirect(side, "Side 1", "192.0.2.2");
        f.quietEngine();
        f.form->selectNode(target == "Hall 3" ? hall3 : target == "Side" ? side : main);
        f.quietEngine();
        f.messages.queueAnswer(MessageAnswer::No);
        qint16 pendingDuringQuestion = -1;
        f.messages.setWatcher([&](const MessageService::Shown&) {
            pendingDuringQuestion = f.state.FlushPendingNode;
        });
        f.action(entry)->trigger();
        QCOMPARE(f.messages.lastText(), question);
        // The endpoint holds commands to the target while the question is
        // open, and only then.
        QCOMPARE(int(pendingDuringQuestion), f.form->selectedNode());
        QCOMPARE(int(f.state.FlushPendingNode), -1);
        for (int p = 1; p <= 5; ++p)
            QVERIFY2(f.queued(p).isEmpty(), "a question answered No sends nothing");
    }

    // Help opens the checkout's guide (the program runs from the build
    // folder) and the program folder.
    void helpEntries() {
        auto fixture = std::make_unique<UiFixture>();
        UiFixture& f = *fixture;
        OpenedUrls opened;
        QDesktopServices::setUrlHandler("file", &opened, "open");
        f.action("menuUserGuide")->trigger();
        f.action("menuProgramFolder")->trigger();
        QDesktopServices::unsetUrlHandler("file");
        QCOMPARE(opened.urls.size(), 2);
        const QString guide = opened.urls[0].toLocalFile();
        QVERIFY2(guide.endsWith("/user-guide.md") && QFileInfo(guide).isFile(), qPrintable(guide));
        QCOMPARE(opened.urls[1].toLocalFile(), f.state.ProgramFolder);
        QVERIFY(f.messages.shown().isEmpty());
    }

    // A fleet without projectors shows what to do first, with the actions at
    // hand, until its first projector is added.
    void firstStartSaysWhatToDo() {
        auto fixture = std::make_unique<UiFixture>();
        UiFixture& f = *fixture;
        f.form->selectNode(1);
        f.selectTab(MainForm::TabStatus);
        auto* guide = f.child<QFrame>("frameFirstStart");
        QVERIFY(guide && guide->isVisible());
        QVERIFY(!f.child<QTreeWidget>("ListViewFleet")->isVisible());
        QVERIFY(!f.child<QLabel>("lblSelectMessage0")->isVisible());
        for (const char* name : {"cmdFirstImport", "cmdFirstFind"})
            QVERIFY(f.child<QPushButton>(name)->isEnabled());
        UiFixture::click(guide, "cmdFirstAddProjector");
        auto* dialog = f.openDialog<AddPJForm>();
        QVERIFY(dialog);
        dialog->reject();
        // Not on the other tabs, nor for a group.
        f.selectTab(MainForm::TabControl);
        QVERIFY(!guide->isVisible());
        f.selectTab(MainForm::TabStatus);
        const int hall = f.addGroupDirect("Hall");
        f.form->selectNode(hall);
        QVERIFY(!guide->isVisible());
        f.form->selectNode(1);
        QVERIFY(guide->isVisible());
        f.addLanDirect(hall, "H1", "192.0.2.1");
        f.form->selectNode(1);
        QVERIFY(!guide->isVisible());
        QVERIFY(f.child<QTreeWidget>("ListViewFleet")->isVisible());
    }

    // A short message box is wide enough for its caption beside a title
    // bar's icon and buttons, not only for its text.
    void messageBoxesKeepTheirCaption_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("text");
        QTest::newRow("test mail sent") << int(MessageKind::Information) << "Mail Send Success.";
        QTest::newRow("question") << int(MessageKind::Question) << "Delete?";
        QTest::newRow("long text") << int(MessageKind::Critical) << QString(60, QChar('x'));
    }

    void messageBoxesKeepTheirCaption() {
        QFETCH(int, kind);
        QFETCH(QString, text);
        MessageService service;
        const std::unique_ptr<QMessageBox> box = service.box(nullptr, MessageKind(kind), text);
        box->show();
        QVERIFY(QTest::qWaitForWindowExposed(box.get()));
        QCOMPARE(box->windowTitle(), QString("Lumora Application"));
        QFont bold = box->font();
        bold.setBold(true);
        const QFontMetrics metrics(bold);
        // An icon and three buttons of a line's height and a half each.
        const int titleBar = metrics.horizontalAdvance(box->windowTitle()) + 6 * metrics.height();
        QVERIFY2(box->width() >= titleBar, qPrintable(QString::number(box->width())));
        QCOMPARE(box->buttons().size(), kind == int(MessageKind::Question) ? 2 : 1);
    }
};

QTEST_MAIN(TestUiWindow)
#include "test_ui_window.moc"
