#include "pjlink/PJLinkCodec.h"

#include "core/AppState.h"
#include "protocol/CommandTable.h"

#include <QCryptographicHash>
#include <QStringDecoder>

#include <algorithm>
#include <array>

namespace {

bool sameFrame(const CommandFrame& a, const CommandFrame& b) {
    return a.bytes == b.bytes;
}

QByteArray line(int pjlinkClass, const char* body, const char* parameter) {
    return QByteArray("%") + (pjlinkClass == 2 ? '2' : '1') + body + ' ' + parameter;
}

bool isCodeCharacter(char c) {
    return (c >= '1' && c <= '9') || (c >= 'A' && c <= 'Z');
}

// ERST digits: fan, lamp, temperature, cover, filter, other. Looked at in
// the order of what the operator must see first.
struct ErstKind {
    int digit;
    qint16 errorCode;
    const char* name;
};
constexpr std::array<ErstKind, 6> ErstOrder = {{{1, 3, "Lamp"},
                                                {2, 4, "Temp"},
                                                {0, 2, "Fan"},
                                                {3, 1, "Cover"},
                                                {4, 8, "Filter"},
                                                {5, 9, "Other"}}};

} // namespace

std::optional<QByteArray> PJLinkLineForFrame(const CommandFrame& frame, int pjlinkClass) {
    const CommandTable& t = BuildCommandTable();
    struct Mapping {
        const CommandFrame& frame;
        const char* body;
        const char* parameter;
        bool classTwoOnly;
        bool classTwoForm; // sent as %2 to a class 2 projector
    };
    const Mapping mappings[] = {
        {t.PowerGetCommand, "POWR", "?", false, false},
        {t.PowerOnCommand, "POWR", "1", false, false},
        {t.PowerOffCommand, "POWR", "0", false, false},
        {t.InputGetCommand, "INPT", "?", false, true},
        {t.ErrorStatusGetCommand, "ERST", "?", false, false},
        {t.LampTimeGetCommand, "LAMP", "?", false, false},
        {t.FilterTimeGetCommand, "FILT", "?", true, true},
        {t.BlankGetCommand, "AVMT", "?", false, false},
        {t.BlankOnCommand, "AVMT", "11", false, false},
        {t.BlankOffCommand, "AVMT", "10", false, false},
        {t.MuteGetCommand, "AVMT", "?", false, false},
        {t.MuteOnCommand, "AVMT", "21", false, false},
        {t.MuteOffCommand, "AVMT", "20", false, false},
    };
    for (const Mapping& m : mappings) {
        if (!sameFrame(frame, m.frame))
            continue;
        if (m.classTwoOnly && pjlinkClass != 2)
            return std::nullopt;
        return line(m.classTwoForm ? pjlinkClass : 1, m.body, m.parameter);
    }
    return std::nullopt;
}

QByteArray PJLinkInputLine(const QString& code, int pjlinkClass) {
    // A class 2 code such as "3A" is only understood with the class 2 form.
    const bool extended = code.size() == 2 && !code.at(1).isDigit();
    return line(pjlinkClass == 2 || extended ? 2 : 1, "INPT", code.toLatin1().constData());
}

QByteArray PJLinkFreezeLine(bool on) {
    return line(2, "FREZ", on ? "1" : "0");
}

PJLinkGreeting ParsePJLinkGreeting(const QByteArray& raw) {
    const QByteArray text = raw.trimmed().toUpper();
    PJLinkGreeting greeting;
    if (text == "PJLINK 0") {
        greeting.kind = PJLinkGreeting::Kind::Open;
    } else if (text == "PJLINK ERRA") {
        greeting.kind = PJLinkGreeting::Kind::Refused;
    } else if (text.startsWith("PJLINK 1 ") && text.size() > 9 && text.size() <= 9 + 64) {
        greeting.kind = PJLinkGreeting::Kind::Password;
        // The random part is used as sent: the digest is taken over its bytes.
        greeting.random = raw.trimmed().mid(9);
    }
    return greeting;
}

QByteArray PJLinkDigest(const QByteArray& random, const QString& password) {
    return QCryptographicHash::hash(random + password.toUtf8(), QCryptographicHash::Md5).toHex();
}

