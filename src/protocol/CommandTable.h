#pragma once

#include <QByteArray>
#include <QString>

#include <array>

// The 56 prepared 13-byte command frames. Frames are fixed byte strings,
// never composed at run time; callers pick one by name.
inline constexpr int CommandFrameBytes = 13;

struct CommandFrame {
    std::array<unsigned char, CommandFrameBytes> bytes;
    QByteArray toByteArray() const {
        return QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()));
    }
};

// Offsets of the fields inside a frame (little-endian words).
inline constexpr int FrameActionOffset = 7;
inline constexpr int FrameTypeOffset = 9;
inline constexpr int FrameValueOffset = 11;

struct CommandTable {
    CommandFrame PowerGetCommand;
    CommandFrame PowerOffCommand;
    CommandFrame PowerOnCommand;
    CommandFrame InputGetCommand;
    CommandFrame InputSet0Command;
    CommandFrame InputSet1Command;
    CommandFrame InputSet2Command;
    CommandFrame InputSet3Command;
    CommandFrame InputSet4Command;
    CommandFrame InputSet5Command;
    CommandFrame InputSet6Command;
    CommandFrame ErrorStatusGetCommand;
    CommandFrame LampTimeGetCommand;
    CommandFrame FilterTimeGetCommand;
    CommandFrame LampTimeResetCommand;
    CommandFrame FilterTimeResetCommand;
    CommandFrame AspectGetCommand;
    CommandFrame AspectSet0Command;
    CommandFrame AspectSet1Command;
    CommandFrame AspectSet2Command;
    CommandFrame AspectSet3Command;
    CommandFrame AspectSet4Command;
    CommandFrame AspectSet5Command;
    CommandFrame AspectSet6Command;
    CommandFrame AspectSet7Command;
    CommandFrame AspectSet16Command;
    CommandFrame BrightnessGetCommand;
    CommandFrame BrightnessIncrementCommand;
    CommandFrame BrightnessDecrementCommand;
    CommandFrame ContrastGetCommand;
    CommandFrame ContrastIncrementCommand;
    CommandFrame ContrastDecrementCommand;
    CommandFrame ColorGetCommand;
    CommandFrame ColorIncrementCommand;
    CommandFrame ColorDecrementCommand;
    CommandFrame TintGetCommand;
    CommandFrame TintIncrementCommand;
    CommandFrame TintDecrementCommand;
    CommandFrame SharpnessGetCommand;
    CommandFrame SharpnessIncrementCommand;
    CommandFrame SharpnessDecrementCommand;
    CommandFrame WhisperGetCommand;
    CommandFrame WhisperNormalCommand;
    CommandFrame WhisperOnCommand;
    CommandFrame MirrorGetCommand;
    CommandFrame MirrorNormalCommand;
    CommandFrame MirrorHInverseCommand;
    CommandFrame MirrorVInverseCommand;
    CommandFrame MirrorHVInverseCommand;
    CommandFrame MuteGetCommand;
    CommandFrame MuteOffCommand;
    CommandFrame MuteOnCommand;
    CommandFrame BlankGetCommand;
    CommandFrame BlankOffCommand;
    CommandFrame BlankOnCommand;
    CommandFrame AutoAdjustExecuteCommand;

    // Looks a frame up by its name; nullptr when there is none.
    const CommandFrame* byName(const QString& name) const;
    // Names in table order.
    static const std::array<const char*, 56>& names();
};

// Builds the table once; every caller shares the same read-only instance.
const CommandTable& BuildCommandTable();
