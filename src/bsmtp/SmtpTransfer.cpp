#include "SmtpTransfer.h"

#include "bsmtp.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

namespace bsmtp {

namespace {

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    }
    return true;
}

bool validHost(std::string_view host) {
    if (host.empty())
        return false;
    return std::none_of(host.begin(), host.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u <= 0x20 || u == 0x7f || std::strchr("/@?#\\", c) != nullptr;
    });
}

bool validPort(std::string_view port) {
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

size_t readMessage(char* buffer, size_t size, size_t count, void* user) {
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

struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

std::string trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return std::string(text.substr(first, text.find_last_not_of(" \t") - first + 1));
}

std::string lower(std::string text) {
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The server text taken apart; the port stays empty when the text has none.
struct ServerParts {
    bool implicitTls = false;
    std::string host;
    std::string port;
    std::string user;
    std::string password;
};

std::string urlPart(CURLU* url, CURLUPart part, unsigned flags = 0) {
    char* value = nullptr;
    if (curl_url_get(url, part, &value, flags) != CURLUE_OK || !value)
        return {};
    std::string out(value);
    curl_free(value);
    return out;
}

std::optional<ServerParts> parseUrl(const std::string& text, ConnectionError& error) {
    std::unique_ptr<CURLU, UrlDeleter> url(curl_url());
    if (!url)
        return std::nullopt;
    const CURLUcode code = curl_url_set(url.get(), CURLUPART_URL, text.c_str(), 0);
    if (code != CURLUE_OK) {
        error.reason = code == CURLUE_BAD_PORT_NUMBER ? BSMTP_BAD_PORT : BSMTP_BAD_SERVER;
        return std::nullopt;
    }
    const std::string scheme = lower(urlPart(url.get(), CURLUPART_SCHEME));
    const std::string path = urlPart(url.get(), CURLUPART_PATH);
    ServerParts parts;
    parts.implicitTls = scheme == "smtps";
    parts.host = urlPart(url.get(), CURLUPART_HOST);
    parts.port = urlPart(url.get(), CURLUPART_PORT);
    parts.user = urlPart(url.get(), CURLUPART_USER, CURLU_URLDECODE);
    parts.password = urlPart(url.get(), CURLUPART_PASSWORD, CURLU_URLDECODE);
    if ((scheme != "smtp" && scheme != "smtps") || parts.host.empty()) {
        error.reason = BSMTP_BAD_SERVER;
        return std::nullopt;
    }
    return parts;
}

std::optional<ServerParts> parseHostPort(std::string_view server, ConnectionError& error) {
    ServerParts parts;
    error.reason = BSMTP_BAD_SERVER;
    if (server.front() == '[') {
        const auto close = server.find(']');
        if (close == std::string_view::npos || !validHost(server.substr(1, close - 1)))
            return std::nullopt;
        parts.host = std::string(server.substr(0, close + 1));
        const std::string_view rest = server.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':')
                return std::nullopt;
            parts.port = std::string(rest.substr(1));
        }
    } else if (std::count(server.begin(), server.end(), ':') > 1) {
        if (!validHost(server))
            return std::nullopt;
        // Built by appending: GCC 12 at -O3 reports a false -Wrestrict
        // overlap inside the standard library for "[" + string + "]".
        parts.host.append(1, '[').append(server).append(1, ']');
    } else {
        const auto colon = server.find(':');
        parts.host = std::string(server.substr(0, colon));
        if (!validHost(parts.host))
            return std::nullopt;
        if (colon != std::string_view::npos)
            parts.port = std::string(server.substr(colon + 1));
    }
    if (!parts.port.empty() && !validPort(parts.port)) {
        error.reason = BSMTP_BAD_PORT;
        return std::nullopt;
    }
    return parts;
}

std::optional<Security> parseSecurity(const std::string& text) {
    const std::string value = lower(trimmed(text));
    if (value.empty())
        return Security::Auto;
    if (value == "none")
        return Security::None;
    if (value == "starttls")
        return Security::StartTls;
    if (value == "tls")
        return Security::Tls;
    return std::nullopt;
}

