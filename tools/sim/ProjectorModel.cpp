#include "ProjectorModel.h"

#include "KnownFrames.h"

#include <algorithm>

namespace sim {

namespace {

constexpr char Header[] = {char(0xBE), char(0xEF), 0x03, 0x06, 0x00};

uint16_t wordAt(const QByteArray& frame, int offset) {
    return uint16_t(uint8_t(frame[offset]) | uint8_t(frame[offset + 1]) << 8);
}

enum Type {
    PowerType = 0x6000,
    InputType = 0x2000,
    ErrorType = 0x6020,
    LampType = 0x1090,
    FilterType = 0x10A0,
    LampResetType = 0x7030,
    FilterResetType = 0x7040,
    AspectType = 0x2008,
    BrightnessType = 0x2003,
    ContrastType = 0x2004,
    ColorType = 0x2202,
    TintType = 0x2203,
    SharpnessType = 0x2201,
    WhisperType = 0x3300,
    MirrorType = 0x3001,
    MuteType = 0x2002,
    BlankType = 0x3020,
    AutoAdjustType = 0x200A,
};

enum Action {
    SetAction = 1,
    GetAction = 2,
    IncrementAction = 4,
    DecrementAction = 5,
    ExecuteAction = 6
};

} // namespace

QByteArray ProjectorModel::answer(const QByteArray& frame) {
    const QByteArray refusal(1, Refusal);
    if (frame.size() != FrameSize || !frame.startsWith(QByteArray(Header, sizeof Header)))
        return refusal;
    const FrameFields fields{wordAt(frame, 5), wordAt(frame, 7), wordAt(frame, 9),
                             wordAt(frame, 11)};
    if (!isKnownFrame(fields))
        return refusal;

    bool done = false;
    switch (fields.action) {
    case SetAction:
        done = set(fields.type, fields.value);
        break;
    case GetAction:
        return get(fields.type);
    case IncrementAction:
        done = step(fields.type, +1);
        break;
    case DecrementAction:
        done = step(fields.type, -1);
        break;
    case ExecuteAction:
        done = execute(fields.type);
        break;
    default:
        break;
    }
    return done ? QByteArray(1, Acknowledge) : refusal;
}

bool ProjectorModel::set(int type, int value) {
    switch (type) {
    case PowerType:
        // A unit that cools down finishes cooling before it can be switched on.
        if (value == 1 && power == Off)
            power = On;
        else if (value == 0 && power == On)
            power = CoolDown;
        return true;
    case InputType:
        input = value;
        return true;
    case AspectType:
        aspect = value;
        return true;
    case MirrorType:
        mirror = value;
        return true;
    case BlankType:
        blank = value;
        return true;
    case MuteType:
        mute = value;
        return true;
    case WhisperType:
        whisper = value;
        return true;
    default:
        return false;
    }
}

QByteArray ProjectorModel::get(int type) const {
    int value = 0;
    switch (type) {
    case PowerType:
        value = power;
        break;
    case InputType:
        value = input;
        break;
    case ErrorType:
        value = error;
        break;
    case LampType:
        value = lamp;
        break;
    case FilterType:
        value = filter;
        break;
    case AspectType:
        value = aspect;
        break;
    case BrightnessType:
        value = brightness;
        break;
    case ContrastType:
        value = contrast;
        break;
    case ColorType:
        value = color;
        break;
    case TintType:
        value = tint;
        break;
    case SharpnessType:
        value = sharpness;
        break;
    case WhisperType:
        value = whisper;
        break;
    case MirrorType:
        value = mirror;
        break;
    case MuteType:
        value = mute;
        break;
    case BlankType:
        value = blank;
        break;
    default:
        return QByteArray(1, Refusal);
    }
    value = std::clamp(value, 0, 0xFFFF);
    QByteArray reply(1, DataReply);
    reply.append(char(value & 0xFF));
    reply.append(char(value >> 8));
    return reply;
}

ProjectorModel::PictureSlot ProjectorModel::pictureSlot(int type) {
    const auto around = [](int* value, int centre, int range) {
        return PictureSlot{value, centre - range, centre + range};
    };
    switch (type) {
    case BrightnessType:
        return around(&brightness, PictureCentre, PictureRange);
    case ContrastType:
        return around(&contrast, PictureCentre, PictureRange);
    case ColorType:
        return around(&color, PictureCentre, PictureRange);
    case TintType:
        return around(&tint, PictureCentre, PictureRange);
    case SharpnessType:
        return around(&sharpness, SharpnessCentre, SharpnessRange);
    default:
        return {};
    }
}

bool ProjectorModel::step(int type, int delta) {
    const PictureSlot slot = pictureSlot(type);
    if (!slot.value)
        return false;
    // At a limit the unit acknowledges and stays where it is.
    *slot.value = std::clamp(*slot.value + delta, slot.low, slot.high);
    return true;
}

bool ProjectorModel::execute(int type) {
    switch (type) {
    case LampResetType:
        lamp = 0;
        return true;
    case FilterResetType:
        filter = 0;
        return true;
    case AutoAdjustType:
        return true;
    default:
        return false;
    }
}

void ProjectorModel::addHour() {
    if (power != On)
        return;
    lamp = std::min(lamp + 1, 0xFFFF);
    filter = std::min(filter + 1, 0xFFFF);
}

void ProjectorModel::finishCoolDown() {
    if (power == CoolDown)
        power = Off;
}

QString ProjectorModel::describe() const {
    return QStringLiteral("power=%1 input=%2 aspect=%3 error=%4 lamp=%5 filter=%6 brightness=%7 "
                          "contrast=%8 color=%9 tint=%10 sharpness=%11 mirror=%12 blank=%13 "
                          "mute=%14 whisper=%15")
        .arg(power)
        .arg(input)
        .arg(aspect)
        .arg(error)
        .arg(lamp)
        .arg(filter)
        .arg(brightness)
        .arg(contrast)
        .arg(color)
        .arg(tint)
        .arg(sharpness)
        .arg(mirror)
        .arg(blank)
        .arg(mute)
        .arg(whisper);
}

} // namespace sim
