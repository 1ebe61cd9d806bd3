#pragma once
// The output formats: plain text, JSON lines and CSV.
#include <cstddef>
#include <optional>
#include <string>

#include "console/escaped_text.h"
#include "inputs.h"
#include "options.h"
#include "reading.h"

namespace orbread {

// Where in a video a frame was: added to each result of --video.
struct FrameStamp {
    long long frame = 0;    // 0 for the first frame of the source; -1: no frame (a line about the whole source)
    double seconds = 0;     // its time stamp
    std::size_t index = 0;  // of the code within the frame
};

class Formatter {
public:
    explicit Formatter(Format format, bool video = false) : format_(format), video_(video) {}

    // The text before the first result: the CSV header, else nothing.
    std::string header() const;
    // The lines of one input's report (each ending in '\n'): one per code;
    // for an input without a code, one with its error in JSON and CSV and
    // nothing in plain text (where the note goes to standard error).
    std::string lines(const std::string& name, const ImageReport& report,
                      const std::optional<FrameStamp>& frame = std::nullopt) const;

private:
    Format format_;
    bool video_;
};

using console::escaped;
using console::isUtf8;
std::string hex(const std::vector<std::uint8_t>& bytes);

// Writes all of `text` to standard output; false once it is closed (a
// reader such as `head` has gone). SIGPIPE must be ignored.
bool writeOut(const std::string& text);

} // namespace orbread
