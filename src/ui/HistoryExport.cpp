#include "ui/HistoryExport.h"

#include "history/EventCsv.h"
#include "ui/HistoryReader.h"

#include <QSaveFile>
#include <QTimeZone>

#include <functional>

namespace {

struct Outcome {
    bool ok = false;
    QString text;
};

// Runs on the export's thread: every connection and file it uses is its
// own. An uncommitted QSaveFile removes what it wrote.
Outcome WriteCsv(const QString& historyPath, const EventFilter& filter, const QString& path,
                 const std::atomic<bool>& cancelled,
                 const std::function<void(qint64 rows)>& progress) {
    const auto failed = [&path](const QString& why) {
        return Outcome{
            false, QStringLiteral("The history could not be exported to %1: %2").arg(path, why)};
    };
    const Outcome wasCancelled{false, QStringLiteral("The export to %1 was cancelled").arg(path)};
    EventStore store(historyPath, EventStore::Mode::Read);
    if (store.open() != EventStore::OpenResult::Opened)
        return failed(store.message());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(EventCsvHeader()) < 0)
        return {false, QStringLiteral("%1 cannot be written: %2").arg(path, file.errorString())};
    const QTimeZone zone = QTimeZone::systemTimeZone();
    const std::function<bool()> stop = [&cancelled] { return cancelled.load(); };
    std::optional<EventCursor> next;
    qint64 rows = 0;
    for (int pages = 1;; ++pages) {
        const std::optional<EventPage> page =
            ReadPageInPieces(store, filter, next, EventStore::MaxPage, stop);
        if (!page)
            return wasCancelled;
        // A page that could not be read would leave the file short.
        if (!page->problem.isEmpty())
            return failed(page->problem);
        for (const HistoryEvent& event : page->events) {
            if (file.write(EventCsvLine(event, zone)) < 0)
                return failed(file.errorString());
        }
        rows += qint64(page->events.size());
        next = page->next;
        if (!next)
            break;
        if (pages % HistoryExport::PagesPerProgress == 0)
            progress(rows);
    }
    if (cancelled)
        return wasCancelled;
    if (!file.commit())
        return failed(file.errorString());
    return {true, QStringLiteral("%1 events exported to %2").arg(rows).arg(path)};
}

} // namespace

HistoryExport::HistoryExport(QString historyPath, EventFilter filter, QString path, QObject* parent)
    : QObject(parent), m_historyPath(std::move(historyPath)), m_filter(std::move(filter)),
      m_path(std::move(path)), m_cancelled(std::make_shared<std::atomic<bool>>(false)) {}

HistoryExport::~HistoryExport() {
    if (!m_thread)
        return;
    *m_cancelled = true;
    m_thread->wait();
}

void HistoryExport::start() {
    if (m_thread)
        return;
    // What the thread reports comes back through this object, which the
    // thread never outlives.
    const auto post = [this](std::function<void()> call) {
        QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
    };
    m_thread.reset(QThread::create([this, post] {
        const Outcome outcome =
            WriteCsv(m_historyPath, m_filter, m_path, *m_cancelled,
                     [this, post](qint64 rows) { post([this, rows] { emit progress(rows); }); });
        post([this, outcome] { emit finished(outcome.ok, outcome.text); });
    }));
    m_thread->setObjectName(QStringLiteral("History export"));
    m_thread->start();
}

void HistoryExport::cancel() {
    *m_cancelled = true;
}