// Follows the dialogue as libcurl reports it to its debug callback: the
// commands it sends and the server's reply lines. It only reads.
struct Dialogue {
    std::string command;   // verb of the last command sent
    std::string recipient; // address of the last RCPT
    bool inData = false;   // DATA was answered 354, the message is under way
    int authReply = 0;
    int mailReply = 0;
    int dataReply = 0;
    int accepted = 0;
    std::vector<std::string> refused;
    std::vector<int> refusedCodes;
    std::string pending; // a reply line not yet complete

    void sent(std::string_view line) {
        const std::string verb = lower(std::string(line.substr(0, line.find_first_of(" :\r\n"))));
        if (verb == "ehlo" || verb == "helo" || verb == "starttls" || verb == "auth" ||
            verb == "mail" || verb == "rcpt" || verb == "data" || verb == "quit")
            command = verb;
        else
            return; // a continuation of AUTH: stays with AUTH
        if (verb == "rcpt") {
            const auto open = line.find('<');
            const auto close = line.rfind('>');
            recipient = open != std::string_view::npos && close > open
                            ? std::string(line.substr(open + 1, close - open - 1))
                            : std::string();
        }
    }

    void received(std::string_view data) {
        pending.append(data);
        std::size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            reply(std::string_view(pending).substr(0, end));
            pending.erase(0, end + 1);
        }
    }

    void reply(std::string_view line) {
        if (line.size() < 3 || !std::isdigit(static_cast<unsigned char>(line[0])))
            return;
        if (line.size() > 3 && line[3] == '-')
            return; // not the last line of the reply
        const int code = std::atoi(std::string(line.substr(0, 3)).c_str());
        if (command == "auth" && code >= 400)
            authReply = code;
        else if (command == "mail")
            mailReply = code;
        else if (command == "rcpt" && code >= 400) {
            refused.push_back(recipient);
            refusedCodes.push_back(code);
        } else if (command == "rcpt")
            ++accepted;
        else if (command == "data" && !inData && code == 354)
            inData = true;
        else if (command == "data")
            dataReply = code;
    }
};

int debugCallback(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    auto* dialogue = static_cast<Dialogue*>(user);
    if (type == CURLINFO_HEADER_OUT)
        dialogue->sent(std::string_view(data, size));
    else if (type == CURLINFO_HEADER_IN)
        dialogue->received(std::string_view(data, size));
    return 0;
}

// The system's CA bundle and the extra file in one, so that the extra CA is
// trusted besides the system's ones rather than instead of them.
std::optional<std::string> caBundle(CURL* curl, const std::string& extraFile) {
    auto readAll = [](const std::string& path) -> std::optional<std::string> {
        std::ifstream in(path, std::ios::binary);
        if (!in)
            return std::nullopt;
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    const std::optional<std::string> extra = readAll(extraFile);
    if (!extra || extra->find("-----BEGIN CERTIFICATE-----") == std::string::npos)
        return std::nullopt;
    std::string bundle;
    char* system = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_CAINFO, &system) == CURLE_OK && system)
        bundle = readAll(system).value_or(std::string());
    if (!bundle.empty() && bundle.back() != '\n')
        bundle += '\n';
    return bundle + *extra;
}

int32_t reasonOfCurlCode(CURLcode code) {
    switch (code) {
    case CURLE_OK:
        return BSMTP_SENT;
    case CURLE_COULDNT_RESOLVE_HOST:
        return BSMTP_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT:
        return BSMTP_CONNECTION_REFUSED;
    case CURLE_OPERATION_TIMEDOUT:
        return BSMTP_TIMED_OUT;
    case CURLE_PEER_FAILED_VERIFICATION:
        return BSMTP_CERTIFICATE_NOT_TRUSTED;
    case CURLE_SSL_CACERT_BADFILE:
        return BSMTP_CA_FILE_UNREADABLE;
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_SHUTDOWN_FAILED:
        return BSMTP_TLS_FAILED;
    case CURLE_LOGIN_DENIED:
        return BSMTP_LOGIN_REFUSED;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_PARTIAL_FILE:
        return BSMTP_CONNECTION_LOST;
    default:
        return BSMTP_FAILED;
    }
}

