#pragma once

#include <chrono>

// A fleet of live projectors with one that nothing answers at its address,
// one whose port refuses, and one PJLink projector that answers in 2 s,
// polled for a while on a 10-s interval: how often the live ones are polled,
// and how often the broken ones are tried. Prints its figures; returns the
// program's exit code.
int RunBrokenFleet(int projectors, std::chrono::seconds duration);
