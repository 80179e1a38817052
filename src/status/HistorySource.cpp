#include "status/HistorySource.h"

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

HistorySource::HistorySource(QString filePath) : m_filePath(std::move(filePath)) {}

HistorySource::~HistorySource() = default;

const EventStore* HistorySource::store() {
    const auto identity = identityOf(m_filePath);
    if (m_store && identity && identity == m_identity)
        return m_store.get();
    m_store.reset();
    m_identity.reset();
    if (!identity) {
        m_problem = QStringLiteral("No history yet: %1 does not exist").arg(m_filePath);
        return nullptr;
    }
    auto store = std::make_unique<EventStore>(m_filePath, EventStore::Mode::Read);
    if (store->open() != EventStore::OpenResult::Opened) {
        m_problem = QStringLiteral("The history cannot be read: %1").arg(store->message());
        return nullptr;
    }
    m_store = std::move(store);
    m_identity = identity;
    m_problem.clear();
    return m_store.get();
}
