#pragma once

#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <functional>

// Runs one program at a time without blocking the event loop. The program
// gets its arguments as a list (never a shell). When it ends, `done` gets
// true and its standard output; when it cannot start, or is still running
// after the limit and is killed, `done` gets false.
class ChildRun : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void(bool finished, const QString& output)>;

    explicit ChildRun(QObject* parent = nullptr);
    ~ChildRun() override;

    void run(const QString& program, const QStringList& arguments,
             std::chrono::milliseconds limit, Done done);
    bool isRunning() const { return m_process != nullptr; }
    // Ends a running program without reporting it.
    void cancel();

private:
    void finish(bool finished);

    QProcess* m_process = nullptr; // child of this while running
    QTimer m_limit;
    Done m_done;
};
