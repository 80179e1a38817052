#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Building one RFC 5322 message from the arguments of BSendMail. Plain
// functions over bytes, no I/O.
namespace bsmtp {

struct Recipients {
    std::vector<std::string> to;
    std::vector<std::string> cc;
    std::vector<std::string> bcc;

    bool empty() const { return to.empty() && cc.empty() && bcc.empty(); }
    std::vector<std::string> all() const;
};

// Splits the TAB-separated recipient text ("cc" and "bcc" switch the list
// the following addresses go to; empty items are skipped). Nothing when an
// address holds a control character or an angle bracket.
std::optional<Recipients> ParseRecipients(std::string_view text);

bool HasLineBreak(std::string_view text);
bool IsAscii(std::string_view text);

// The address for the envelope: the part inside "<...>" when present,
// otherwise the text without surrounding blanks.
std::string EnvelopeAddress(std::string_view from);

std::string Base64(std::string_view data, std::size_t lineLength = 0);

// The text as it may stand in a header: unchanged when it is short ASCII,
// otherwise RFC 2047 encoded words (UTF-8, base64), folded between words.
std::string EncodeHeaderText(std::string_view utf8);

// Every line end (CR LF, LF or CR alone) becomes CR LF.
std::string NormaliseLineEnds(std::string_view text);

// "Tue, 08 Dec 2026 01:44:55 +0000" for the local time zone, independent of
// the process locale.
std::string DateHeader(std::time_t moment);

struct Attachment {
    std::string fileName; // without folder
    std::string data;
};

struct MessageParts {
    std::string from;
    Recipients recipients;
    std::string subject;
    std::string body;
    std::optional<Attachment> attachment;
    std::string date;      // value of the Date header
    std::string messageId; // "<...@...>"
    std::string boundary;  // used only with an attachment
};

// The whole message with CR LF line ends, ready for the DATA phase.
std::string ComposeMessage(const MessageParts& parts);

} // namespace bsmtp
