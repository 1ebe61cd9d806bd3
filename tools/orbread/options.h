#pragma once
// orbread's command line: what the user asked for, parsed by CLI11.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "orb/reader.h"

namespace orbread {

enum class Format { Text, Json, Csv };

struct Options {
    std::vector<std::string> inputs; // files, folders, "-" for standard input
    std::string filesFrom;           // --files-from: a file of names, "-" for standard input
    bool nulSeparated = false;       // -0: its names end in NUL bytes, not newlines
    bool recursive = false;
    Format format = Format::Text;
    orb::ReaderOptions reader;
    std::size_t maxCodes = static_cast<std::size_t>(-1); // per image
    std::string annotateDir;                              // empty: no pictures
    int threads = 0;                                      // 0: one per core
    bool quiet = false;

    // --video SOURCE: frames of a video file, image sequence, camera or stream.
    std::string video;
    int every = 1;         // read every N-th frame
    double dedupe = -1;    // seconds out of view before a code is printed again; < 0: every read
};

// The parsed options, or the exit status when the program is done already
// (help or version shown: 0; a usage error, reported on standard error: 2).
struct ParsedCommandLine {
    Options options;
    std::optional<int> exitStatus;
};

ParsedCommandLine parseCommandLine(int argc, char** argv);

// The version line `orbread --version` prints.
std::string versionText();

} // namespace orbread
