#pragma once
// Reading the codes of one input, and of many on several threads.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "inputs.h"
#include "options.h"
#include "standard_input.h"
#include "orb/reader.h"

namespace orbread {

enum class Outcome {
    Codes,      // at least one code read
    NoCode,     // an image without a code that reads
    Unreadable, // the input could not be read as an image
    Note,       // a listing note only: no output, no effect on the exit status
};

struct ImageReport {
    Outcome outcome = Outcome::NoCode;
    std::vector<orb::ReadResult> codes;
    std::vector<orb::ReadResult> failed; // places the search found that did not read
    std::string error;                   // why nothing was read (Outcome NoCode or Unreadable)
    double milliseconds = 0;             // loading and reading
    std::string annotationError;         // why the --annotate picture could not be written
    std::string warning;                 // the file is damaged, though codes may have been read from it
    std::vector<int> codePages;          // the page of each code (from 1), for a file of several pages
    bool candidateLimitReached = false;  // the search gave up on places that did not read: codes may be missing
};

// Standard input, taken once before the readers start.
void useStandardInput(StandardInput input);

// Loads and reads one input; writes its --annotate picture to `annotation`
// when that is not empty. Never throws.
ImageReport readInput(const Input& input, const Options& options, const std::string& annotation = {});

// Reads `inputs` on `threads` threads (each pulls the next unread input).
// On the calling thread, `deliver` gets each report in input order as soon
// as it and all before it are done, and `tick` the number of reads done
// after each read and a few times a second. When `deliver` returns false no
// further reads start and the function returns once those running end.
void readAll(const std::vector<Input>& inputs, const Options& options, const std::vector<std::string>& annotations,
             int threads, const std::function<bool(std::size_t, ImageReport&)>& deliver,
             const std::function<void(std::size_t)>& tick);

// The number of threads for `requested` (0: one per core) and `inputs`
// images; sets the image library's own thread count to suit.
int readerThreads(int requested, std::size_t inputs);

} // namespace orbread
