#pragma once

// The items of a projector's status that a reply can change, and how the
// dispatcher finished a command: what the engine reports and the window,
// the endpoint and the history read.
enum class StatusItem {
    Power,
    Input,
    Error,
    LampTime,
    FilterTime,
    Aspect,
    Whisper,
    Mirror,
    Blank,
    Mute,
    Brightness,
    Contrast,
    Sharpness,
    Color,
    Tint,
};

// How the dispatcher finished a command. A PJLink command refused as busy
// and tried again is acknowledged after it waited for the projector's
// warm-up or cool-down to end.
enum class CommandOutcome {
    Acknowledged,
    Refused,
    TimedOut,
    Data,
    WaitedForWarmUp,
    WaitedForCoolDown
};

inline bool IsAcknowledged(CommandOutcome outcome) {
    return outcome == CommandOutcome::Acknowledged || outcome == CommandOutcome::WaitedForWarmUp ||
           outcome == CommandOutcome::WaitedForCoolDown;
}
