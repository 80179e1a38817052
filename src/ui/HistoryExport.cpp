#include "ui/HistoryExport.h"

#include "history/EventCsv.h"

HistoryExport::HistoryExport(const EventStore& store, EventFilter filter, const QString& path,
                             QObject* parent)
    : QObject(parent), m_store(store), m_filter(std::move(filter)),
      m_zone(QTimeZone::systemTimeZone()), m_file(path) {
    m_turn.setInterval(0);
    connect(&m_turn, &QTimer::timeout, this, &HistoryExport::writePages);
}

bool HistoryExport::start() {
    if (!m_store.isOpen()) {
        m_error = QStringLiteral("The history is not open");
        return false;
    }
    if (!m_file.open(QIODevice::WriteOnly)) {
        m_error =
            QStringLiteral("%1 cannot be written: %2").arg(m_file.fileName(), m_file.errorString());
        return false;
    }
    if (m_file.write(EventCsvHeader()) < 0) {
        m_error =
            QStringLiteral("%1 cannot be written: %2").arg(m_file.fileName(), m_file.errorString());
        m_file.cancelWriting();
        return false;
    }
    m_turn.start();
    return true;
}

void HistoryExport::cancel() {
    if (!m_turn.isActive())
        return;
    m_turn.stop();
    m_file.cancelWriting();
    m_file.commit();
    emit finished(false, QStringLiteral("The export to %1 was cancelled").arg(m_file.fileName()));
}

void HistoryExport::writePages() {
    for (int n = 0; n < PagesPerTurn; ++n) {
        const EventPage page = m_store.page(m_filter, m_next, EventStore::MaxPage);
        // A page that could not be read would leave the file short.
        if (!page.problem.isEmpty())
            return fail(page.problem);
        for (const HistoryEvent& event : page.events) {
            if (m_file.write(EventCsvLine(event, m_zone)) < 0)
                return fail(m_file.errorString());
        }
        m_rows += qint64(page.events.size());
        m_next = page.next;
        if (!m_next) {
            m_turn.stop();
            if (!m_file.commit())
                return fail(m_file.errorString());
            emit finished(
                true,
                QStringLiteral("%1 events exported to %2").arg(m_rows).arg(m_file.fileName()));
            return;
        }
    }
    emit progress(m_rows);
}

void HistoryExport::fail(const QString& why) {
    m_turn.stop();
    m_file.cancelWriting();
    m_file.commit();
    m_error =
        QStringLiteral("The history could not be exported to %1: %2").arg(m_file.fileName(), why);
    emit finished(false, m_error);
}
