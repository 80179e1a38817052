#include "schedule/LatestFileWriter.h"

#include "platform/SafeFile.h"

#include <QLoggingCategory>

#include <mutex>
#include <optional>

namespace {
Q_LOGGING_CATEGORY(lcScheduleFile, "norvik.schedule")
}

struct LatestFileWriter::Pending {
    std::mutex mutex;
    std::optional<QByteArray> content;
};

LatestFileWriter::LatestFileWriter(QString path)
    : m_path(std::move(path)), m_pending(std::make_shared<Pending>()) {
    m_thread.setMaxThreadCount(1);
}

LatestFileWriter::~LatestFileWriter() {
    flush();
}

void LatestFileWriter::write(QByteArray content) {
    bool waiting = false;
    {
        const std::lock_guard lock(m_pending->mutex);
        waiting = m_pending->content.has_value();
        m_pending->content = std::move(content);
    }
    if (waiting)
        return; // the job already queued takes the new content
    m_thread.start([pending = m_pending, path = m_path] {
        std::optional<QByteArray> content;
        {
            const std::lock_guard lock(pending->mutex);
            content.swap(pending->content);
        }
        if (!content)
            return;
        const FileOutcome written = WriteFileAtomically(path, *content);
        if (!written)
            qCWarning(lcScheduleFile).noquote()
                << "Schedule: the record of runs cannot be kept:" << written.error;
    });
}

void LatestFileWriter::flush() {
    m_thread.waitForDone();
}
