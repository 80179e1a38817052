#include "bsmtp.h"

#include "MailMessage.h"
#include "SmtpTransfer.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <vector>

namespace {

constexpr int32_t RefusedArguments = -1;
constexpr int32_t UnreadableAttachment = -2;
// Larger files could not be sent within the time-out anyway.
constexpr std::uintmax_t MaxAttachmentBytes = 64u * 1024u * 1024u;

std::string_view text(const char* p) {
    return p ? std::string_view(p) : std::string_view();
}

std::optional<bsmtp::Attachment> readAttachment(const std::string& path) {
    std::error_code error;
    const std::filesystem::path file(path);
    if (!std::filesystem::is_regular_file(file, error) ||
        std::filesystem::file_size(file, error) > MaxAttachmentBytes || error)
        return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return std::nullopt;
    return bsmtp::Attachment{file.filename().string(), std::move(data)};
}

std::string randomHex(std::size_t digits) {
    std::random_device device;
    std::ostringstream out;
    out << std::hex;
    for (std::size_t i = 0; i < digits; ++i)
        out << (device() & 15u);
    return out.str();
}

std::string messageId(const std::string& envelopeFrom, std::time_t now) {
    const auto at = envelopeFrom.rfind('@');
    std::string domain = at == std::string::npos ? std::string() : envelopeFrom.substr(at + 1);
    if (domain.empty())
        domain = "norvik3.localdomain";
    std::ostringstream id;
    id << '<' << std::hex << now << '.' << randomHex(16) << '@' << domain << '>';
    return id.str();
}

// One mail as both exports take it; `lenient` is the newer export's way
// with an unreadable attachment (sent without it) instead of a refusal.
struct Request {
    std::string_view server;
    std::string_view recipients;
    std::string_view from;
    std::string_view subject;
    std::string_view body;
    std::string attachment;
    bsmtp::LoginSettings login;
    bool lenient = false;
};

struct Outcome {
    int32_t reason = BSMTP_SENT;
    int32_t curlCode = 0;
    int32_t replyCode = 0;
    bool permanent = false;
    bool attachmentSkipped = false;
    std::string text;
    std::vector<std::string> refused;
};

Outcome refused(int32_t reason) {
    Outcome outcome;
    outcome.reason = reason;
    outcome.text = bsmtp::ReasonText(reason);
    return outcome;
}

std::string attachmentNote(const std::string& path) {
    return "Attachment not sent: " + path + " could not be read.\r\n";
}

Outcome sendMail(const Request& request) {
    using namespace bsmtp;
    if (HasLineBreak(request.server) || HasLineBreak(request.recipients) ||
        HasLineBreak(request.from) || HasLineBreak(request.subject) ||
        HasLineBreak(request.attachment) || HasLineBreak(request.login.user) ||
        HasLineBreak(request.login.port) || HasLineBreak(request.login.caFile))
        return refused(BSMTP_BAD_ARGUMENT);

    ConnectionError error{BSMTP_BAD_SERVER};
    const auto connection = ResolveConnection(request.server, request.login, error);
    if (!connection)
        return refused(error.reason);
    const std::string envelopeFrom = EnvelopeAddress(request.from);
    if (envelopeFrom.empty())
        return refused(BSMTP_NO_SENDER);
    if (envelopeFrom.find_first_of("<> \t") != std::string::npos)
        return refused(BSMTP_BAD_ARGUMENT);
    const auto parsed = ParseRecipients(request.recipients);
    if (!parsed)
        return refused(BSMTP_BAD_ARGUMENT);
    if (parsed->empty())
        return refused(BSMTP_NO_RECIPIENT);

    Outcome outcome;
    MessageParts parts;
    parts.from = std::string(request.from);
    parts.recipients = *parsed;
    parts.subject = std::string(request.subject);
    parts.body = std::string(request.body);
    if (!request.attachment.empty()) {
        parts.attachment = readAttachment(request.attachment);
        if (!parts.attachment && !request.lenient) {
            outcome.reason = BSMTP_BAD_ARGUMENT;
            outcome.attachmentSkipped = true;
            outcome.text = "attachment could not be read";
            return outcome;
        }
        if (!parts.attachment) {
            outcome.attachmentSkipped = true;
            if (!parts.body.empty() && parts.body.back() != '\n' && parts.body.back() != '\r')
                parts.body += "\r\n";
            parts.body += attachmentNote(request.attachment);
        }
    }
    const std::time_t now = std::time(nullptr);
    parts.date = DateHeader(now);
    parts.messageId = messageId(envelopeFrom, now);
    parts.boundary = "=_norvik3_" + randomHex(24);

    const Envelope envelope{envelopeFrom, parsed->all()};
    TransferResult result =
        Transfer(*connection, envelope, ComposeMessage(parts), TimeoutsFromEnvironment());
    outcome.curlCode = result.curlCode;
    outcome.reason = result.curlCode == 0 ? BSMTP_SENT : result.reason;
    outcome.replyCode = result.replyCode;
    outcome.permanent = result.permanent;
    outcome.text = result.curlCode == 0 ? ReasonText(BSMTP_SENT) : result.text;
    outcome.refused = std::move(result.refused);
    return outcome;
}

// Copies as much of `value` as fits, always NUL-terminated.
template <std::size_t N> void copyText(char (&target)[N], std::string_view value) {
    const std::size_t n = std::min(value.size(), N - 1);
    std::memcpy(target, value.data(), n);
    target[n] = '\0';
}

// The refused addresses, TAB-separated, as many whole ones as fit.
template <std::size_t N>
void copyAddresses(char (&target)[N], const std::vector<std::string>& list) {
    std::string joined;
    for (const auto& address : list) {
        const std::size_t extra = address.size() + (joined.empty() ? 0 : 1);
        if (joined.size() + extra >= N)
            break;
        if (!joined.empty())
            joined += '\t';
        joined += address;
    }
    copyText(target, joined);
}

} // namespace

