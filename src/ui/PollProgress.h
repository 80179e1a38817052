#pragma once

#include "core/StatusItem.h"
#include "core/AppState.h"

#include <QMetaObject>
#include <QString>

#include <array>
#include <functional>

// Follows one polling pass: a projector is done when the five status
// queries of this pass have all been handed over or dropped, and it answered
// when at least one of them got a reply. While polling is behind, the text
// says so after the progress. The text goes to the reporter on every change.
class PollProgress {
  public:
    static constexpr int QueriesPerPass = 5;

    explicit PollProgress(const AppState& state);
    ~PollProgress();
    PollProgress(const PollProgress&) = delete;
    PollProgress& operator=(const PollProgress&) = delete;

    void setReporter(std::function<void(const QString&)> reporter) {
        m_reporter = std::move(reporter);
    }

    // Called before the pass queues its queries, while the queues still hold
    // only what was there before.
    void passStarted(int projectorCount);
    void finished(int projector, CommandOutcome outcome);
    void dropped(int projector);

    // The longest text it reports, for the room it is given.
    static QString widestText();

    bool isRunning() const { return m_running; }
    QString text() const { return m_text; }

  private:
    struct Slot {
        bool inPass = false;
        int ahead = 0;
        int remaining = 0;
        bool answered = false;
    };
    void projectorDone(Slot& slot);
    void summarise();
    void report(const QString& text);

    const AppState& m_state;
    QMetaObject::Connection m_behindWatch;
    std::function<void(const QString&)> m_reporter;
    std::array<Slot, MaxProjectors + 1> m_slots{};
    bool m_running = false;
    int m_total = 0;
    int m_done = 0;
    int m_answered = 0;
    QString m_progress; // the pass's own text, without the behind note
    QString m_text;
};
