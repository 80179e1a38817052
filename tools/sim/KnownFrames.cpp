#include "KnownFrames.h"

#include <array>

namespace sim {

namespace {

constexpr std::array<FrameFields, 56> Frames{{
    {0xD319, 2, 0x6000, 0},  // PowerGetCommand
    {0xD32A, 1, 0x6000, 0},  // PowerOffCommand
    {0xD2BA, 1, 0x6000, 1},  // PowerOnCommand
    {0xD2CD, 2, 0x2000, 0},  // InputGetCommand
    {0xD2FE, 1, 0x2000, 0},  // InputSet0Command
    {0xD36E, 1, 0x2000, 1},  // InputSet1Command
    {0xD39E, 1, 0x2000, 2},  // InputSet2Command
    {0xD20E, 1, 0x2000, 3},  // InputSet3Command
    {0xD03E, 1, 0x2000, 4},  // InputSet4Command
    {0xD1AE, 1, 0x2000, 5},  // InputSet5Command
    {0xD15E, 1, 0x2000, 6},  // InputSet6Command
    {0xD8D9, 2, 0x6020, 0},  // ErrorStatusGetCommand
    {0xFFC2, 2, 0x1090, 0},  // LampTimeGetCommand
    {0xF0C2, 2, 0x10A0, 0},  // FilterTimeGetCommand
    {0xDC58, 6, 0x7030, 0},  // LampTimeResetCommand
    {0xC698, 6, 0x7040, 0},  // FilterTimeResetCommand
    {0xD0AD, 2, 0x2008, 0},  // AspectGetCommand
    {0xD09E, 1, 0x2008, 0},  // AspectSet0Command
    {0xD10E, 1, 0x2008, 1},  // AspectSet1Command
    {0xD1FE, 1, 0x2008, 2},  // AspectSet2Command
    {0xD06E, 1, 0x2008, 3},  // AspectSet3Command
    {0xD25E, 1, 0x2008, 4},  // AspectSet4Command
    {0xD3CE, 1, 0x2008, 5},  // AspectSet5Command
    {0xD33E, 1, 0x2008, 6},  // AspectSet6Command
    {0xD2AE, 1, 0x2008, 7},  // AspectSet7Command
    {0xDD5E, 1, 0x2008, 16}, // AspectSet16Command
    {0xD289, 2, 0x2003, 0},  // BrightnessGetCommand
    {0xD2EF, 4, 0x2003, 0},  // BrightnessIncrementCommand
    {0xD33E, 5, 0x2003, 0},  // BrightnessDecrementCommand
    {0xD3FD, 2, 0x2004, 0},  // ContrastGetCommand
    {0xD39B, 4, 0x2004, 0},  // ContrastIncrementCommand
    {0xD24A, 5, 0x2004, 0},  // ContrastDecrementCommand
    {0x72B5, 2, 0x2202, 0},  // ColorGetCommand
    {0x72D3, 4, 0x2202, 0},  // ColorIncrementCommand
    {0x7302, 5, 0x2202, 0},  // ColorDecrementCommand
    {0x7349, 2, 0x2203, 0},  // TintGetCommand
    {0x732F, 4, 0x2203, 0},  // TintIncrementCommand
    {0x72FE, 5, 0x2203, 0},  // TintDecrementCommand
    {0x72F1, 2, 0x2201, 0},  // SharpnessGetCommand
    {0x7297, 4, 0x2201, 0},  // SharpnessIncrementCommand
    {0x7346, 5, 0x2201, 0},  // SharpnessDecrementCommand
    {0x2308, 2, 0x3300, 0},  // WhisperGetCommand
    {0x233B, 1, 0x3300, 0},  // WhisperNormalCommand
    {0x22AB, 1, 0x3300, 1},  // WhisperOnCommand
    {0xD2F4, 2, 0x3001, 0},  // MirrorGetCommand
    {0xD2C7, 1, 0x3001, 0},  // MirrorNormalCommand
    {0xD357, 1, 0x3001, 1},  // MirrorHInverseCommand
    {0xD3A7, 1, 0x3001, 2},  // MirrorVInverseCommand
    {0xD237, 1, 0x3001, 3},  // MirrorHVInverseCommand
    {0xD375, 2, 0x2002, 0},  // MuteGetCommand
    {0xD346, 1, 0x2002, 0},  // MuteOffCommand
    {0xD2D6, 1, 0x2002, 1},  // MuteOnCommand
    {0xD8C8, 2, 0x3020, 0},  // BlankGetCommand
    {0xD8FB, 1, 0x3020, 0},  // BlankOffCommand
    {0xD96B, 1, 0x3020, 1},  // BlankOnCommand
    {0xD091, 6, 0x200A, 0},  // AutoAdjustExecuteCommand
}};

} // namespace

bool isKnownFrame(const FrameFields& fields) {
    for (const FrameFields& known : Frames) {
        if (known.check == fields.check && known.action == fields.action &&
            known.type == fields.type && known.value == fields.value)
            return true;
    }
    return false;
}

} // namespace sim
