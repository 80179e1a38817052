#include "core/AppState.h"
#include "core/Formatting.h"

#include <QRegularExpression>
#include <QTest>

#include <memory>

class TestFormatting : public QObject {
    Q_OBJECT

  private slots:
    void shortTimeFormat_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("expected");
        QTest::newRow("24h") << "HH:mm:ss"
                             << "HH:mm";
        QTest::newRow("AP") << "h:mm:ss AP"
                            << "h:mm AP";
        QTest::newRow("tt") << "h:mm:ss tt"
                            << "h:mm tt";
        QTest::newRow("no seconds") << "H.mm"
                                    << "H.mm";
        QTest::newRow("single s") << "H.mm.s"
                                  << "H.mm";
        QTest::newRow("fraction") << "HH:mm:ss.zzz"
                                  << "HH:mm";
        QTest::newRow("AP first") << "AP h.mm.ss"
                                  << "AP h.mm";
        QTest::newRow("quoted units") << "HH 'h' mm 'min' ss 's'"
                                      << "HH 'h' mm 'min'";
        QTest::newRow("unit after the whole time") << "HH.mm:ss 'h'"
                                                   << "HH.mm 'h'";
        QTest::newRow("unquoted units") << "H時mm分ss秒"
                                        << "H時mm分";
        QTest::newRow("units with blanks") << "AP h시 m분 s초"
                                           << "AP h시 m분";
        QTest::newRow("unit of several letters") << "H ໂມງ m ນາທີ ss ວິນາທີ"
                                                 << "H ໂມງ m ນາທີ";
        QTest::newRow("seconds before AP, no blank") << "mm ssAP"
                                                     << "mm AP";
        QTest::newRow("s inside quotes") << "HH:mm:ss 'o''clock, s'"
                                         << "HH:mm 'o''clock, s'";
        QTest::newRow("blanks at the ends") << " HH:mm:ss "
                                            << "HH:mm";
    }

    void shortTimeFormat() {
        QFETCH(QString, format);
        QFETCH(QString, expected);
        QCOMPARE(DeriveShortTimeFormat(format), expected);
    }

    void timeZoneFieldIsDropped_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("expected");
        QTest::newRow("after AP") << "h:mm:ss AP t"
                                  << "h:mm:ss AP";
        QTest::newRow("long zone") << "HH:mm:ss tttt"
                                   << "HH:mm:ss";
        QTest::newRow("none") << "HH:mm:ss"
                              << "HH:mm:ss";
        QTest::newRow("first") << "t HH:mm:ss"
                               << "HH:mm:ss";
        QTest::newRow("in brackets") << "HH:mm:ss (t)"
                                     << "HH:mm:ss";
        QTest::newRow("in square brackets") << "APh:mm:ss [t]"
                                            << "APh:mm:ss";
        QTest::newRow("after a comma") << "h:mm:ss AP, t"
                                       << "h:mm:ss AP";
        QTest::newRow("after a unit") << "H:mm:ss 'ч'. t"
                                      << "H:mm:ss 'ч'.";
        QTest::newRow("bracketed time") << "(HH:mm:ss) t"
                                        << "(HH:mm:ss)";
        QTest::newRow("in the middle") << "HH:mm t AP"
                                       << "HH:mm AP";
        QTest::newRow("quoted t stays") << "'t' HH:mm"
                                        << "'t' HH:mm";
    }

    void timeZoneFieldIsDropped() {
        QFETCH(QString, format);
        QFETCH(QString, expected);
        QCOMPARE(WithoutTimeZone(format), expected);
    }

    // Every locale Qt knows: the time without seconds keeps the hour and the
    // minute, shows no seconds and no zone, and has no blank at either end.
    void everyLocaleLosesItsSeconds() {
        const QList<QLocale> locales = QLocale::matchingLocales(
            QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
        QVERIFY(locales.size() > 100);
        const QRegularExpression quoted(QStringLiteral("'[^']*'"));
        for (const QLocale& locale : locales) {
            for (const auto kind : {QLocale::ShortFormat, QLocale::LongFormat}) {
                const QString source = locale.timeFormat(kind);
                const QString format = kind == QLocale::LongFormat
                                           ? LocaleShortTimeFormat(locale)
                                           : DeriveShortTimeFormat(WithoutTimeZone(source));
                const QString where =
                    locale.name() + QStringLiteral(": ") + source + QStringLiteral(" -> ") + format;
                const QString unquoted = QString(format).remove(quoted);
                QVERIFY2(!unquoted.contains(QLatin1Char('s')), qPrintable(where));
                QVERIFY2(!unquoted.contains(QLatin1Char('t')), qPrintable(where));
                QVERIFY2(unquoted.contains(QLatin1Char('m')), qPrintable(where));
                QVERIFY2(unquoted.contains(QLatin1Char('h')) || unquoted.contains(QLatin1Char('H')),
                         qPrintable(where));
                QVERIFY2(format == format.trimmed(), qPrintable(where));

                const QString shown = locale.toString(QTime(13, 5, 47, 120), format);
                QVERIFY2(shown == locale.toString(QTime(13, 5), format), qPrintable(where));
                QVERIFY2(shown != locale.toString(QTime(13, 6), format), qPrintable(where));
                QVERIFY2(shown != locale.toString(QTime(14, 5), format), qPrintable(where));
                QVERIFY2(shown == shown.trimmed(), qPrintable(where));
            }
        }
    }

    void localeShortTimeFormats_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("shown");
        QTest::newRow("fr_CA") << "fr_CA"
                               << "HH 'h' mm 'min'"
                               << "21 h 05 min";
        QTest::newRow("ja_JP") << "ja_JP"
                               << "H時mm分"
                               << "21時05分";
        QTest::newRow("ko_KR") << "ko_KR"
                               << "AP h시 m분"
                               << "오후 9시 5분";
        QTest::newRow("zh_CN") << "zh_CN"
                               << "HH:mm"
                               << "21:05";
        QTest::newRow("en_US") << "en_US"
                               << "h:mm AP"
                               << "9:05 PM";
        QTest::newRow("de_DE") << "de_DE"
                               << "HH:mm"
                               << "21:05";
    }

    void localeShortTimeFormats() {
        QFETCH(QString, locale);
        QFETCH(QString, format);
        QFETCH(QString, shown);
        const QLocale l(locale);
        QCOMPARE(LocaleShortTimeFormat(l), format);
        QCOMPARE(l.toString(QTime(21, 5, 59), format), shown);
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
