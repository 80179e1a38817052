#pragma once

#include "core/StatusItem.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

struct CommandFrame;
struct ProjectorInfo;

// The text side of PJLink, free of any I/O: command lines, replies, the
// answer to the greeting, and the names of inputs and states.

inline constexpr quint16 PJLinkPort = 4352;
// Lines are at most 136 bytes by the protocol; a longer one is read up to
// this many before the session is closed as broken.
inline constexpr int PJLinkMaxLineBytes = 256;
// A session that sends this much without a line end is closed.
inline constexpr int PJLinkMaxPendingBytes = 4096;

// A queued PJLink command is its line without the CR, like "%1POWR ?".
// The PJLink line for a frame of the command table, for a projector of the
// given class (0 unknown, 1 or 2); nothing when PJLink has no such command.
std::optional<QByteArray> PJLinkLineForFrame(const CommandFrame& frame, int pjlinkClass);
// "%1INPT 31" (class 1) or "%2INPT 3A" (class 2) for an input code.
QByteArray PJLinkInputLine(const QString& code, int pjlinkClass);
QByteArray PJLinkFreezeLine(bool on);

// The greeting: "PJLINK 0" (no password), "PJLINK 1 <random>" (password),
// "PJLINK ERRA" (refused).
struct PJLinkGreeting {
    enum class Kind { Open, Password, Refused, Broken } kind = Kind::Broken;
    QByteArray random;
};
PJLinkGreeting ParsePJLinkGreeting(const QByteArray& line);
// The 32 lower-case hex digits of MD5(random + password) sent in front of
// the first command of a session.
QByteArray PJLinkDigest(const QByteArray& random, const QString& password);

// A reply line "%1POWR=1", read case-insensitively.
struct PJLinkReply {
    char pjClass = '1';
    QByteArray body;  // "POWR", upper case
    QByteArray value; // "1", "OK", "ERR3", as sent (trimmed)
};
std::optional<PJLinkReply> ParsePJLinkReply(const QByteArray& line);
// The command word of a queued line ("POWR" of "%1POWR ?"), upper case.
QByteArray PJLinkCommandBody(const QByteArray& line);
bool IsPJLinkQuery(const QByteArray& line);
// Whether a reply answers the line that was sent (same class and command).
bool ReplyAnswers(const PJLinkReply& reply, const QByteArray& sentLine);
// PJLINK ERRA, the answer to a wrong password.
bool IsAuthenticationRefusal(const QByteArray& line);

enum class PJLinkAnswer { Ok, Value, Unavailable, Refused };
// OK; ERR3 (unavailable now: standby, warm-up); ERR1/ERR2/ERR4 (undefined
// command, bad parameter, projector failure); anything else is a value.
PJLinkAnswer ClassifyPJLinkValue(const QByteArray& value);

// What a command answered ERR3 (busy) waits for before it is sent again: a
// power off the end of the warm-up, a power on the end of the cool-down,
// any other command the end of a warm-up under way (powerStatus 3). None: a
// query, or a projector that is simply in standby; the refusal stands.
enum class PJLinkWait { None, WarmUp, CoolDown };
PJLinkWait PJLinkBusyWait(const QByteArray& sentLine, qint16 powerStatus);

// A text value (NAME, INF1, INNM, ...) as UTF-8, or as Latin-1 when its
// bytes are no UTF-8, at most `limit` characters.
QString PJLinkText(const QByteArray& value, int limit = 64);
// The MAC address of a start-up notice ("%2LKUP=0012ABCDEF01") as the
// platform prints it, "00:12:AB:CD:EF:01"; empty for anything else.
QString PJLinkMacAddress(const QByteArray& value);

// Values of the status model: POWR 0..3 (3 warm-up), the error code of the
// most serious ERST digit, lamps, AVMT.
std::optional<qint16> PJLinkPower(const QByteArray& value);
struct PJLinkErrorState {
    qint16 errorCode = 0; // the own protocol's codes: 0 Normal, 3 Lamp Error ...
    QString warning;      // "Lamp Warning" etc. while no error
};
std::optional<PJLinkErrorState> PJLinkErrors(const QByteArray& value);
struct PJLinkLamps {
    std::array<qint32, 8> hours{};
    std::array<bool, 8> on{};
    int count = 0;
};
std::optional<PJLinkLamps> PJLinkLampHours(const QByteArray& value);
// AVMT: blank (video mute) and mute (audio mute), 0 or 1 each.
std::optional<std::pair<qint16, qint16>> PJLinkMutes(const QByteArray& value);
// CLSS: "1", "2", "Class 1", "class 2".
std::optional<qint16> PJLinkClass(const QByteArray& value);
// An input code "11".."59", class 2 "1A".."6Z"; upper case.
std::optional<QString> PJLinkInputCode(const QByteArray& value);
// INST: the codes separated by blanks, at most PJLinkMaxInputs.
QStringList PJLinkInputList(const QByteArray& value);

// "RGB 1", "VIDEO 2", "DIGITAL 3", "STORAGE 4", "NETWORK 9", "INTERNAL A".
QString PJLinkInputText(const QString& code);
// The input of `inputs` that `value` names: its code ("31", any case) or
// its text ("DIGITAL 1", as the projector's input is shown).
std::optional<QString> PJLinkInputNamed(const QStringList& inputs, const QString& value);
// The projector's input as shown: its class 2 name, else PJLinkInputText.
QString PJLinkInputDisplay(const ProjectorInfo& info);
// The status item a queued line reports on, if any.
std::optional<StatusItem> PJLinkItemOfLine(const QByteArray& line);
// A line for the communication log: the digest in front of a command is
// never written.
QString PJLinkLogText(const QByteArray& line);
