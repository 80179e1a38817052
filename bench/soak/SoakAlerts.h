#pragma once

#include "mail/AlertSender.h"
#include "mail/MailWorker.h"

#include <QString>

struct AppState;

// The program's alert sender with its mail thread, the mail library loaded
// from exactly the given file.
class SoakAlerts {
  public:
    SoakAlerts(AppState& state, const QString& libraryPath)
        : m_worker(libraryPath), m_sender(state, m_worker) {}

    AlertSender& sender() { return m_sender; }

    // The end of the run: a mail under way gets the program's grace period.
    void shutdown() { m_sender.shutdown(AlertSender::ShutdownGrace); }

  private:
    MailWorker m_worker;
    AlertSender m_sender;
};
