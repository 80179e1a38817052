#pragma once

#include "bsmtp.h"

#include <cstdint>

#if defined(NORSEND_BUILDING)
#define NORSEND_EXPORT __attribute__((visibility("default")))
#else
#define NORSEND_EXPORT
#endif

extern "C" {

// Sends one mail: server, recipients (TAB-separated, see BSendMail), sender,
// subject, body and attachment path, all NUL-terminated UTF-8. Returns 0 when
// the mail was not sent, anything else when it was. The texts stay owned by
// the caller and are not kept after the call.
NORSEND_EXPORT int32_t NORSEND_SendMail(const char* server, const char* recipients,
                                        const char* from, const char* subject, const char* body,
                                        const char* attachment);

// The same with the login and TLS settings and the outcome (reason, refused
// recipients, a skipped attachment): passed to and from BSendMailEx.
NORSEND_EXPORT int32_t NORSEND_SendMailEx(const char* server, const char* recipients,
                                          const char* from, const char* subject, const char* body,
                                          const char* attachment, const BSmtpSettings* settings,
                                          BSmtpReport* report);
}
