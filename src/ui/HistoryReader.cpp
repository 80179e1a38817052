#include "ui/HistoryReader.h"

#include <algorithm>

class HistoryReader::Worker : public QObject {
  public:
    explicit Worker(QString filePath) : m_filePath(std::move(filePath)) {}

    // The store when it is open, opening it first; the problem otherwise.
    const EventStore* store(QString& problem) {
        if (!m_store || !m_store->isOpen()) {
            m_store = std::make_unique<EventStore>(m_filePath, EventStore::Mode::Read);
            if (m_store->open() != EventStore::OpenResult::Opened) {
                problem = m_store->message();
                m_store.reset();
                return nullptr;
            }
        }
        return m_store.get();
    }

  private:
    const QString m_filePath;
    std::unique_ptr<EventStore> m_store;
};

HistoryReader::HistoryReader(QString filePath, QObject* parent)
    : QObject(parent), m_latest(std::make_shared<Latest>()) {
    auto* worker = new Worker(std::move(filePath));
    worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, worker, &QObject::deleteLater);
    m_worker = worker;
    m_thread.setObjectName(QStringLiteral("History reader"));
    m_thread.start();
}

HistoryReader::~HistoryReader() {
    // Whatever is under way stops after its current piece.
    for (std::atomic<quint64>& latest : *m_latest)
        ++latest;
    m_thread.quit();
    m_thread.wait();
}

template <typename Answer>
void HistoryReader::run(
    Line line, quint64 generation, QObject* context,
    std::function<std::optional<Answer>(const EventStore*, const QString& problem,
                                        const std::function<bool()>& superseded)>
        read,
    std::function<void(Answer)> done) {
    QPointer<QObject> target = context;
    QMetaObject::invokeMethod(
        m_worker,
        [this, worker = m_worker.data(), latest = m_latest, slot = std::size_t(line), generation,
         target, read = std::move(read), done = std::move(done)]() mutable {
            const std::function<bool()> superseded = [&] {
                return (*latest)[slot].load() != generation;
            };
            if (superseded())
                return;
            QString problem;
            const EventStore* store = worker->store(problem);
            std::optional<Answer> answer = read(store, problem, superseded);
            if (!answer)
                return;
            // Back through this object, which outlives the thread; the
            // context is looked at on its own thread only.
            QMetaObject::invokeMethod(
                this,
                [latest, slot, generation, target, answer = std::move(*answer),
                 done = std::move(done)]() mutable {
                    if (target && (*latest)[slot].load() == generation)
                        done(std::move(answer));
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void HistoryReader::readPage(quint64 generation, const EventFilter& filter,
                             const std::optional<EventCursor>& after, int limit, QObject* context,
                             std::function<void(EventPage)> done) {
    run<EventPage>(
        Line::Pages, generation, context,
        [filter, after, limit](const EventStore* store, const QString& problem,
                               const std::function<bool()>& superseded) {
            if (!store)
                return std::optional<EventPage>(EventPage{{}, std::nullopt, problem});
            return ReadPageInPieces(*store, filter, after, limit, superseded);
        },
        std::move(done));
}

void HistoryReader::readHours(quint64 generation, const QString& projectorId, qint64 sinceMs,
                              QObject* context,
                              std::function<void(std::vector<HoursRecord>)> done) {
    run<std::vector<HoursRecord>>(
        Line::Hours, generation, context,
        [projectorId, sinceMs](const EventStore* store, const QString&,
                               const std::function<bool()>&) {
            // A store that cannot be opened has no hours to draw; the table
            // beside the chart says why.
            return std::optional<std::vector<HoursRecord>>(
                store ? store->hoursSince(projectorId, sinceMs) : std::vector<HoursRecord>{});
        },
        std::move(done));
}
