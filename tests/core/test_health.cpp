#include "core/HealthReport.h"

#include <QSignalSpy>
#include <QTest>

// A condition seen on every pass must reach the operator once, and once
// more when it clears: the health answer, the window and the service's
// standard error all rely on that.
class TestHealth : public QObject {
    Q_OBJECT

  private slots:
    void reportsEachChangeOnce() {
        HealthReport health;
        QSignalSpy spy(&health, &HealthReport::changed);
        struct Step {
            bool raise;
            HealthCondition condition;
            QString text;
            int signalsAfter;
        };
        const Step steps[] = {
            {true, HealthCondition::MailFailing, "Mail failing: no connection", 1},
            {true, HealthCondition::MailFailing, "Mail failing: no connection", 1},
            {true, HealthCondition::MailFailing, "Mail failing: login refused", 2},
            {true, HealthCondition::PollingBehind, "Polling is behind", 3},
            {false, HealthCondition::MailFailing, "Mail sent again", 4},
            {false, HealthCondition::MailFailing, "Mail sent again", 4},
            {false, HealthCondition::LogWriteFailing, "never raised", 4},
        };
        for (const Step& s : steps) {
            if (s.raise)
                health.raise(s.condition, s.text);
            else
                health.clear(s.condition, s.text);
            QCOMPARE(spy.count(), s.signalsAfter);
        }
        QCOMPARE(spy.at(1).at(2).toString(), QStringLiteral("Mail failing: login refused"));
        QCOMPARE(spy.at(3).at(1).toBool(), false);
        QCOMPARE(spy.at(3).at(2).toString(), QStringLiteral("Mail sent again"));
        QCOMPARE(health.activeNames(), QStringList{QStringLiteral("polling_behind")});
        QVERIFY(health.anyActive());
        QVERIFY(health.entry(HealthCondition::PollingBehind).since.isValid());
        QVERIFY(!health.entry(HealthCondition::MailFailing).since.isValid());
    }

    void namesEveryCondition() {
        QStringList names;
        for (int c = 0; c < int(HealthCondition::Count); ++c)
            names << HealthConditionName(HealthCondition(c));
        QVERIFY(!names.contains(QString()));
        QCOMPARE(QSet<QString>(names.begin(), names.end()).size(), names.size());
    }
};

QTEST_GUILESS_MAIN(TestHealth)
#include "test_health.moc"