// The reason of a failed transfer: the server's own refusal where the
// dialogue shows one, otherwise what libcurl says.
void classify(TransferResult& result, const Dialogue& dialogue, bool anyRecipientSent) {
    const auto code = CURLcode(result.curlCode);
    if (dialogue.authReply >= 400) {
        result.reason = BSMTP_LOGIN_REFUSED;
        result.replyCode = dialogue.authReply;
    } else if (dialogue.mailReply >= 400) {
        result.reason = BSMTP_SENDER_REFUSED;
        result.replyCode = dialogue.mailReply;
        result.permanent = dialogue.mailReply >= 500;
    } else if (anyRecipientSent && dialogue.accepted == 0 && !dialogue.refused.empty()) {
        result.reason = BSMTP_RECIPIENT_REFUSED;
        result.replyCode = dialogue.refusedCodes.back();
        result.permanent = std::all_of(dialogue.refusedCodes.begin(), dialogue.refusedCodes.end(),
                                       [](int c) { return c >= 500; });
    } else if (dialogue.dataReply >= 400) {
        result.reason = BSMTP_MESSAGE_REFUSED;
        result.replyCode = dialogue.dataReply;
        result.permanent = dialogue.dataReply >= 500;
    } else {
        result.reason = reasonOfCurlCode(code);
    }
    result.text = result.reason == BSMTP_FAILED
                      ? ReasonText(BSMTP_FAILED) + ": " + curl_easy_strerror(code)
                      : ReasonText(result.reason);
}

} // namespace

std::optional<Connection> ResolveConnection(std::string_view serverText,
                                            const LoginSettings& settings, ConnectionError& error) {
    const std::string server = trimmed(serverText);
    if (server.empty()) {
        error.reason = BSMTP_NO_SERVER;
        return std::nullopt;
    }
    if (std::any_of(server.begin(), server.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; })) {
        error.reason = BSMTP_BAD_SERVER;
        return std::nullopt;
    }
    const bool isUrl = startsWithNoCase(server, "smtp://") || startsWithNoCase(server, "smtps://");
    if (!isUrl && server.find("://") != std::string::npos) {
        error.reason = BSMTP_BAD_SERVER;
        return std::nullopt;
    }
    const auto parts = isUrl ? parseUrl(server, error) : parseHostPort(server, error);
    if (!parts)
        return std::nullopt;
    const auto security = parseSecurity(settings.security);
    if (!security) {
        error.reason = BSMTP_BAD_SECURITY;
        return std::nullopt;
    }
    Connection connection;
    connection.security =
        *security == Security::Auto && parts->implicitTls ? Security::Tls : *security;
    std::string port = trimmed(settings.port);
    if (!port.empty() && !validPort(port)) {
        error.reason = BSMTP_BAD_PORT;
        return std::nullopt;
    }
    if (port.empty())
        port = !parts->port.empty() ? parts->port
                                    : (connection.security == Security::Tls ? "465" : "25");
    connection.url =
        (connection.security == Security::Tls ? "smtps://" : "smtp://") + parts->host + ":" + port;
    if (!settings.user.empty()) {
        connection.user = settings.user;
        connection.password = settings.password;
    } else {
        connection.user = parts->user;
        connection.password = parts->password;
    }
    connection.caFile = trimmed(settings.caFile);
    return connection;
}

