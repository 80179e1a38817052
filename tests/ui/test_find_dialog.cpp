// The Find Projectors dialog against the simulator on 127.0.0.1: a range
// refused, finds listed with the known one marked, the ticked ones handed
// over, and "Cancel" stopping a run at once.

#include "support/ProjectorRecords.h"
#include "support/SimProcess.h"

#include "core/AppState.h"
#include "ui/FindProjectorsDialog.h"
#include "ui/MessageService.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTest>
#include <QTreeWidget>

#include <memory>

using namespace std::chrono_literals;

class TestFindDialog : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void init();
    void refusedRanges_data();
    void refusedRanges();
    void findsAndAdds();
    void cancelStopsThenCloses();

  private:
    QPushButton* button(const QString& text) const;
    std::unique_ptr<FindProjectorsDialog> makeDialog(const DiscoveryOptions& base);

    std::unique_ptr<SimProcess> m_sim;
    std::unique_ptr<AppState> m_state;
    MessageService m_messages;
    QList<DiscoveryFind> m_handed;
    AddFindsPlan m_plan;
    std::unique_ptr<FindProjectorsDialog> m_dialog;
};

void TestFindDialog::initTestCase() {
    m_messages.setTestMode(true);
    m_sim =
        std::make_unique<SimProcess>(QStringList{QStringLiteral("--tcp"), QStringLiteral("1"),
                                                 QStringLiteral("--pjlink"), QStringLiteral("1")});
    QVERIFY2(m_sim->isReady(), qPrintable(m_sim->errorString()));
    QCOMPARE(m_sim->command("pj 2 name R204 Left"), QString("OK"));
}

void TestFindDialog::init() {
    m_state = std::make_unique<AppState>();
    m_state->ModelCount = 2;
    m_state->Models[1].Name = QStringLiteral("M100");
    m_state->Models[2].Name = QStringLiteral("M200");
    m_handed.clear();
    m_messages.clearShown();
}

std::unique_ptr<FindProjectorsDialog> TestFindDialog::makeDialog(const DiscoveryOptions& base) {
    auto dialog = std::make_unique<FindProjectorsDialog>(
        *m_state, m_messages,
        [this](const QList<DiscoveryFind>& finds, const AddFindsPlan& plan) {
            m_handed = finds;
            m_plan = plan;
            return QString();
        },
        base, nullptr);
    dialog->show();
    return dialog;
}

QPushButton* TestFindDialog::button(const QString& name) const {
    return m_dialog->findChild<QPushButton*>(name);
}

void TestFindDialog::refusedRanges_data() {
    QTest::addColumn<QString>("range");
    QTest::addColumn<bool>("search");
    QTest::addColumn<QString>("message");
    QTest::newRow("too large") << "10.0.0.0/16" << true << "larger than a /22";
    QTest::newRow("no range") << "not a range" << true << "no address range";
    QTest::newRow("nothing to do") << "" << false << "Enter an address range";
}

void TestFindDialog::refusedRanges() {
    QFETCH(QString, range);
    QFETCH(bool, search);
    QFETCH(QString, message);
    m_dialog = makeDialog({});
    m_dialog->findChild<QLineEdit*>("txtRange")->setText(range);
    m_dialog->findChild<QCheckBox*>("chkSearch")->setChecked(search);
    button("cmdFind")->click();
    QVERIFY(!m_dialog->isFinding());
    QVERIFY2(m_messages.lastText().contains(message), qPrintable(m_messages.lastText()));
    QCOMPARE(m_dialog->findChild<QTreeWidget*>("lstFinds")->topLevelItemCount(), 0);
}

void TestFindDialog::findsAndAdds() {
    PutProjector(
        *m_state, 1,
        PJLinkProjector({}, QStringLiteral("127.0.0.1"), QString::number(m_sim->pjlinkPort(2))));
    DiscoveryOptions base;
    base.pjlinkPort = m_sim->pjlinkPort(2);
    base.nativePort = m_sim->tcpPort(1);
    m_dialog = makeDialog(base);
    m_dialog->findChild<QLineEdit*>("txtRange")->setText(QStringLiteral("127.0.0.1"));
    m_dialog->findChild<QCheckBox*>("chkSearch")->setChecked(false);
    button("cmdFind")->click();
    QVERIFY(m_dialog->isFinding());
    QVERIFY(!button("cmdFind")->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(!m_dialog->isFinding(), 10000);
    QVERIFY(button("cmdFind")->isEnabled());
    auto* list = m_dialog->findChild<QTreeWidget*>("lstFinds");
    QCOMPARE(list->topLevelItemCount(), 2);
    int ticked = 0;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = list->topLevelItem(i);
        const bool pjlink = item->text(2) == QLatin1String("PJLink");
        QCOMPARE(item->text(6), pjlink ? QString("Already in the fleet") : QString("New"));
        QCOMPARE(item->checkState(0), pjlink ? Qt::Unchecked : Qt::Checked);
        QCOMPARE(bool(item->flags() & Qt::ItemIsUserCheckable), !pjlink);
        QCOMPARE(item->text(4), pjlink ? QString("R204 Left") : QString());
        ticked += item->checkState(0) == Qt::Checked ? 1 : 0;
    }
    QCOMPARE(ticked, 1);
    QVERIFY(m_dialog->findChild<QLabel*>("lblProgress")->text().startsWith("Done: 2 found"));
    auto* group = m_dialog->findChild<QComboBox*>("cmbGroup");
    group->setEditText(QStringLiteral("Stage"));
    m_dialog->findChild<QComboBox*>("cmbModel")->setCurrentIndex(1);
    button("cmdOK")->click();
    QCOMPARE(m_dialog->result(), int(QDialog::Accepted));
    QCOMPARE(m_handed.size(), 1);
    QCOMPARE(m_handed.first().protocol, ProtocolNative);
    QCOMPARE(m_handed.first().port, m_sim->tcpPort(1));
    QCOMPARE(m_plan.group, QString("Stage"));
    QCOMPARE(m_plan.nativeModel, QString("M200"));
}

void TestFindDialog::cancelStopsThenCloses() {
    // A peer that takes every connection and never speaks: each probe
    // would wait for its whole time-out.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    DiscoveryOptions base;
    base.pjlinkPort = silent.serverPort();
    base.nativePort = silent.serverPort();
    base.limits.timeout = 60s;
    m_dialog = makeDialog(base);
    m_dialog->findChild<QLineEdit*>("txtRange")->setText(QStringLiteral("127.0.0.1"));
    m_dialog->findChild<QCheckBox*>("chkSearch")->setChecked(false);
    button("cmdFind")->click();
    QTRY_VERIFY(silent.hasPendingConnections());
    QVERIFY(m_dialog->isFinding());
    button("cmdCancel")->click();
    QVERIFY(!m_dialog->isFinding());
    QVERIFY(m_dialog->isVisible());
    QVERIFY(button("cmdFind")->isEnabled());
    QCOMPARE(m_dialog->findChild<QLabel*>("lblProgress")->text(), QString("Stopped: 0 found."));
    button("cmdCancel")->click();
    QCOMPARE(m_dialog->result(), int(QDialog::Rejected));
    QVERIFY(!m_dialog->isVisible());
    QVERIFY(m_handed.isEmpty());
}

QTEST_MAIN(TestFindDialog)
#include "test_find_dialog.moc"
