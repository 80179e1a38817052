#include "mail/MailWorker.h"

#include <QThread>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <utility>

// What the event loop and the mail thread share. Everything but the library
// is guarded by the mutex; the library is used by the mail thread alone.
struct MailWorker::Shared {
    explicit Shared(QString libraryPath) : library(std::move(libraryPath)) {}

    NorSendLibrary library;

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::pair<Ticket, MailMessage>> waiting;
    // Results back from the library and not yet reported.
    std::map<Ticket, MailResult> results;
    // Null once the MailWorker is gone: nothing is reported any more.
    MailWorker* owner = nullptr;
    bool stopping = false;
    bool inLibrary = false;
    bool libraryLoaded = false;
    QString libraryError;
};

MailWorker::MailWorker(QString libraryPath, QObject* parent)
    : QObject(parent), m_shared(std::make_shared<Shared>(std::move(libraryPath))) {
    m_shared->owner = this;
    m_thread.reset(QThread::create([shared = m_shared] { run(*shared); }));
    m_thread->setObjectName(QStringLiteral("mail"));
    m_thread->start();
}

MailWorker::~MailWorker() {
    std::unique_lock lock(m_shared->mutex);
    m_shared->owner = nullptr;
    m_shared->stopping = true;
    m_shared->waiting.clear();
    m_shared->changed.notify_all();
    if (!m_shared->inLibrary) {
        lock.unlock();
        m_thread->wait(); // it is between mails and ends at once
        return;
    }
    // The library is talking to a server and cannot be interrupted; the
    // program does not wait for it (at most its own 30 s). The thread object
    // is deliberately let go: the thread touches nothing but its own shared
    // state, ends when the library returns and then deletes its QThread if an
    // event loop still runs; at program end it dies with the process. The
    // connection is made under the lock, before the thread can end.
    QThread* thread = m_thread.release();
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
}

MailWorker::Ticket MailWorker::send(MailMessage message) {
    const Ticket ticket = ++m_lastTicket;
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->waiting.emplace_back(ticket, std::move(message));
    }
    m_shared->changed.notify_all();
    return ticket;
}

std::optional<MailResult> MailWorker::waitFor(Ticket ticket, std::chrono::milliseconds limit) {
    std::unique_lock lock(m_shared->mutex);
    const bool back = m_shared->changed.wait_for(
        lock, limit, [&] { return m_shared->results.count(ticket) != 0; });
    if (!back) {
        std::erase_if(m_shared->waiting, [ticket](const auto& job) { return job.first == ticket; });
        return std::nullopt;
    }
    MailResult result = std::move(m_shared->results.at(ticket));
    m_shared->results.erase(ticket);
    return result;
}

bool MailWorker::libraryLoaded() const {
    const std::lock_guard lock(m_shared->mutex);
    return m_shared->libraryLoaded;
}

QString MailWorker::libraryError() const {
    const std::lock_guard lock(m_shared->mutex);
    return m_shared->libraryError;
}

void MailWorker::run(Shared& shared) {
    std::unique_lock lock(shared.mutex);
    for (;;) {
        shared.changed.wait(lock, [&] { return shared.stopping || !shared.waiting.empty(); });
        if (shared.stopping)
            return;
        const auto [ticket, message] = std::move(shared.waiting.front());
        shared.waiting.pop_front();
        shared.inLibrary = true;
        lock.unlock();

        MailResult result = shared.library.Send(message);

        lock.lock();
        shared.inLibrary = false;
        shared.libraryLoaded = shared.library.isLoaded();
        shared.libraryError = shared.library.errorString();
        if (!shared.owner)
            return;
        shared.results[ticket] = std::move(result);
        shared.changed.notify_all();
        // Posted under the lock, so the owner cannot be destroyed meanwhile;
        // its destructor drops the event if it is not delivered by then.
        MailWorker* owner = shared.owner;
        QMetaObject::invokeMethod(
            owner, [owner, t = ticket] { owner->deliver(t); }, Qt::QueuedConnection);
    }
}

void MailWorker::deliver(Ticket ticket) {
    MailResult result;
    {
        const std::lock_guard lock(m_shared->mutex);
        const auto found = m_shared->results.find(ticket);
        if (found == m_shared->results.end())
            return; // taken by waitFor()
        result = std::move(found->second);
        m_shared->results.erase(found);
    }
    emit sent(ticket, result);
}
