#pragma once

#include <cstdint>

// Each connection to the status endpoint and each projector's socket holds
// a file descriptor; the common default of 1,024 is not enough for both.
struct OpenFilesLimit {
    std::uint64_t soft = 0; // what this process may open now
    std::uint64_t hard = 0; // as far as soft may be raised without privileges
};

// Raises the soft open-files limit to the hard one and returns the limits
// then in force (soft unchanged when raising is refused).
OpenFilesLimit RaiseOpenFilesLimit();
OpenFilesLimit CurrentOpenFilesLimit();
