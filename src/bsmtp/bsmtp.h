#pragma once

#include <cstdint>

#if defined(BSMTP_BUILDING)
#define BSMTP_EXPORT __attribute__((visibility("default")))
#else
#define BSMTP_EXPORT
#endif

extern "C" {

// Sends one mail over SMTP and returns when the attempt is over.
//
// server      "host", "host:port" (port 25 by default), or an smtp:// or
//             smtps:// URL. STARTTLS is used when the server offers it.
// recipients  To addresses separated by TAB, then optionally TAB "cc" TAB and
//             the Cc addresses, then optionally TAB "bcc" TAB and the Bcc
//             addresses (these get no header).
// from        the sender address, optionally "Name <address>".
// subject     UTF-8; encoded for the header when it is not plain ASCII.
// body        UTF-8 text; line ends become CR LF.
// attachment  full path of a file to attach, empty for none.
// status      receives 0 after a sent mail, the transfer's error code after a
//             failed one, -1 for refused arguments and -2 for an unreadable
//             attachment. May be null.
//
// Returns 1 when the server accepted the mail, 0 otherwise. Refused without
// any connection: a header field or the server text holding CR or LF, an
// empty sender, no recipient at all, a malformed server text, an attachment
// that cannot be read.
//
// Time-outs: 10 s to connect, 30 s in all. The environment variable
// BSMTP_TIMEOUT_MS, when set to a positive number, replaces the total (and
// caps the connect time-out).
BSMTP_EXPORT int32_t BSendMail(const char* server, const char* recipients, const char* from,
                               const char* subject, const char* body, const char* attachment,
                               int32_t* status);
}
