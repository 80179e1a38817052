#pragma once

#include "mail/NorSendLibrary.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>

class QThread;

// Calls the mail library on a thread of its own, so that a slow or silent
// server never stalls the event loop. Mails are sent one at a time, in the
// order they were handed over, whoever handed them over; each result comes
// back on the event loop through sent(). The thread sees only the copies of
// the texts it was given and the library.
class MailWorker : public QObject {
    Q_OBJECT

  public:
    using Ticket = quint64;

    // Loads the library from exactly that file, or looks for it beside the
    // program and then on the search path (empty).
    explicit MailWorker(QString libraryPath = {}, QObject* parent = nullptr);
    // Mails not yet begun are dropped. A mail still with the library is not
    // waited for: its thread is left to finish on its own (see the .cpp).
    ~MailWorker() override;

    MailWorker(const MailWorker&) = delete;
    MailWorker& operator=(const MailWorker&) = delete;

    // Queues one mail; its result is reported through sent() with this ticket.
    Ticket send(MailMessage message);

    // For the end of the program only: blocks for at most `limit` until the
    // result of `ticket` is there and returns it; it is then not reported
    // through sent(). Nothing when the mail has not come back by then; a mail
    // that has not begun yet (waiting behind another) is then not sent at all.
    std::optional<MailResult> waitFor(Ticket ticket, std::chrono::milliseconds limit);

    // How the last load of the library went (as of the last mail that came
    // back); an empty error after a successful load.
    bool libraryLoaded() const;
    QString libraryError() const;

  signals:
    // What the library made of the mail.
    void sent(MailWorker::Ticket ticket, const MailResult& result);

  private:
    struct Shared;
    static void run(Shared& shared);
    void deliver(Ticket ticket);

    std::shared_ptr<Shared> m_shared;
    std::unique_ptr<QThread> m_thread;
    Ticket m_lastTicket = 0;
};