Timeouts TimeoutsFromEnvironment() {
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

TransferResult Transfer(const Connection& connection, const Envelope& envelope,
                        const std::string& message, const Timeouts& timeouts) {
    TransferResult result;
    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl) {
        result.curlCode = CURLE_FAILED_INIT;
        classify(result, Dialogue{}, false);
        return result;
    }
    std::unique_ptr<curl_slist, ListDeleter> recipients;
    for (const auto& address : envelope.recipients) {
        curl_slist* grown = curl_slist_append(recipients.get(), ("<" + address + ">").c_str());
        if (!grown) {
            result.curlCode = CURLE_OUT_OF_MEMORY;
            classify(result, Dialogue{}, false);
            return result;
        }
        recipients.release();
        recipients.reset(grown);
    }
    Reader reader{message};
    Dialogue dialogue;
    const std::string from = "<" + envelope.from + ">";
    CURL* h = curl.get();
    curl_easy_setopt(h, CURLOPT_URL, connection.url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    // A password never travels in clear: a login requires TLS.
    long useSsl = CURLUSESSL_TRY;
    if (connection.security == Security::None)
        useSsl = CURLUSESSL_NONE;
    else if (connection.security != Security::Auto || !connection.user.empty())
        useSsl = CURLUSESSL_ALL;
    curl_easy_setopt(h, CURLOPT_USE_SSL, useSsl);
    if (!connection.user.empty()) {
        curl_easy_setopt(h, CURLOPT_USERNAME, connection.user.c_str());
        curl_easy_setopt(h, CURLOPT_PASSWORD, connection.password.c_str());
    }
    std::string bundle;
    if (!connection.caFile.empty()) {
        const auto loaded = caBundle(h, connection.caFile);
        if (!loaded) {
            result.curlCode = CURLE_SSL_CACERT_BADFILE;
            classify(result, dialogue, false);
            return result;
        }
        bundle = *loaded;
        curl_blob blob{bundle.data(), bundle.size(), CURL_BLOB_NOCOPY};
        curl_easy_setopt(h, CURLOPT_CAINFO_BLOB, &blob);
    }
    curl_easy_setopt(h, CURLOPT_MAIL_FROM, from.c_str());
    curl_easy_setopt(h, CURLOPT_MAIL_RCPT, recipients.get());
    // Deliver to every recipient the server accepts (the option's spelling
    // in libcurl 7.88; later versions renamed it).
    curl_easy_setopt(h, CURLOPT_MAIL_RCPT_ALLLOWFAILS, 1L);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, readMessage);
    curl_easy_setopt(h, CURLOPT_READDATA, &reader);
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, long(timeouts.connect.count()));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, long(timeouts.total.count()));
    // The refused recipients are known only from the server's replies.
    curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, debugCallback);
    curl_easy_setopt(h, CURLOPT_DEBUGDATA, &dialogue);
    curl_easy_setopt(h, CURLOPT_VERBOSE, 1L);
    result.curlCode = int32_t(curl_easy_perform(h));
    result.refused = dialogue.refused;
    if (result.curlCode != CURLE_OK)
        classify(result, dialogue, dialogue.accepted > 0 || !dialogue.refused.empty());
    return result;
}

std::string ReasonText(int32_t reason) {
    switch (reason) {
    case BSMTP_SENT:
        return "sent";
    case BSMTP_NO_SERVER:
        return "no server set";
    case BSMTP_NO_SENDER:
        return "no sender set";
    case BSMTP_NO_RECIPIENT:
        return "no recipient";
    case BSMTP_BAD_ARGUMENT:
        return "invalid address or line break in a field";
    case BSMTP_BAD_SERVER:
        return "server not valid";
    case BSMTP_BAD_PORT:
        return "port not valid";
    case BSMTP_BAD_SECURITY:
        return "security setting not valid";
    case BSMTP_CA_FILE_UNREADABLE:
        return "CA file could not be read";
    case BSMTP_NOT_RESOLVED:
        return "name not resolved";
    case BSMTP_CONNECTION_REFUSED:
        return "connection refused";
    case BSMTP_TIMED_OUT:
        return "timed out";
    case BSMTP_CONNECTION_LOST:
        return "connection lost";
    case BSMTP_TLS_FAILED:
        return "TLS failed";
    case BSMTP_CERTIFICATE_NOT_TRUSTED:
        return "certificate not trusted";
    case BSMTP_LOGIN_REFUSED:
        return "login refused";
    case BSMTP_SENDER_REFUSED:
        return "sender refused";
    case BSMTP_RECIPIENT_REFUSED:
        return "recipient refused";
    case BSMTP_MESSAGE_REFUSED:
        return "message refused";
    default:
        return "failed";
    }
}

} // namespace bsmtp
