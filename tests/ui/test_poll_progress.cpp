// The status bar's polling text: the pass's progress, and while polling is
// behind, the reason after it, for as long as the condition lasts.

#include "ui/PollProgress.h"

#include <QTest>

class TestPollProgress : public QObject {
    Q_OBJECT

  private slots:
    void behindIsShownWithTheProgressUntilItClears() {
        AppState state;
        state.ShortTimeFormat = QStringLiteral("HH:mm");
        state.clock.set(QDateTime(QDate(2026, 5, 4), QTime(14, 2)));
        PollProgress progress(state);
        QStringList reported;
        progress.setReporter([&](const QString& text) { reported << text; });

        progress.passStarted(2);
        QCOMPARE(progress.text(), QStringLiteral("Polling: 0 of 2 projectors done"));
        const QString behind =
            QStringLiteral("Polling is behind: the pass started at 14:02 is not done after 300 s");
        state.Health.raise(HealthCondition::PollingBehind, behind);
        QCOMPARE(progress.text(), QStringLiteral("Polling: 0 of 2 projectors done. ") + behind);
        QCOMPARE(reported.last(), progress.text());

        // Progress goes on with the note kept.
        for (int i = 0; i < PollProgress::QueriesPerPass; ++i)
            progress.finished(1, CommandOutcome::Data);
        QCOMPARE(progress.text(), QStringLiteral("Polling: 1 of 2 projectors done. ") + behind);

        // Another condition leaves the text alone; clearing this one removes the note.
        const int reports = int(reported.size());
        state.Health.raise(HealthCondition::MailFailing, QStringLiteral("mail"));
        QCOMPARE(reported.size(), reports);
        state.Health.clear(HealthCondition::PollingBehind);
        QCOMPARE(progress.text(), QStringLiteral("Polling: 1 of 2 projectors done"));
        QCOMPARE(reported.last(), progress.text());
    }
};

QTEST_GUILESS_MAIN(TestPollProgress)
#include "test_poll_progress.moc"
