#pragma once

#include <QByteArray>
#include <QString>

namespace sim {

inline constexpr int FrameSize = 13;
inline constexpr char Acknowledge = 0x06;
inline constexpr char Refusal = 0x15;
inline constexpr char DataReply = 0x1D;

// The state of one simulated projector and the answer it gives to one
// command frame. Free of I/O and timers: the cool-down end and the hour
// counting are driven from outside.
class ProjectorModel {
  public:
    enum Power { Off = 0, On = 1, CoolDown = 2 };

    // Raw picture values: the centre a unit starts at and how far it may move.
    static constexpr int PictureCentre = 128;
    static constexpr int SharpnessCentre = 125;
    static constexpr int PictureRange = 50;
    static constexpr int SharpnessRange = 15;

    // The reply bytes for one 13-byte frame; applies the command when it is
    // valid, answers a refusal otherwise.
    QByteArray answer(const QByteArray& frame);

    // One hour of use passes: lamp and filter count up while the power is on.
    void addHour();
    // The cool-down period is over.
    void finishCoolDown();

    // "power=1 input=0 ..." for the control channel.
    QString describe() const;

    int power = Off;
    int input = 0;
    int aspect = 0;
    int error = 0;
    int lamp = 1200;
    int filter = 300;
    int brightness = PictureCentre;
    int contrast = PictureCentre;
    int color = PictureCentre;
    int tint = PictureCentre;
    int sharpness = SharpnessCentre;
    int mirror = 0;
    int blank = 0;
    int mute = 0;
    int whisper = 0;

  private:
    bool set(int type, int value);
    QByteArray get(int type) const;
    bool step(int type, int delta);
    bool execute(int type);
    struct PictureSlot {
        int* value = nullptr;
        int low = 0;
        int high = 0;
    };
    PictureSlot pictureSlot(int type);
};

} // namespace sim
