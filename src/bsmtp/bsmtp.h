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

// Why a mail was not sent (BSmtpReport::reason).
enum BSmtpReason {
    BSMTP_SENT = 0,
    BSMTP_NO_SERVER = 1,
    BSMTP_NO_SENDER = 2,
    BSMTP_NO_RECIPIENT = 3,
    BSMTP_BAD_ARGUMENT = 4, // a line break in a field, a malformed address
    BSMTP_BAD_SERVER = 5,   // a server text that names no host
    BSMTP_BAD_PORT = 6,
    BSMTP_BAD_SECURITY = 7,
    BSMTP_CA_FILE_UNREADABLE = 8,
    BSMTP_NOT_RESOLVED = 9,
    BSMTP_CONNECTION_REFUSED = 10,
    BSMTP_TIMED_OUT = 11,
    BSMTP_CONNECTION_LOST = 12,
    BSMTP_TLS_FAILED = 13,
    BSMTP_CERTIFICATE_NOT_TRUSTED = 14,
    BSMTP_LOGIN_REFUSED = 15,
    BSMTP_SENDER_REFUSED = 16,
    BSMTP_RECIPIENT_REFUSED = 17,
    BSMTP_MESSAGE_REFUSED = 18,
    BSMTP_FAILED = 19 // anything else; the text says what
};

// How to reach and log in to the server. Null pointers count as empty texts.
typedef struct BSmtpSettings {
    const char* user;     // empty: no login
    const char* password; // UTF-8
    // "" (STARTTLS when offered, required when a user is set), "none" (no
    // TLS at all), "starttls" (STARTTLS required) or "tls" (TLS from the
    // first byte).
    const char* security;
    // Wins over a port in the server text. Without either: 465 for "tls",
    // 25 otherwise.
    const char* port;
    // PEM file of CA certificates trusted besides the system's ones.
    const char* caFile;
} BSmtpSettings;

// What became of one mail.
typedef struct BSmtpReport {
    int32_t reason;            // BSmtpReason
    int32_t replyCode;         // the server's reply behind the reason, 0 if none
    int32_t permanent;         // 1: the server refused this very message for good (5xx)
    int32_t attachmentSkipped; // 1: the attachment could not be read; sent without it
    char text[160];            // the reason in a few words
    char refused[1024];        // recipients the server refused, TAB-separated
} BSmtpReport;

// Like BSendMail, with login and TLS settings, and the outcome in `report`
// (may be null). Unlike BSendMail it sends an alert that cannot carry its
// attachment without it, with the line "Attachment not sent: <path> could
// not be read." at the end of the body, and it delivers to every recipient
// the server accepts. Returns 1 when the server accepted the mail for at
// least one recipient, 0 otherwise.
BSMTP_EXPORT int32_t BSendMailEx(const char* server, const char* recipients, const char* from,
                                 const char* subject, const char* body, const char* attachment,
                                 const BSmtpSettings* settings, BSmtpReport* report);
}
