#include "PJLinkModel.h"

namespace sim {

namespace {

const QList<QByteArray> Class1Bodies{"POWR", "INPT", "AVMT", "ERST", "LAMP", "INST",
                                     "NAME", "INF1", "INF2", "INFO", "CLSS"};
const QList<QByteArray> Class2Bodies{"FILT", "SNUM", "SVER", "INNM", "INPT", "FREZ", "INST"};
// Replies whose value is the projector's own text keep their case under the
// lower-case quirk; only the command part is lowered.
const QList<QByteArray> TextBodies{"NAME", "INF1", "INF2", "INFO", "SNUM", "SVER", "INNM"};

const QByteArray Ok = "OK";
const QByteArray Undefined = "ERR1";
const QByteArray OutOfParameter = "ERR2";
const QByteArray Unavailable = "ERR3";

const QMap<QByteArray, QByteArray> DefaultInputNames{
    {"11", "Computer 1"}, {"12", "Computer 2"}, {"21", "Video"},  {"31", "HDMI 1"},
    {"32", "HDMI 2"},     {"3A", "HDBaseT"},    {"51", "Network"}};

} // namespace

bool PJLinkModel::isInputCode(const QByteArray& code, char commandClass) {
    if (code.size() != 2 || code[0] < '1' || code[0] > '6')
        return false;
    const char second = code[1];
    return (second >= '1' && second <= '9') ||
           (commandClass == '2' && second >= 'A' && second <= 'Z');
}

QByteArray PJLinkModel::inputName(const QByteArray& code) const {
    return inputNames.value(code, DefaultInputNames.value(code, "Input " + code));
}

std::optional<QByteArray> PJLinkModel::answer(const QByteArray& line) {
    if (line.size() < 6 || line[0] != '%' || (line[1] != '1' && line[1] != '2'))
        return std::nullopt;
    const char commandClass = line[1];
    const QByteArray body = line.mid(2, 4).toUpper();
    if (line.size() < 8 || line[6] != ' ')
        return format(commandClass, body, OutOfParameter);
    const QByteArray param = line.mid(7).trimmed();
    if (wrongReply && param.startsWith('?')) {
        wrongReply = false;
        const QByteArray other = body == "NAME" ? "POWR" : "NAME";
        return format('1', other, value('1', other, "?"));
    }
    return format(commandClass, body, value(commandClass, body, param));
}

QByteArray PJLinkModel::value(char commandClass, const QByteArray& body, const QByteArray& param) {
    if (commandClass == '2' && pjClass < 2)
        return Undefined;
    if (!(commandClass == '1' ? Class1Bodies : Class2Bodies).contains(body))
        return Undefined;
    if (body == "POWR")
        return powerCommand(param);
    if (body == "INPT")
        return inputCommand(commandClass, param);
    if (body == "AVMT")
        return muteCommand(param);
    if (body == "FREZ")
        return freezeCommand(param);
    if (body == "INNM") {
        const QByteArray code = param.mid(1);
        if (!param.startsWith('?') || !isInputCode(code, '2') || !inputs.contains(code))
            return OutOfParameter;
        return inputName(code);
    }
    if (param != "?")
        return OutOfParameter;
    if (body == "ERST")
        return errors;
    if (body == "LAMP")
        return lampValue();
    if (body == "INST")
        return inputList(commandClass);
    if (body == "CLSS")
        return classText ? "Class " + QByteArray::number(pjClass) : QByteArray::number(pjClass);
    if (body == "FILT")
        return QByteArray::number(filter);
    if (body == "NAME")
        return name;
    if (body == "INF1")
        return maker;
    if (body == "INF2")
        return product;
    if (body == "INFO")
        return info;
    return body == "SNUM" ? serial : version;
}

QByteArray PJLinkModel::powerCommand(const QByteArray& param) {
    if (param == "?")
        return QByteArray::number(power);
    if (param == "1") {
        if (power == CoolDown)
            return Unavailable;
        if (power == Off)
            power = WarmUp;
        return Ok;
    }
    if (param == "0") {
        if (power == WarmUp)
            return Unavailable;
        if (power == On)
            power = CoolDown;
        return Ok;
    }
    return OutOfParameter;
}

QByteArray PJLinkModel::inputCommand(char commandClass, const QByteArray& param) {
    if (param == "?")
        return power == On ? input : Unavailable;
    if (!isInputCode(param, commandClass) || !inputs.contains(param))
        return OutOfParameter;
    if (power != On)
        return Unavailable;
    input = param;
    return Ok;
}

QByteArray PJLinkModel::muteCommand(const QByteArray& param) {
    if (param == "?") {
        if (power != On)
            return Unavailable;
        if (videoMute && audioMute)
            return "31";
        return videoMute ? "11" : audioMute ? "21" : "30";
    }
    if (param.size() != 2 || param[0] < '1' || param[0] > '3' ||
        (param[1] != '0' && param[1] != '1'))
        return OutOfParameter;
    if (power != On)
        return Unavailable;
    const bool on = param[1] == '1';
    if (param[0] != '2')
        videoMute = on;
    if (param[0] != '1')
        audioMute = on;
    return Ok;
}

QByteArray PJLinkModel::freezeCommand(const QByteArray& param) {
    if (param != "?" && param != "0" && param != "1")
        return OutOfParameter;
    if (power != On)
        return Unavailable;
    if (param == "?")
        return freeze ? "1" : "0";
    freeze = param == "1";
    return Ok;
}

QByteArray PJLinkModel::lampValue() const {
    QList<QByteArray> pairs;
    for (const int hours : lamps)
        pairs << QByteArray::number(hours) + (lampsLit() ? " 1" : " 0");
    return pairs.join(' ');
}

QByteArray PJLinkModel::inputList(char commandClass) const {
    QList<QByteArray> codes;
    for (const QByteArray& code : inputs) {
        if (isInputCode(code, commandClass))
            codes << code;
    }
    return codes.join(' ');
}

QByteArray PJLinkModel::format(char commandClass, const QByteArray& body,
                               const QByteArray& value) const {
    const QByteArray head = '%' + QByteArray(1, commandClass) + body + '=';
    if (!lowercase)
        return head + value;
    const bool keepValue = TextBodies.contains(body) && !value.startsWith("ERR");
    return head.toLower() + (keepValue ? value : value.toLower());
}

void PJLinkModel::addHour() {
    if (!lampsLit())
        return;
    for (int& hours : lamps)
        ++hours;
    ++filter;
}

void PJLinkModel::finishWarmUp() {
    if (power == WarmUp)
        power = On;
}

void PJLinkModel::finishCoolDown() {
    if (power == CoolDown)
        power = Off;
}

QString PJLinkModel::describe() const {
    QStringList hours;
    for (const int h : lamps)
        hours << QString::number(h);
    return QStringLiteral("class=%1 power=%2 input=%3 video_mute=%4 audio_mute=%5 freeze=%6 "
                          "erst=%7 lamps=%8 filter=%9")
        .arg(pjClass)
        .arg(power)
        .arg(QString::fromLatin1(input))
        .arg(int(videoMute))
        .arg(int(audioMute))
        .arg(int(freeze))
        .arg(QString::fromLatin1(errors), hours.join(QLatin1Char(',')))
        .arg(filter);
}

} // namespace sim
