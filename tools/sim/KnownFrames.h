#pragma once

#include <cstdint>

namespace sim {

// The fields of one 13-byte command frame, little-endian words.
struct FrameFields {
    uint16_t check = 0;
    uint16_t action = 0;
    uint16_t type = 0;
    uint16_t value = 0;
};

// A projector accepts only the frames it knows: the check word must be the
// one that belongs to the action, type and value, as a real unit verifies
// its check word and rejects a corrupted frame.
bool isKnownFrame(const FrameFields& fields);

} // namespace sim
