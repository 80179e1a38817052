#include "MailMessage.h"

#include <array>
#include <cstdio>

namespace bsmtp {

namespace {

constexpr std::string_view Crlf = "\r\n";

bool isControl(unsigned char c) { return c < 0x20 || c == 0x7f; }

std::string trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

std::string joinAddresses(const std::vector<std::string>& list)
{
    std::string out;
    for (const auto& address : list) {
        if (!out.empty())
            out += ",\r\n ";
        out += address;
    }
    return out;
}

// The sender header: a non-ASCII display name before "<address>" is encoded.
std::string fromHeader(std::string_view from)
{
    const auto open = from.find('<');
    if (IsAscii(from) || open == std::string_view::npos)
        return std::string(from);
    const std::string name = trimmed(from.substr(0, open));
    return (name.empty() ? std::string() : EncodeHeaderText(name) + " ") +
           std::string(from.substr(open));
}

// filename="x" for plain names, RFC 2231 filename*= otherwise.
std::string fileNameParameter(std::string_view name)
{
    const bool plain = IsAscii(name) && name.find_first_of("\"\\") == std::string_view::npos;
    bool controls = false;
    for (const unsigned char c : name)
        controls = controls || isControl(c);
    if (plain && !controls)
        return "filename=\"" + std::string(name) + "\"";
    std::string out = "filename*=UTF-8''";
    for (const unsigned char c : name) {
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        if (keep) {
            out += char(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

// Text part headers and content: 7bit for short-lined ASCII, base64 else.
std::string textPart(std::string_view body)
{
    const std::string text = NormaliseLineEnds(body);
    bool longLine = false;
    std::size_t start = 0;
    while (start <= text.size()) {
        auto end = text.find(Crlf, start);
        if (end == std::string::npos)
            end = text.size();
        longLine = longLine || end - start > 900;
        start = end + 2;
    }
    std::string out = "Content-Type: text/plain; charset=UTF-8\r\n";
    if (IsAscii(text) && !longLine) {
        out += "Content-Transfer-Encoding: 7bit\r\n\r\n";
        out += text;
    } else {
        out += "Content-Transfer-Encoding: base64\r\n\r\n";
        out += Base64(text, 76);
    }
    if (out.size() < 2 || out.compare(out.size() - 2, 2, Crlf) != 0)
        out += Crlf;
    return out;
}

} // namespace

std::vector<std::string> Recipients::all() const
{
    std::vector<std::string> out = to;
    out.insert(out.end(), cc.begin(), cc.end());
    out.insert(out.end(), bcc.begin(), bcc.end());
    return out;
}

std::optional<Recipients> ParseRecipients(std::string_view text)
{
    Recipients result;
    std::vector<std::string>* list = &result.to;
    std::size_t start = 0;
    while (start <= text.size()) {
        auto end = text.find('\t', start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string item = trimmed(text.substr(start, end - start));
        start = end + 1;
        if (item.empty())
            continue;
        if (item == "cc") {
            list = &result.cc;
            continue;
        }
        if (item == "bcc") {
            list = &result.bcc;
            continue;
        }
        for (const unsigned char c : item) {
            if (isControl(c) || c == '<' || c == '>')
                return std::nullopt;
        }
        list->push_back(item);
    }
    return result;
}

bool HasLineBreak(std::string_view text)
{
    return text.find_first_of("\r\n") != std::string_view::npos;
}

bool IsAscii(std::string_view text)
{
    for (const unsigned char c : text) {
        if (c >= 0x80)
            return false;
    }
    return true;
}

std::string EnvelopeAddress(std::string_view from)
{
    const auto open = from.find('<');
    const auto close = from.find('>', open == std::string_view::npos ? 0 : open);
    if (open != std::string_view::npos && close != std::string_view::npos)
        return trimmed(from.substr(open + 1, close - open - 1));
    return trimmed(from);
}

std::string Base64(std::string_view data, std::size_t lineLength)
{
    static constexpr char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t column = 0;
    auto put = [&](char c) {
        if (lineLength != 0 && column == lineLength) {
            out += Crlf;
            column = 0;
        }
        out += c;
        ++column;
    };
    for (std::size_t i = 0; i < data.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, data.size() - i);
        std::uint32_t bits = std::uint32_t(static_cast<unsigned char>(data[i])) << 16;
        if (n > 1)
            bits |= std::uint32_t(static_cast<unsigned char>(data[i + 1])) << 8;
        if (n > 2)
            bits |= std::uint32_t(static_cast<unsigned char>(data[i + 2]));
        put(alphabet[(bits >> 18) & 63]);
        put(alphabet[(bits >> 12) & 63]);
        put(n > 1 ? alphabet[(bits >> 6) & 63] : '=');
        put(n > 2 ? alphabet[bits & 63] : '=');
    }
    if (lineLength != 0 && !out.empty())
        out += Crlf;
    return out;
}

std::string EncodeHeaderText(std::string_view utf8)
{
    if (IsAscii(utf8) && utf8.size() <= 900)
        return std::string(utf8);
    // 45 bytes give 60 base64 characters, so each encoded word stays within
    // 75 characters; a cut never falls inside a UTF-8 sequence.
    constexpr std::size_t chunk = 45;
    std::string out;
    std::size_t start = 0;
    while (start < utf8.size()) {
        std::size_t end = std::min(utf8.size(), start + chunk);
        while (end < utf8.size() && end > start + 1 &&
               (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80)
            --end;
        if (!out.empty())
            out += "\r\n ";
        out += "=?UTF-8?B?" + Base64(utf8.substr(start, end - start)) + "?=";
        start = end;
    }
    return out;
}

std::string NormaliseLineEnds(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            out += Crlf;
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else if (c == '\n') {
            out += Crlf;
        } else {
            out += c;
        }
    }
    return out;
}

std::string DateHeader(std::time_t moment)
{
    static constexpr std::array<const char*, 7> days = {"Sun", "Mon", "Tue", "Wed",
                                                        "Thu", "Fri", "Sat"};
    static constexpr std::array<const char*, 12> months = {
        "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm local{};
    localtime_r(&moment, &local);
    const long offset = local.tm_gmtoff / 60;
    const long absOffset = offset < 0 ? -offset : offset;
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                  days[std::size_t(local.tm_wday) % 7], local.tm_mday,
                  months[std::size_t(local.tm_mon) % 12], local.tm_year + 1900, local.tm_hour,
                  local.tm_min, local.tm_sec, offset < 0 ? '-' : '+', absOffset / 60,
                  absOffset % 60);
    return text;
}

std::string ComposeMessage(const MessageParts& parts)
{
    std::string out;
    out += "Date: " + parts.date + "\r\n";
    out += "From: " + fromHeader(parts.from) + "\r\n";
    if (!parts.recipients.to.empty())
        out += "To: " + joinAddresses(parts.recipients.to) + "\r\n";
    if (!parts.recipients.cc.empty())
        out += "Cc: " + joinAddresses(parts.recipients.cc) + "\r\n";
    out += "Subject: " + EncodeHeaderText(parts.subject) + "\r\n";
    out += "Message-ID: " + parts.messageId + "\r\n";
    out += "MIME-Version: 1.0\r\n";
    if (!parts.attachment) {
        out += textPart(parts.body);
        return out;
    }
    const std::string& boundary = parts.boundary;
    out += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n";
    out += "This is a multi-part message in MIME format.\r\n";
    out += "--" + boundary + "\r\n";
    // The line end before a boundary belongs to the boundary.
    out += textPart(parts.body) + "\r\n";
    out += "--" + boundary + "\r\n";
    const std::string parameter = fileNameParameter(parts.attachment->fileName);
    out += "Content-Type: application/octet-stream\r\n";
    out += "Content-Transfer-Encoding: base64\r\n";
    out += "Content-Disposition: attachment; " + parameter + "\r\n\r\n";
    out += Base64(parts.attachment->data, 76);
    out += "\r\n--" + boundary + "--\r\n";
    return out;
}

} // namespace bsmtp
