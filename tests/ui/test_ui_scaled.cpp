// The window on a 1920 x 1080 screen at 150 %: the default size is capped at
// the screen, and the least size stays on it because the Control panel's
// rows scroll instead of growing the window.

#include "UiFixture.h"

#include <QApplication>
#include <QScreen>
#include <QScrollArea>
#include <QTreeWidget>

class TestUiScaled : public QObject {
    Q_OBJECT

  private slots:
    void fitsTheScreen() {
        QCOMPARE(qgetenv("QT_SCALE_FACTOR"), QByteArray("1.5"));
        const QSize screen = QGuiApplication::primaryScreen()->availableGeometry().size();
        // 1920 x 1080 device pixels are 1280 x 720 at 150 %.
        QCOMPARE(screen, QSize(1280, 720));
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

        if (qEnvironmentVariableIsSet("NORVIK3_SCREENSHOTS")) {
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
    screens.write(R"({"screens": [{"name": "desk", "x": 0, "y": 0, "width": 1920,
                     "height": 1080, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    screens.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + screens.fileName().toUtf8());
    qputenv("QT_SCALE_FACTOR", "1.5");
    QApplication app(argc, argv);
    TestUiScaled test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_ui_scaled.moc"
