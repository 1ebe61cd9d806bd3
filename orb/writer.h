#pragma once
// Writing Orbel codes: text to a drawn code, the library's public interface.
//
//   #include <orb/writer.h>
//   const orb::WrittenCode code = orb::writeCode("Hello");
//   if (code) cv::imwrite("hello.png", code.image);
//
// A text that cannot be written comes back as a result with its reason.
#include <cstdint>
#include <string>

#include <opencv2/core.hpp>

#include "orb/types.h"

namespace orb {

struct WriterOptions {
    int modulesPerRing = 32;                      // 16, 32, 48 or 64
    int ringCount = 0;                            // 2 to 2500; 0: the fewest that hold the text
    DataType dataType = DataType::Automatic;      // Automatic: the tightest the text fits
    EccType eccType = EccType::Medium;
    Layout layout = Layout::HorizontalSnakeSmall;
    CodeType codeType = CodeType::BlackAndWhite;
    int mask = 0;                                 // 0 to 4; every mask reads back
    double pitch = 10.0;                          // ring pitch, pixels
    double quietZone = 2.0;                       // pitches of white around the code
};

// A drawn code, or why none could be drawn.
struct WrittenCode {
    ReadError error = ReadError::Success;
    std::string detail;   // what was wrong with the text or the options, when not Success
    cv::Mat image;        // 8-bit BGR, the code centred in its quiet zone
    std::string svg;      // the same code as a standalone SVG document, for print
    int modulesPerRing = 0;
    int ringCount = 0;
    DataType dataType = DataType::Automatic; // as written: Automatic resolved

    explicit operator bool() const { return error == ReadError::Success; }
};

// Draws a code that carries `text`. Errors: CodeCannotBeCreated (a text
// outside the data type's alphabet), DataSizeExceedsMaximum (no ring count
// holds it), InsufficientCapacity (the ring count given is too small),
// InvalidConfiguration (a module count, ring count, mask or layout out of
// range, or a layout that cannot cover the grid).
WrittenCode writeCode(const std::string& text, const WriterOptions& options = {});

} // namespace orb
