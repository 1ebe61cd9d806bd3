#pragma once
// Standard input as one image: read in chunks into memory (a memory file,
// never a file on disk) up to the largest image file the reader takes.
#include <cstdint>
#include <string>

#include "orb/image_file.h"

namespace orbread {

// The most bytes taken from standard input: an uncompressed picture at the
// loader's pixel limit with four 8-bit channels (the largest common image
// file at that size), and 16 MiB for headers and metadata: 497 MB. More is
// refused before it is all read.
inline constexpr std::int64_t kMaxStandardInputBytes = orb::kMaxImagePixels * 4 + (std::int64_t{16} << 20);

struct StandardInput {
    std::string path;  // where the bytes can be loaded from; empty when they cannot
    std::string error; // why not
};

// Reads all of file descriptor `fd` (standard input) into a memory file,
// or stops at the first byte beyond `maxBytes`. The file lives as long as
// the process.
StandardInput takeStandardInput(int fd, std::int64_t maxBytes = kMaxStandardInputBytes);

// Everything `fd` holds, for a list of names (--files-from -).
std::string readAll(int fd);

} // namespace orbread