std::optional<PJLinkReply> ParsePJLinkReply(const QByteArray& raw) {
    const QByteArray text = raw.trimmed();
    if (text.size() < 7 || text.at(0) != '%' || (text.at(1) != '1' && text.at(1) != '2') ||
        text.at(6) != '=')
        return std::nullopt;
    PJLinkReply reply;
    reply.pjClass = text.at(1);
    reply.body = text.mid(2, 4).toUpper();
    for (const char c : reply.body) {
        if (!(c >= 'A' && c <= 'Z') && !(c >= '0' && c <= '9'))
            return std::nullopt;
    }
    reply.value = text.mid(7).trimmed();
    return reply;
}

QByteArray PJLinkCommandBody(const QByteArray& sent) {
    return sent.size() >= 6 && sent.at(0) == '%' ? sent.mid(2, 4).toUpper() : QByteArray();
}

bool IsPJLinkQuery(const QByteArray& sent) {
    return sent.size() >= 8 && sent.at(7) == '?';
}

bool ReplyAnswers(const PJLinkReply& reply, const QByteArray& sentLine) {
    // Some projectors answer a class 2 query in the class 1 form; the
    // command word is what must match.
    return !reply.body.isEmpty() && reply.body == PJLinkCommandBody(sentLine);
}

bool IsAuthenticationRefusal(const QByteArray& raw) {
    return raw.trimmed().toUpper() == "PJLINK ERRA";
}

PJLinkAnswer ClassifyPJLinkValue(const QByteArray& value) {
    const QByteArray v = value.toUpper();
    if (v == "OK")
        return PJLinkAnswer::Ok;
    if (v == "ERR3")
        return PJLinkAnswer::Unavailable;
    if (v == "ERR1" || v == "ERR2" || v == "ERR4")
        return PJLinkAnswer::Refused;
    return PJLinkAnswer::Value;
}

PJLinkWait PJLinkBusyWait(const QByteArray& sent, qint16 powerStatus) {
    if (IsPJLinkQuery(sent))
        return PJLinkWait::None;
    if (PJLinkCommandBody(sent) == "POWR") {
        const QByteArray parameter = sent.mid(7).trimmed();
        if (parameter == "0")
            return PJLinkWait::WarmUp;
        if (parameter == "1")
            return PJLinkWait::CoolDown;
        return PJLinkWait::None;
    }
    return powerStatus == 3 ? PJLinkWait::WarmUp : PJLinkWait::None;
}

QString PJLinkText(const QByteArray& value, int limit) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(value);
    // Older projectors send their names in Latin-1, whose accented letters
    // are no valid UTF-8.
    if (utf8.hasError())
        text = QString::fromLatin1(value);
    return text.left(limit).trimmed();
}

QString PJLinkMacAddress(const QByteArray& value) {
    QByteArray digits = value.trimmed().toUpper();
    digits.replace(':', "").replace('-', "");
    if (digits.size() != 12)
        return {};
    QString mac;
    for (qsizetype i = 0; i < digits.size(); ++i) {
        const char c = digits.at(i);
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return {};
        if (i > 0 && i % 2 == 0)
            mac += QLatin1Char(':');
        mac += QLatin1Char(c);
    }
    return mac;
}

std::optional<qint16> PJLinkPower(const QByteArray& value) {
    if (value.size() == 1 && value.at(0) >= '0' && value.at(0) <= '3')
        return qint16(value.at(0) - '0');
    return std::nullopt;
}

std::optional<PJLinkErrorState> PJLinkErrors(const QByteArray& value) {
    if (value.size() != 6)
        return std::nullopt;
    for (const char c : value) {
        if (c < '0' || c > '2')
            return std::nullopt;
    }
    PJLinkErrorState state;
    for (const ErstKind& kind : ErstOrder) {
        if (value.at(kind.digit) == '2') {
            state.errorCode = kind.errorCode;
            return state;
        }
    }
    for (const ErstKind& kind : ErstOrder) {
        if (value.at(kind.digit) == '1') {
            state.warning = QString::fromLatin1(kind.name) + QStringLiteral(" Warning");
            break;
        }
    }
    return state;
}

