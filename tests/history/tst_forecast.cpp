// Replacement forecasts from daily hours.

#include "core/Forecast.h"

#include <QTimeZone>
#include <QtTest>

namespace {

constexpr qint64 Day = 24LL * 60 * 60 * 1000;
const qint64 Now = QDateTime(QDate(2026, 6, 1), QTime(12, 0), QTimeZone::utc()).toMSecsSinceEpoch();

// `days` daily samples ending today, starting at `start` hours and rising
// by `perDay`.
std::vector<HoursSample> daily(int days, qint32 start, qint32 perDay) {
    std::vector<HoursSample> samples;
    for (int d = 0; d < days; ++d)
        samples.push_back({Now - (days - 1 - d) * Day, start + d * perDay});
    return samples;
}

} // namespace

class TestForecast : public QObject {
    Q_OBJECT

  private slots:
    void texts_data() {
        QTest::addColumn<std::vector<HoursSample>>("samples");
        QTest::addColumn<int>("threshold");
        QTest::addColumn<QString>("text");
        QTest::newRow("no data") << std::vector<HoursSample>{} << 2000 << "-";
        QTest::newRow("six days") << daily(6, 1000, 10) << 2000 << "-";
        QTest::newRow("seven days") << daily(7, 1000, 10) << 2000 << "in 94 days";
        QTest::newRow("23 days") << daily(10, 1680, 10) << 2000 << "in 23 days";
        QTest::newRow("one day") << daily(10, 1900, 10) << 2000 << "in 1 day";
        QTest::newRow("reached") << daily(10, 1995, 10) << 2000 << "overdue";
        QTest::newRow("not burning") << daily(10, 1000, 0) << 2000 << "-";
        std::vector<HoursSample> reset = daily(20, 1500, 10);
        for (int d = 0; d < 5; ++d)
            reset[15 + d].hours = d * 10;
        QTest::newRow("reset leaves five days") << reset << 2000 << "-";
        std::vector<HoursSample> old = daily(40, 0, 10);
        old.erase(old.begin() + 12, old.end());
        QTest::newRow("only older than the window") << old << 2000 << "-";
        QTest::newRow("unreported hours") << daily(10, -1, 0) << 2000 << "-";
    }
    void texts() {
        QFETCH(std::vector<HoursSample>, samples);
        QFETCH(int, threshold);
        QFETCH(QString, text);
        const Forecast f = ForecastReplacement(samples, Now, threshold);
        QCOMPARE(ForecastText(f, QDateTime::fromMSecsSinceEpoch(Now, QTimeZone::utc())), text);
    }

    // One date for all the lamps: the first one due wins, an undated lamp
    // never hides a dated one.
    void soonestOfTheLamps_data() {
        QTest::addColumn<std::vector<Forecast>>("lamps");
        QTest::addColumn<int>("soonest"); // index, -1: none
        using S = Forecast::State;
        const auto at = [](S state, qint64 dueMs, qint32 hours) {
            return Forecast{state, 0, hours, 0, dueMs};
        };
        const Forecast early = at(S::Due, Now + Day, 1), late = at(S::Due, Now + 9 * Day, 2);
        const Forecast over = at(S::Overdue, Now - Day, 3), idle = at(S::NotBurning, 0, 4);
        QTest::newRow("none") << std::vector<Forecast>{} << -1;
        QTest::newRow("lamp 2 sooner") << std::vector<Forecast>{late, early} << 1;
        QTest::newRow("overdue first") << std::vector<Forecast>{early, over} << 1;
        QTest::newRow("no data behind") << std::vector<Forecast>{Forecast(), idle, late} << 2;
        QTest::newRow("not burning before no data") << std::vector<Forecast>{Forecast(), idle} << 1;
        QTest::newRow("tie keeps lamp 1")
            << std::vector<Forecast>{early, at(S::Due, Now + Day, 9)} << 0;
    }
    void soonestOfTheLamps() {
        QFETCH(std::vector<Forecast>, lamps);
        QFETCH(int, soonest);
        const Forecast expected = soonest < 0 ? Forecast() : lamps[std::size_t(soonest)];
        QCOMPARE(SoonestForecast(lamps).hours, expected.hours);
        QVERIFY(SoonestForecast(lamps) == expected);
    }

    // A projector burning 10 h a day, sampled once a day with the hours as
    // whole numbers, is forecast within one day of when it truly reaches
    // the threshold.
    void tenHoursADayWithinOneDay() {
        for (int startHours : {0, 1234, 1500, 1700}) {
            std::vector<HoursSample> samples;
            const double exact = 10.0 / Day;
            for (int d = 0; d < 30; ++d) {
                const qint64 t = Now - (29 - d) * Day - (d % 3) * 3600'000;
                samples.push_back({t, qint32(startHours + (t - (Now - 29 * Day)) * exact)});
            }
            const qint64 trueDue = Now - 29 * Day + qint64((2000 - startHours) / exact);
            const Forecast f = ForecastReplacement(samples, Now, 2000);
            QCOMPARE(f.state, Forecast::State::Due);
            QVERIFY2(std::abs(f.dueMs - trueDue) <= Day, qPrintable(QString::number(startHours)));
            QVERIFY(std::abs(f.hoursPerDay - 10.0) < 0.5);
            QCOMPARE(f.remaining, 2000 - samples.back().hours);
        }
    }
};

QTEST_GUILESS_MAIN(TestForecast)
#include "tst_forecast.moc"
