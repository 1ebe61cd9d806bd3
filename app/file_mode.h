#pragma once
// File mode: decode the one image file named on the command line and end.
#include <cstdint>
#include <iostream>
#include <ostream>

#include <string>

#include <opencv2/core.hpp>

#include "app/command_line.h"
#include "orb/decoder_configuration.h"
#include "orb/reader.h"

namespace app {

// Reads the image named by argument 1, decodes it once and prints the text
// and the decode time. Failures are logged; the result is always 0.
int runFileMode(const CommandLine& commandLine, const orb::DecoderConfiguration& config);

// For when decode missed: the first code the code finder reads anywhere in
// `image`, with the configuration's code type and layout. True, and `text`
// set, when one reads; never throws.
bool findCode(const orb::DecoderConfiguration& config, const cv::Mat& image, std::string& text);
// A read as the console program makes it: the reader's options, and
// whether the image is read as a whole before it is searched (not after
// its own decode has just done that).
struct ConsoleRead {
    orb::ReaderOptions reader;
    bool wholeImage = true;
    // Where the search looks when the whole image is not read first (the
    // image's pixels); empty: everywhere.
    cv::Rect searchArea;
};

ConsoleRead findCodeOptions(const orb::DecoderConfiguration& config);

// readCode, or only the places the search finds (in `read.searchArea`) when
// `read.wholeImage` is off.
orb::ReadResult readConsole(const cv::Mat& image, const ConsoleRead& read);

// The system clock in 100-nanosecond ticks.
std::int64_t currentTicks();
// The two timing lines: milliseconds with a fraction, then nanoseconds.
void printElapsed(std::int64_t elapsedTicks, std::ostream& out = std::cout);

} // namespace app
