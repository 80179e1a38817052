// The window on a screen at 150 % (1920 x 1080, or the size given in
// NORVIK3_TEST_SCREEN): the default size is capped at the screen, and the
// least size stays on it because the Control panel's rows scroll instead of
// growing the window.

#include "UiFixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDateEdit>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTreeWidget>

namespace {

QSize DevicePixels() {
    const QList<QByteArray> size = qgetenv("NORVIK3_TEST_SCREEN").split('x');
    return size.size() == 2 ? QSize(size[0].toInt(), size[1].toInt()) : QSize(1920, 1080);
}

} // namespace

class TestUiScaled : public QObject {
    Q_OBJECT

  private slots:
    void fitsTheScreen() {
        QCOMPARE(qgetenv("QT_SCALE_FACTOR"), QByteArray("1.5"));
        const QSize screen = QGuiApplication::primaryScreen()->availableGeometry().size();
        QCOMPARE(screen, DevicePixels() / 1.5);
        auto fixture = std::make_unique<UiFixture>();
        UiFixture& f = *fixture;
        const int hall = f.addGroupDirect("Main Hall");
        for (int i = 1; i <= 12; ++i)
            f.addLanDirect(hall, QString("Hall %1").arg(i), "192.0.2.1", QString::number(3000 + i));
        const int projector = f.addLanDirect(1, "Lobby", "192.0.2.2");
        f.quietEngine();

        QVERIFY2(f.form->width() <= screen.width() && f.form->height() <= screen.height(),
                 qPrintable(QString("%1x%2").arg(f.form->width()).arg(f.form->height())));
        QVERIFY(f.form->width() < MainForm::DefaultWindowSize.width() ||
                f.form->height() < MainForm::DefaultWindowSize.height());
        QVERIFY(f.form->minimumHeight() <= screen.height());
        QVERIFY(f.form->minimumWidth() <= screen.width());

        // At the least size the Control panel scrolls rather than being cut.
        f.form->selectNode(projector);
        f.selectTab(1);
        f.form->resize(f.form->minimumSize());
        QTRY_COMPARE(f.form->size(), f.form->minimumSize());
        auto* rows = f.child<QScrollArea>("scrollProjectorControl");
        QVERIFY(rows->isVisible());
        QApplication::processEvents();
        const QWidget* content = rows->widget();
        QVERIFY(content->height() >= content->minimumSizeHint().height());
        QVERIFY(content->width() <= rows->viewport()->width());
        // A 768-line screen is too low for every row: they scroll. A 1080-line
        // one has room for all.
        const bool low = DevicePixels().height() < 1080;
        QCOMPARE(rows->verticalScrollBar()->isVisible(), low);
        QCOMPARE(rows->height() < content->minimumSizeHint().height(), low);
        QVERIFY(f.form->frameGeometry().height() <= screen.height());

        // At the least size the History tab's filters show their whole
        // texts.
        f.selectTab(MainForm::TabHistory);
        QApplication::processEvents();
        QTRY_COMPARE(f.form->size(), f.form->minimumSize());
        auto* kind = f.child<QComboBox>("cmbHistoryKind");
        int longest = 0;
        for (int i = 0; i < kind->count(); ++i)
            longest = std::max(longest, kind->fontMetrics().horizontalAdvance(kind->itemText(i)));
        QVERIFY2(kind->width() > longest, qPrintable(QString::number(kind->width())));
        for (const char* name : {"dateHistoryFrom", "dateHistoryTo"}) {
            auto* date = f.child<QDateEdit>(name);
            QVERIFY(date->width() > date->fontMetrics().horizontalAdvance(date->text()));
        }
        for (const char* name : {"chkHistoryFrom", "chkHistoryTo", "cmdHistoryExport"}) {
            auto* button = f.child<QAbstractButton>(name);
            QVERIFY(button->width() >= button->minimumSizeHint().width());
        }
        QVERIFY(f.form->frameGeometry().height() <= screen.height());
        QVERIFY(f.form->statusBar()->isVisible());
        QVERIFY(f.form->statusBar()->geometry().bottom() < f.form->height());
        f.selectTab(MainForm::TabStatus);

        if (qEnvironmentVariableIsSet("NORVIK3_SCREENSHOTS") &&
            !qEnvironmentVariableIsSet("NORVIK3_TEST_SCREEN")) {
            f.form->resize(screen);
            f.form->selectNode(1);
            f.selectTab(0);
            QApplication::processEvents();
            QVERIFY(f.form->grab().save(qEnvironmentVariable("NORVIK3_SCREENSHOTS") +
                                        "/overview-at-150-percent.png"));
        }
    }
};

// The screen and the scale are set before the application starts.
int main(int argc, char** argv) {
    QTemporaryDir config;
    QFile screens(config.filePath("screens.json"));
    if (!screens.open(QIODevice::WriteOnly))
        return 2;
    const QSize device = DevicePixels();
    screens.write(QStringLiteral(R"({"screens": [{"name": "desk", "x": 0, "y": 0, "width": %1,
                     "height": %2, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})")
                      .arg(device.width())
                      .arg(device.height())
                      .toUtf8());
    screens.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + screens.fileName().toUtf8());
    qputenv("QT_SCALE_FACTOR", "1.5");
    QApplication app(argc, argv);
    TestUiScaled test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_ui_scaled.moc"