extern "C" int32_t BSendMail(const char* server, const char* recipients, const char* from,
                             const char* subject, const char* body, const char* attachment,
                             int32_t* status) {
    Request request{text(server), text(recipients),
                    text(from),   text(subject),
                    text(body),   std::string(text(attachment)),
                    {},           false};
    const Outcome outcome = sendMail(request);
    // The old status values: 0 sent, the transfer's error code, -1 for
    // refused arguments and -2 for an unreadable attachment.
    int32_t code = outcome.curlCode;
    if (outcome.curlCode == 0 && outcome.reason != BSMTP_SENT)
        code = outcome.attachmentSkipped ? UnreadableAttachment : RefusedArguments;
    if (status)
        *status = code;
    return outcome.reason == BSMTP_SENT ? 1 : 0;
}

extern "C" int32_t BSendMailEx(const char* server, const char* recipients, const char* from,
                               const char* subject, const char* body, const char* attachment,
                               const BSmtpSettings* settings, BSmtpReport* report) {
    Request request{text(server), text(recipients),
                    text(from),   text(subject),
                    text(body),   std::string(text(attachment)),
                    {},           true};
    if (settings) {
        request.login = {std::string(text(settings->user)), std::string(text(settings->password)),
                         std::string(text(settings->security)), std::string(text(settings->port)),
                         std::string(text(settings->caFile))};
    }
    const Outcome outcome = sendMail(request);
    if (report) {
        report->reason = outcome.reason;
        report->replyCode = outcome.replyCode;
        report->permanent = outcome.permanent ? 1 : 0;
        report->attachmentSkipped = outcome.attachmentSkipped ? 1 : 0;
        copyText(report->text, outcome.text);
        copyAddresses(report->refused, outcome.refused);
    }
    return outcome.reason == BSMTP_SENT ? 1 : 0;
}
