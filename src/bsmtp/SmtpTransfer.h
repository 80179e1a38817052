#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The SMTP dialogue itself, through libcurl.
namespace bsmtp {

enum class Security { Auto, None, StartTls, Tls };

// The texts of the login and TLS settings, as the caller gave them.
struct LoginSettings {
    std::string user;
    std::string password;
    std::string security;
    std::string port;
    std::string caFile;
};

// Where and how to connect: the URL (smtp://host:port or smtps://host:port)
// and the login. Credentials written into an smtp:// URL are taken out of it
// and used when no user is set.
struct Connection {
    std::string url;
    Security security = Security::Auto;
    std::string user;
    std::string password;
    std::string caFile;
};

// Why a server text and settings give no connection (a BSmtpReason).
struct ConnectionError {
    int32_t reason;
};

// "host", "host:port" (a bare IPv6 address may be bracketed), and smtp:// or
// smtps:// URLs. The port of the settings wins over the one in the text;
// without either it is 465 for implicit TLS and 25 otherwise.
std::optional<Connection> ResolveConnection(std::string_view server, const LoginSettings& settings,
                                            ConnectionError& error);

struct Timeouts {
    std::chrono::milliseconds connect{10'000};
    std::chrono::milliseconds total{30'000};
};

// The standard time-outs, or BSMTP_TIMEOUT_MS from the environment.
Timeouts TimeoutsFromEnvironment();

struct Envelope {
    std::string from;
    std::vector<std::string> recipients;
};

struct TransferResult {
    int32_t curlCode = 0;
    int32_t reason = 0; // a BSmtpReason
    int32_t replyCode = 0;
    bool permanent = false;
    std::string text;
    std::vector<std::string> refused;
};

// Sends the message to every recipient the server accepts.
TransferResult Transfer(const Connection& connection, const Envelope& envelope,
                        const std::string& message, const Timeouts& timeouts);

// The words that say what a BSmtpReason means.
std::string ReasonText(int32_t reason);

} // namespace bsmtp
