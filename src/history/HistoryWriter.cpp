#include "history/HistoryWriter.h"

#include <QDateTime>

HistoryWriter::HistoryWriter(Options options, QObject* parent)
    : QObject(parent), m_filePath(std::move(options.filePath)),
      m_maxPending(std::max<std::size_t>(1, options.maxPending)), m_interval(options.interval),
      m_limits(options.limits) {
    m_thread = std::thread([this] { run(); });
}

HistoryWriter::~HistoryWriter() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void HistoryWriter::record(HistoryEvent event) {
    const std::lock_guard lock(m_mutex);
    m_pending.push_back(std::move(event));
    if (m_pending.size() > m_maxPending) {
        m_pending.pop_front();
        ++m_dropped;
    }
}

void HistoryWriter::setLimits(const HistoryLimits& limits) {
    const std::lock_guard lock(m_mutex);
    m_limits = limits;
}

std::size_t HistoryWriter::pendingCount() const {
    const std::lock_guard lock(m_mutex);
    return m_pending.size() + m_taken;
}

void HistoryWriter::run() {
    EventStore store(m_filePath, EventStore::Mode::Write);
    bool stopping = false;
    while (!stopping) {
        std::deque<HistoryEvent> batch;
        HistoryLimits limits;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait_for(lock, m_interval, [this] { return m_stopping; });
            stopping = m_stopping;
            batch.swap(m_pending);
            m_taken = batch.size();
            limits = m_limits;
        }
        if (!store.isOpen()) {
            const EventStore::OpenResult opened = store.open();
            if (opened == EventStore::OpenResult::Failed) {
                reportProblem(
                    QStringLiteral("The history is not recorded: %1").arg(store.message()));
                putBack(std::move(batch));
                continue;
            }
            // Said whatever else was said before: the old file's events
            // are no longer in the history, though recording goes on.
            if (opened == EventStore::OpenResult::Replaced)
                emit problem(store.message());
        }
        if (!batch.empty())
            writeBatch(store, std::move(batch));
        if (store.isOpen())
            store.prune(QDateTime::currentMSecsSinceEpoch(), limits);
    }
}

void HistoryWriter::writeBatch(EventStore& store, std::deque<HistoryEvent> batch) {
    std::vector<HistoryEvent> events(batch.begin(), batch.end());
    // The daily hours stay once a day per projector across restarts: the
    // recorder only knows what it recorded in this run.
    std::erase_if(events, [&](const HistoryEvent& e) {
        return e.kind == EventKind::Hours && store.hasHoursOn(e.projectorId, e.timeMs);
    });
    switch (store.append(events)) {
    case EventStore::WriteResult::Written: {
        const std::lock_guard lock(m_mutex);
        m_taken = 0;
    }
        m_committed += events.size();
        emit committed(m_committed.load());
        reportRecovered(QStringLiteral("The history is recorded again"));
        return;
    case EventStore::WriteResult::Corrupt:
        if (store.replaceBroken() == EventStore::OpenResult::Replaced)
            emit problem(store.message());
        else
            reportProblem(QStringLiteral("The history is not recorded: %1").arg(store.message()));
        break;
    case EventStore::WriteResult::DiskFull:
    case EventStore::WriteResult::Failed:
        reportProblem(QStringLiteral("The history is not recorded: %1 (%2)")
                          .arg(store.message(), store.filePath()));
        break;
    }
    putBack(std::move(batch));
}

void HistoryWriter::putBack(std::deque<HistoryEvent> batch) {
    const std::lock_guard lock(m_mutex);
    m_taken = 0;
    // The batch is older than anything recorded since it was taken.
    for (auto it = m_pending.begin(); it != m_pending.end(); ++it)
        batch.push_back(std::move(*it));
    m_pending.swap(batch);
    while (m_pending.size() > m_maxPending) {
        m_pending.pop_front();
        ++m_dropped;
    }
}

void HistoryWriter::reportProblem(const QString& text) {
    if (m_inTrouble)
        return;
    m_inTrouble = true;
    emit problem(text);
}

void HistoryWriter::reportRecovered(const QString& text) {
    if (!m_inTrouble)
        return;
    m_inTrouble = false;
    emit recovered(text);
}
