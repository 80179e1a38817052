#include "NorSend.h"

#include "bsmtp.h"

namespace {

// Receives the client's status of every call; nothing reads it back.
int32_t MailStatusSlot = 0;

} // namespace

extern "C" int32_t NORSEND_SendMail(const char* server, const char* recipients, const char* from,
                                    const char* subject, const char* body, const char* attachment) {
    return BSendMail(server, recipients, from, subject, body, attachment, &MailStatusSlot);
}

extern "C" int32_t NORSEND_SendMailEx(const char* server, const char* recipients, const char* from,
                                      const char* subject, const char* body, const char* attachment,
                                      const BSmtpSettings* settings, BSmtpReport* report) {
    return BSendMailEx(server, recipients, from, subject, body, attachment, settings, report);
}
