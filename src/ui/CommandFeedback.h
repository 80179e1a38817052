#pragma once

#include "core/StatusItem.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

struct AppState;

// Follows the commands an operator gave until each has been handed over or
// dropped, and then reports the outcome in one line. An operation is opened
// with begin(), collects the first command queued for each projector while
// it is open, and is closed with end(). The queues are first-in, first-out,
// so a command is the one finished after the commands that were ahead of it
// in its queue when it was queued; a flush drops it.
class CommandFeedback {
  public:
    struct Problem {
        QDateTime time;
        QString text;
    };
    static constexpr std::size_t MaxProblems = 50;

    explicit CommandFeedback(const AppState& state);

    // Called with each finished operation's line.
    void setReporter(std::function<void(const QString&)> reporter) {
        m_reporter = std::move(reporter);
    }

    // subject is the projector's or group's name, caption the command as
    // the operator chose it ("Power ON", "Input HDMI").
    void begin(const QString& subject, const QString& caption, bool group);
    // The projector's queue held `ahead` commands before this one was queued.
    void queued(int projector, int ahead);
    void end();

    void finished(int projector, CommandOutcome outcome);
    void dropped(int projector);

    // A problem of the program itself (or its end), listed with the
    // commands' problems.
    void addProblem(const QString& text);

    // Refusals and time-outs of operators' commands and the program's own
    // problems, oldest first.
    const std::deque<Problem>& problems() const { return m_problems; }

  private:
    struct Operation;
    struct Pending {
        int projector;
        int ahead;
        std::shared_ptr<Operation> operation;
    };
    void resolve(const Pending& pending, CommandOutcome outcome, bool cancelled);
    void reportIfDone(Operation& operation);

    const AppState& m_state;
    std::function<void(const QString&)> m_reporter;
    std::shared_ptr<Operation> m_open;
    std::vector<Pending> m_pending;
    std::deque<Problem> m_problems;
};

// Keeps an operation open for one operator action.
class FeedbackScope {
  public:
    FeedbackScope(CommandFeedback& feedback, const QString& subject, const QString& caption,
                  bool group)
        : m_feedback(feedback) {
        m_feedback.begin(subject, caption, group);
    }
    ~FeedbackScope() { m_feedback.end(); }
    FeedbackScope(const FeedbackScope&) = delete;
    FeedbackScope& operator=(const FeedbackScope&) = delete;

  private:
    CommandFeedback& m_feedback;
};
