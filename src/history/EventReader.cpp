#include "history/EventReader.h"

#include "history/PageInPieces.h"

#include <QFile>

#include <sys/stat.h>

namespace {

std::optional<std::pair<quint64, quint64>> identityOf(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return std::pair{quint64(info.st_dev), quint64(info.st_ino)};
}

} // namespace

class EventReader::Worker : public QObject {
  public:
    explicit Worker(QString filePath) : m_filePath(std::move(filePath)) {}

    EventPage read(const EventFilter& filter, const std::optional<EventCursor>& after, int limit,
                   const QDeadlineTimer& budget) {
        QString problem;
        const EventStore* open = store(problem);
        if (!open)
            return {{}, std::nullopt, problem};
        EventPage page = ReadPageWithin(*open, filter, after, limit, budget);
        if (!page.problem.isEmpty())
            page.problem = QStringLiteral("The history cannot be read: %1").arg(page.problem);
        return page;
    }

  private:
    // The open store of the file now at the path; null with the reason.
    const EventStore* store(QString& problem) {
        const auto identity = identityOf(m_filePath);
        if (m_store && identity && identity == m_identity)
            return m_store.get();
        m_store.reset();
        m_identity.reset();
        if (!identity) {
            problem = QStringLiteral("No history yet: %1 does not exist").arg(m_filePath);
            return nullptr;
        }
        auto opened = std::make_unique<EventStore>(m_filePath, EventStore::Mode::Read);
        if (opened->open() != EventStore::OpenResult::Opened) {
            problem = QStringLiteral("The history cannot be read: %1").arg(opened->message());
            return nullptr;
        }
        m_store = std::move(opened);
        m_identity = identity;
        return m_store.get();
    }

    const QString m_filePath;
    std::unique_ptr<EventStore> m_store;
    // The device and inode of the file m_store reads.
    std::optional<std::pair<quint64, quint64>> m_identity;
};

EventReader::EventReader(QString filePath, std::chrono::milliseconds budget, QObject* parent)
    : QObject(parent), m_budget(budget), m_waiting(std::make_shared<std::atomic<int>>(0)) {
    auto* worker = new Worker(std::move(filePath));
    worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, worker, &QObject::deleteLater);
    m_worker = worker;
    m_thread.setObjectName(QStringLiteral("Endpoint history reader"));
    m_thread.start();
}

EventReader::~EventReader() {
    m_thread.quit();
    m_thread.wait();
}

bool EventReader::readPage(const EventFilter& filter, const std::optional<EventCursor>& after,
                           int limit, QObject* context, std::function<void(EventPage)> done) {
    if (m_waiting->load() >= MaxWaiting)
        return false;
    ++*m_waiting;
    QPointer<QObject> target = context;
    QMetaObject::invokeMethod(
        m_worker,
        [this, worker = m_worker.data(), waiting = m_waiting, budget = m_budget, filter, after,
         limit, target, done = std::move(done)]() mutable {
            // The budget runs from when the thread takes the request up.
            EventPage page = worker->read(filter, after, limit, QDeadlineTimer(budget));
            --*waiting;
            // Back through this object, which outlives the thread; the
            // context is looked at on its own thread only.
            QMetaObject::invokeMethod(
                this,
                [target, page = std::move(page), done = std::move(done)]() mutable {
                    if (target)
                        done(std::move(page));
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    return true;
}
