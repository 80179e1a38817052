#include "platform/ChildRun.h"

#include <utility>

ChildRun::ChildRun(QObject* parent) : QObject(parent)
{
    m_limit.setSingleShot(true);
    connect(&m_limit, &QTimer::timeout, this, [this] {
        if (m_process)
            m_process->kill(); // reported through finished() as a crash
    });
}

ChildRun::~ChildRun()
{
    cancel();
}

void ChildRun::run(const QString& program, const QStringList& arguments,
                   std::chrono::milliseconds limit, Done done)
{
    cancel();
    m_done = std::move(done);
    m_process = new QProcess(this);
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    m_process->setStandardInputFile(QProcess::nullDevice());
    m_process->setStandardErrorFile(QProcess::nullDevice());
    connect(m_process, &QProcess::finished, this,
            [this](int, QProcess::ExitStatus status) { finish(status == QProcess::NormalExit); });
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finish(false);
    });
    m_limit.start(limit);
    m_process->start(program, arguments, QIODevice::ReadOnly);
}

void ChildRun::finish(bool finished)
{
    if (!m_process)
        return;
    m_limit.stop();
    const QString output = QString::fromLocal8Bit(m_process->readAllStandardOutput());
    // The process object may still be inside its own signal; let the event
    // loop delete it.
    std::exchange(m_process, nullptr)->deleteLater();
    Done done = std::exchange(m_done, nullptr);
    if (done)
        done(finished, output);
}

void ChildRun::cancel()
{
    m_limit.stop();
    m_done = nullptr;
    if (!m_process)
        return;
    QProcess* process = std::exchange(m_process, nullptr);
    process->disconnect(this);
    // Reaping a killed child takes a moment; it is bounded and happens only
    // when a run is abandoned (shutdown).
    process->kill();
    process->waitForFinished(1000);
    process->deleteLater();
}