std::optional<PJLinkLamps> PJLinkLampHours(const QByteArray& value) {
    const QList<QByteArray> words = value.simplified().split(' ');
    if (words.size() < 2 || words.size() % 2 != 0 || words.size() > 2 * PJLinkMaxLamps)
        return std::nullopt;
    PJLinkLamps lamps;
    for (qsizetype i = 0; i + 1 < words.size(); i += 2) {
        bool ok = false;
        const qint64 hours = words[i].toLongLong(&ok);
        if (!ok || hours < 0 || hours > std::numeric_limits<qint32>::max() ||
            (words[i + 1] != "0" && words[i + 1] != "1"))
            return std::nullopt;
        lamps.hours[std::size_t(lamps.count)] = qint32(hours);
        lamps.on[std::size_t(lamps.count)] = words[i + 1] == "1";
        ++lamps.count;
    }
    return lamps;
}

std::optional<std::pair<qint16, qint16>> PJLinkMutes(const QByteArray& value) {
    if (value == "11")
        return std::pair<qint16, qint16>{1, 0};
    if (value == "21")
        return std::pair<qint16, qint16>{0, 1};
    if (value == "31")
        return std::pair<qint16, qint16>{1, 1};
    if (value == "10" || value == "20" || value == "30")
        return std::pair<qint16, qint16>{0, 0};
    return std::nullopt;
}

std::optional<qint16> PJLinkClass(const QByteArray& value) {
    QByteArray v = value.trimmed().toUpper();
    if (v.startsWith("CLASS"))
        v = v.mid(5).trimmed();
    if (v == "1" || v == "2")
        return qint16(v.at(0) - '0');
    return std::nullopt;
}

std::optional<QString> PJLinkInputCode(const QByteArray& value) {
    const QByteArray v = value.trimmed().toUpper();
    if (v.size() != 2 || v.at(0) < '1' || v.at(0) > '6' || !isCodeCharacter(v.at(1)))
        return std::nullopt;
    return QString::fromLatin1(v);
}

QStringList PJLinkInputList(const QByteArray& value) {
    QStringList codes;
    for (const QByteArray& word : value.simplified().split(' ')) {
        if (codes.size() >= PJLinkMaxInputs)
            break;
        if (const auto code = PJLinkInputCode(word); code && !codes.contains(*code))
            codes.append(*code);
    }
    return codes;
}

QString PJLinkInputText(const QString& code) {
    static const std::array<const char*, 6> kinds = {"RGB",     "VIDEO",   "DIGITAL",
                                                     "STORAGE", "NETWORK", "INTERNAL"};
    const auto parsed = PJLinkInputCode(code.toLatin1());
    if (!parsed)
        return QStringLiteral("-");
    return QString::fromLatin1(kinds[std::size_t(parsed->at(0).toLatin1() - '1')]) +
           QLatin1Char(' ') + parsed->at(1);
}

std::optional<QString> PJLinkInputNamed(const QStringList& inputs, const QString& value) {
    const QString wanted = value.simplified();
    for (const QString& code : inputs) {
        if (code.compare(wanted, Qt::CaseInsensitive) == 0 ||
            PJLinkInputText(code).compare(wanted, Qt::CaseInsensitive) == 0)
            return code;
    }
    return std::nullopt;
}

QString PJLinkInputDisplay(const ProjectorInfo& info) {
    if (info.PJLink.InputCode.isEmpty() || info.InputStatus < 0)
        return QStringLiteral("-");
    if (!info.PJLink.InputName.isEmpty())
        return info.PJLink.InputName;
    return PJLinkInputText(info.PJLink.InputCode);
}

std::optional<StatusItem> PJLinkItemOfLine(const QByteArray& sent) {
    const QByteArray body = PJLinkCommandBody(sent);
    if (body == "POWR")
        return StatusItem::Power;
    if (body == "INPT")
        return StatusItem::Input;
    if (body == "ERST")
        return StatusItem::Error;
    if (body == "LAMP")
        return StatusItem::LampTime;
    if (body == "FILT")
        return StatusItem::FilterTime;
    if (body == "AVMT") {
        const QByteArray parameter = sent.mid(7);
        return parameter.startsWith('2') ? StatusItem::Mute : StatusItem::Blank;
    }
    return std::nullopt;
}

QString PJLinkLogText(const QByteArray& raw) {
    QByteArray text = raw;
    // The digest in front of a session's first command.
    const qsizetype percent = text.indexOf('%');
    if (percent == 32)
        text = text.mid(32);
    while (text.endsWith('\r') || text.endsWith('\n'))
        text.chop(1);
    QString shown;
    shown.reserve(text.size());
    for (const char c : text)
        shown += (c >= 0x20 && c < 0x7f) ? QChar::fromLatin1(c) : QChar(u'.');
    return shown;
}
