// The window's preview of an import: a good file lists every row with what
// it does and offers OK; a file with errors lists every error by its line
// and offers no OK.

#include "core/AppState.h"
#include "core/Fleet.h"
#include "core/SettingsStore.h"
#include "core/Startup.h"
#include "fleetcsv/FleetImport.h"
#include "support/ProjectorRecords.h"
#include "ui/ImportPreviewDialog.h"

#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <memory>

namespace {

const QByteArray Header =
    "Group,Name,Protocol,Connection,Address,Port,COMPort,COMSettings,Model,MACAddress,Password\r\n";

} // namespace

class TestImportPreview : public QObject {
    Q_OBJECT

  private slots:
    void preview_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("okOffered");
        QTest::addColumn<QStringList>("rows"); // "line|action|group|name"
        QTest::newRow("good file") << Header + "Hall,H1,native,lan,127.0.0.1,9,,,VX-4200,,\r\n"
                                               "Annex,A1,pjlink,lan,127.0.0.1,4352,,,,,pw\r\n"
                                               "Hall,H2,native,lan,127.0.0.1,2,,,VX-4200,,\r\n"
                                               "Empty,,,,,,,,,,\r\n"
                                   << true
                                   << QStringList{"2|Change|Hall|H1", "3|Add|Annex|A1",
                                                  "4|Left alone|Hall|H2", "5|Add group|Empty|"};
        QTest::newRow("errors") << Header + "Hall,,native,lan,127.0.0.1,9,,,VX-4200,,\r\n"
                                            "Hall,X,native,lan,127.0.0.1,9,,,VX-1,,\r\n"
                                << false << QStringList{"2|Error|Hall|", "3|Error|Hall|X"};
    }

    void preview() {
        QFETCH(QByteArray, file);
        QFETCH(bool, okOffered);
        QFETCH(QStringList, rows);
        QTemporaryDir home;
        auto state = std::make_unique<AppState>();
        state->ProgramFolder = home.path();
        QFile models(home.filePath("PJModel.txt"));
        QVERIFY(models.open(QIODevice::WriteOnly));
        models.write(SampleModelFile());
        models.close();
        SettingsStore(home.filePath("Norvik3.conf")).LoadConfiguration(*state);
        ResetTree(*state);
        const int hall = AddGroupNode(*state, QStringLiteral("Hall"), nullptr);
        for (const char* name : {"H1", "H2"}) {
            QVERIFY(
                AddProjector(*state, hall,
                             LanProjector(QString::fromLatin1(name), QStringLiteral("127.0.0.1"),
                                          QString::number(state->ProjectorCount + 1))
                                 .model(QStringLiteral("VX-4200"))));
        }
        const ImportPlan plan = PlanImport(*state, file);
        ImportPreviewDialog dialog(QStringLiteral("/tmp/fleet.csv"), plan, nullptr);
        auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("cmdOK"));
        QVERIFY(ok);
        QCOMPARE(ok->isEnabled(), okOffered);
        auto* list = dialog.findChild<QTreeWidget*>(QStringLiteral("lstImportRows"));
        QVERIFY(list);
        QStringList shown;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* item = list->topLevelItem(i);
            shown << QStringList{item->text(0), item->text(1), item->text(2), item->text(3)}.join(
                QLatin1Char('|'));
        }
        QCOMPARE(shown, rows);
        const QString summary =
            dialog.findChild<QLabel*>(QStringLiteral("lblImportSummary"))->text();
        QVERIFY2(summary.startsWith(QStringLiteral("fleet.csv: ")), qPrintable(summary));
        QVERIFY(summary.contains(okOffered ? QStringLiteral("1 to add, 1 to change, 1 left alone")
                                           : QStringLiteral("2 errors")));
    }
};

QTEST_MAIN(TestImportPreview)
#include "test_import_preview.moc"
