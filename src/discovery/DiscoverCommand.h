#pragma once

#include <optional>

// "--discover CIDR [--model NAME]" on the command line of either program:
// finds projectors by the PJLink search and by probing the range, prints the
// ones the stored fleet does not have as CSV rows that import as they are
// (own-protocol ones taken for the model NAME), ends with a summary on
// standard error, and gives the exit code. Nothing when the arguments hold
// no --discover.
std::optional<int> RunDiscoverCommand(int argc, char** argv, const char* programName);
