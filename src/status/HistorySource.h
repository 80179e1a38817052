#pragma once

#include "history/EventStore.h"

#include <QString>

#include <memory>
#include <optional>
#include <utility>

// The endpoint's own reading connection to the history file, opened when
// first asked for and again once the file was replaced (the program moves a
// damaged one aside and starts anew), so that answers never come from a
// file the program no longer writes.
class HistorySource {
  public:
    explicit HistorySource(QString filePath);
    ~HistorySource();
    HistorySource(const HistorySource&) = delete;
    HistorySource& operator=(const HistorySource&) = delete;

    // The open store; null when there is none to read, with the reason in
    // problem().
    const EventStore* store();
    const QString& problem() const { return m_problem; }

  private:
    QString m_filePath;
    std::unique_ptr<EventStore> m_store;
    // The device and inode of the file m_store reads.
    std::optional<std::pair<quint64, quint64>> m_identity;
    QString m_problem;
};
