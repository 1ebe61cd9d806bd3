#pragma once
// File mode: decode the one image file named on the command line and end.
#include <cstdint>
#include <iostream>
#include <ostream>

#include "app/command_line.h"
#include "orb/decoder_configuration.h"

namespace app {

// Reads the image named by argument 1, decodes it once and prints the text
// and the decode time. Failures are logged; the result is always 0.
int runFileMode(const CommandLine& commandLine, const orb::DecoderConfiguration& config);

// The system clock in 100-nanosecond ticks.
std::int64_t currentTicks();
// The two timing lines: milliseconds with a fraction, then nanoseconds.
void printElapsed(std::int64_t elapsedTicks, std::ostream& out = std::cout);

} // namespace app
