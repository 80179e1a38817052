#include "core/AppState.h"
#include "core/Formatting.h"

#include <QTest>

#include <memory>

class TestFormatting : public QObject {
    Q_OBJECT

  private slots:
    void shortTimeFormat_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("separator");
        QTest::addColumn<QString>("expected");
        QTest::newRow("24h") << "HH:mm:ss"
                             << ":"
                             << "HH:mm";
        QTest::newRow("AP") << "h:mm:ss AP"
                            << ":"
                            << "h:mm AP";
        QTest::newRow("tt") << "h:mm:ss tt"
                            << ":"
                            << "h:mm tt";
        QTest::newRow("no seconds") << "H.mm"
                                    << "."
                                    << "H.mm";
        QTest::newRow("single s") << "H.mm.s"
                                  << "."
                                  << "H.mm";
        QTest::newRow("other separator") << "HH:mm:ss"
                                         << "."
                                         << "HH:mm:ss";
    }

    void shortTimeFormat() {
        QFETCH(QString, format);
        QFETCH(QString, separator);
        QFETCH(QString, expected);
        QCOMPARE(DeriveShortTimeFormat(format, separator), expected);
    }

    void separatorIsTakenFromTheFormat() {
        QCOMPARE(TimeSeparatorOf(QStringLiteral("HH:mm:ss")), QStringLiteral(":"));
        QCOMPARE(TimeSeparatorOf(QStringLiteral("h:mm:ss AP")), QStringLiteral(":"));
        QCOMPARE(TimeSeparatorOf(QStringLiteral("H.mm")), QStringLiteral("."));
        QCOMPARE(TimeSeparatorOf(QStringLiteral("mm")), QString());
    }

    void timeZoneFieldIsDropped() {
        QCOMPARE(WithoutTimeZone(QStringLiteral("h:mm:ss AP t")), QStringLiteral("h:mm:ss AP"));
        QCOMPARE(WithoutTimeZone(QStringLiteral("HH:mm:ss tttt")), QStringLiteral("HH:mm:ss"));
        QCOMPARE(WithoutTimeZone(QStringLiteral("HH:mm:ss")), QStringLiteral("HH:mm:ss"));
    }

    void localeFormatting() {
        const auto owner = std::make_unique<AppState>();
        AppState& s = *owner;
        s.LocaleId = QStringLiteral("de_DE");
        s.ShortTimeFormat = QStringLiteral("HH:mm");
        const QDateTime moment(QDate(2024, 1, 31), QTime(7, 5, 9));
        QCOMPARE(FormatShortDate(s, moment.date()),
                 QLocale(QStringLiteral("de_DE")).toString(moment.date(), QLocale::ShortFormat));
        QCOMPARE(FormatShortTime(s, moment.time()), QStringLiteral("07:05"));
        QCOMPARE(FormatDateTime(s, moment),
                 FormatShortDate(s, moment.date()) + QStringLiteral(" 07:05"));
        s.LocaleId = QStringLiteral("en_US");
        s.ShortTimeFormat = QStringLiteral("h:mm AP");
        QCOMPARE(FormatShortTime(s, QTime(13, 5)), QStringLiteral("1:05 PM"));
    }

    void centredPosition() {
        const QSize screen(1920, 1080);
        QCOMPARE(CenteredPosition(QRect(100, 50, 800, 600), QSize(400, 200), screen),
                 QPoint(300, 250));
        // Off the top-left corner: clamped to 0.
        QCOMPARE(CenteredPosition(QRect(-500, -400, 200, 100), QSize(400, 300), screen),
                 QPoint(0, 0));
        // Past the right and bottom edges: moved back inside.
        QCOMPARE(CenteredPosition(QRect(1800, 1000, 400, 300), QSize(300, 200), screen),
                 QPoint(1620, 880));
        // Larger than the screen: placed at 0.
        QCOMPARE(CenteredPosition(QRect(0, 0, 800, 600), QSize(2500, 1200), screen), QPoint(0, 0));
    }
};

QTEST_GUILESS_MAIN(TestFormatting)
#include "test_formatting.moc"
