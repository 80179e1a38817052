#include "SmtpTransfer.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace bsmtp {

namespace {

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    }
    return true;
}

bool validHost(std::string_view host)
{
    if (host.empty())
        return false;
    return std::none_of(host.begin(), host.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u <= 0x20 || u == 0x7f || std::strchr("/@?#\\", c) != nullptr;
    });
}

bool validPort(std::string_view port)
{
    if (port.empty() || port.size() > 5)
        return false;
    if (!std::all_of(port.begin(), port.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
        return false;
    const long value = std::strtol(std::string(port).c_str(), nullptr, 10);
    return value >= 1 && value <= 65535;
}

struct Reader {
    const std::string& data;
    std::size_t offset = 0;
};

size_t readMessage(char* buffer, size_t size, size_t count, void* user)
{
    auto* reader = static_cast<Reader*>(user);
    const std::size_t room = size * count;
    const std::size_t n = std::min(room, reader->data.size() - reader->offset);
    std::memcpy(buffer, reader->data.data() + reader->offset, n);
    reader->offset += n;
    return n;
}

struct CurlDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

} // namespace

std::optional<std::string> ServerUrl(std::string_view server)
{
    const auto first = server.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return std::nullopt;
    server = server.substr(first, server.find_last_not_of(" \t") - first + 1);
    if (startsWithNoCase(server, "smtp://") || startsWithNoCase(server, "smtps://")) {
        const bool clean = std::none_of(server.begin(), server.end(), [](char c) {
            return static_cast<unsigned char>(c) <= 0x20 || c == 0x7f;
        });
        return clean ? std::optional<std::string>(std::string(server)) : std::nullopt;
    }
    std::string host;
    std::string_view port = "25";
    if (server.front() == '[') {
        const auto close = server.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        host = std::string(server.substr(0, close + 1));
        const std::string_view rest = server.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':')
                return std::nullopt;
            port = rest.substr(1);
        }
        if (!validHost(host.substr(1, host.size() - 2)))
            return std::nullopt;
    } else if (const auto colons = std::count(server.begin(), server.end(), ':'); colons > 1) {
        if (!validHost(server))
            return std::nullopt;
        // Built by appending: GCC 12 at -O3 reports a false -Wrestrict
        // overlap inside the standard library for "[" + string + "]".
        host.append(1, '[').append(server).append(1, ']');
    } else {
        const auto colon = server.find(':');
        host = std::string(server.substr(0, colon));
        if (colon != std::string_view::npos)
            port = server.substr(colon + 1);
        if (!validHost(host))
            return std::nullopt;
    }
    if (!validPort(port))
        return std::nullopt;
    return "smtp://" + host + ":" + std::string(port);
}

Timeouts TimeoutsFromEnvironment()
{
    Timeouts timeouts;
    if (const char* text = std::getenv("BSMTP_TIMEOUT_MS")) {
        char* end = nullptr;
        const long value = std::strtol(text, &end, 10);
        if (end != text && *end == '\0' && value > 0) {
            timeouts.total = std::chrono::milliseconds(value);
            timeouts.connect = std::min(timeouts.connect, timeouts.total);
        }
    }
    return timeouts;
}

int32_t Transfer(const Envelope& envelope, const std::string& message, const Timeouts& timeouts)
{
    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl)
        return CURLE_FAILED_INIT;
    std::unique_ptr<curl_slist, ListDeleter> recipients;
    for (const auto& address : envelope.recipients) {
        curl_slist* grown = curl_slist_append(recipients.get(), ("<" + address + ">").c_str());
        if (!grown)
            return CURLE_OUT_OF_MEMORY;
        recipients.release();
        recipients.reset(grown);
    }
    Reader reader{message};
    const std::string from = "<" + envelope.from + ">";
    CURL* h = curl.get();
    curl_easy_setopt(h, CURLOPT_URL, envelope.url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(h, CURLOPT_USE_SSL, long(CURLUSESSL_TRY));
    curl_easy_setopt(h, CURLOPT_MAIL_FROM, from.c_str());
    curl_easy_setopt(h, CURLOPT_MAIL_RCPT, recipients.get());
    curl_easy_setopt(h, CURLOPT_READFUNCTION, readMessage);
    curl_easy_setopt(h, CURLOPT_READDATA, &reader);
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, long(timeouts.connect.count()));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, long(timeouts.total.count()));
    return int32_t(curl_easy_perform(h));
}

} // namespace bsmtp
