#pragma once

#include <optional>

// "--discover CIDR" on the command line of either program: finds projectors
// by the PJLink search and by probing the range, prints what it found as CSV
// rows (with the header line) on standard output, and gives the exit code.
// Nothing when the arguments hold no --discover.
std::optional<int> RunDiscoverCommand(int argc, char** argv, const char* programName);
