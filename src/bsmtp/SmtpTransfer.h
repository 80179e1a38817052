#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The SMTP dialogue itself, through libcurl.
namespace bsmtp {

// The URL for a server text: "host" and "host:port" become smtp://host:port
// (port 25 by default; a bare IPv6 address is bracketed), smtp:// and
// smtps:// URLs are taken as they are. Nothing for an empty text, a port
// that is not a number in 1..65535, or a host with blanks or URL syntax.
std::optional<std::string> ServerUrl(std::string_view server);

struct Timeouts {
    std::chrono::milliseconds connect{10'000};
    std::chrono::milliseconds total{30'000};
};

// The standard time-outs, or BSMTP_TIMEOUT_MS from the environment.
Timeouts TimeoutsFromEnvironment();

struct Envelope {
    std::string url;
    std::string from;
    std::vector<std::string> recipients;
};

// Sends the message; returns 0 when the server took it, the libcurl error
// code otherwise.
int32_t Transfer(const Envelope& envelope, const std::string& message, const Timeouts& timeouts);

} // namespace bsmtp
