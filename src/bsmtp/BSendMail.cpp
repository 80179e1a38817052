#include "bsmtp.h"

#include "MailMessage.h"
#include "SmtpTransfer.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

namespace {

constexpr int32_t RefusedArguments = -1;
constexpr int32_t UnreadableAttachment = -2;
// Larger files could not be sent within the time-out anyway.
constexpr std::uintmax_t MaxAttachmentBytes = 64u * 1024u * 1024u;

std::string_view text(const char* p) { return p ? std::string_view(p) : std::string_view(); }

std::optional<bsmtp::Attachment> readAttachment(const std::string& path)
{
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

std::string randomHex(std::size_t digits)
{
    std::random_device device;
    std::ostringstream out;
    out << std::hex;
    for (std::size_t i = 0; i < digits; ++i)
        out << (device() & 15u);
    return out.str();
}

std::string messageId(const std::string& envelopeFrom, std::time_t now)
{
    const auto at = envelopeFrom.rfind('@');
    std::string domain = at == std::string::npos ? std::string() : envelopeFrom.substr(at + 1);
    if (domain.empty())
        domain = "norvik3.localdomain";
    std::ostringstream id;
    id << '<' << std::hex << now << '.' << randomHex(16) << '@' << domain << '>';
    return id.str();
}

int32_t finish(int32_t* status, int32_t code, int32_t result)
{
    if (status)
        *status = code;
    return result;
}

} // namespace

extern "C" int32_t BSendMail(const char* server, const char* recipients, const char* from,
                             const char* subject, const char* body, const char* attachment,
                             int32_t* status)
{
    using namespace bsmtp;
    const std::string_view fromText = text(from);
    if (HasLineBreak(text(server)) || HasLineBreak(text(recipients)) || HasLineBreak(fromText) ||
        HasLineBreak(text(subject)) || HasLineBreak(text(attachment)))
        return finish(status, RefusedArguments, 0);

    const auto url = ServerUrl(text(server));
    const auto parsed = ParseRecipients(text(recipients));
    const std::string envelopeFrom = EnvelopeAddress(fromText);
    if (!url || !parsed || parsed->empty() || envelopeFrom.empty() ||
        envelopeFrom.find_first_of("<> \t") != std::string::npos)
        return finish(status, RefusedArguments, 0);

    MessageParts parts;
    parts.from = std::string(fromText);
    parts.recipients = *parsed;
    parts.subject = std::string(text(subject));
    parts.body = std::string(text(body));
    if (const std::string path(text(attachment)); !path.empty()) {
        parts.attachment = readAttachment(path);
        if (!parts.attachment)
            return finish(status, UnreadableAttachment, 0);
    }
    const std::time_t now = std::time(nullptr);
    parts.date = DateHeader(now);
    parts.messageId = messageId(envelopeFrom, now);
    parts.boundary = "=_norvik3_" + randomHex(24);

    const Envelope envelope{*url, envelopeFrom, parsed->all()};
    const int32_t code = Transfer(envelope, ComposeMessage(parts), TimeoutsFromEnvironment());
    return finish(status, code, code == 0 ? 1 : 0);
}
