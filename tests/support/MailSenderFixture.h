#pragma once

// An alert sender on a MailTestState, mailing through a real SMTP server to
// the given recipients (SendAddress1..): a test checks sink.isReady() first,
// and may point the state at a server of its own instead.

#include "support/MailTestState.h"
#include "support/SmtpSink.h"

#include "mail/AlertSender.h"
#include "mail/MailWorker.h"

inline void SetRecipients(MailSettings& mail, const QStringList& entries) {
    for (int i = 1; i <= 10; ++i)
        mail.SendAddress[i] = i <= entries.size() ? entries[i - 1] : QString();
}

// The mail state pointed at a real SMTP server, recipients set: for a test
// that makes its own workers and senders. It is all set before
// MailSenderFixture makes its sender, which reports a missing recipient as it
// starts.
class MailServerState : public MailTestState {
  public:
    explicit MailServerState(const QStringList& recipients = {QStringLiteral("a@example.com;TO")},
                             SmtpSink::Mode mode = SmtpSink::Accept,
                             const QStringList& options = {})
        : sink(mode, options) {
        state.Mail.SMTPServer = sink.server();
        SetRecipients(state.Mail, recipients);
    }

    SmtpSink sink;
};

class MailSenderFixture : public MailServerState {
  public:
    using MailServerState::MailServerState;

    MailWorker worker; // finds libnorsend beside the test program, like beside Norvik3
    AlertSender sender{state, worker};
};
