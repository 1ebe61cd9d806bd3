#pragma once
// Reading Orbel codes from images: the library's public interface.
//
//   #include <orb/reader.h>
//   const orb::ReadResult result = orb::readCode(cv::imread("code.png"));
//   if (result) std::cout << result.text() << '\n';
//   else std::cerr << result.errorText() << '\n';
//
// Everything a read finds comes back as a value; a failed read is a result
// with its reason, not an exception. Only input the reader cannot take at
// all (an empty image, a depth other than 8 bits, 2 or more than 4
// channels) throws OCException.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "orb/types.h"

namespace orb {

struct ReaderOptions {
    // Code types to try, in order. Colour is never tried on a gray image.
    // Default: black-and-white, then colour, so a black-and-white code costs
    // no more than with black-and-white alone.
    std::vector<CodeType> codeTypes = {CodeType::BlackAndWhite, CodeType::Color};
    // Module layout to read; none: any. With none, HorizontalSnakeSmall is
    // tried first, and the others only on a grid where it failed.
    std::optional<Layout> layout;
    // Try the left-right mirror image when the image as captured fails
    // (codes seen through glass or printed mirrored). Default: on.
    bool tryMirrored = true;
    // Stretch the contrast before binarising (helps dim or washed-out
    // images). Default: on.
    bool enhance = true;
    // Images wider than this many pixels are scaled down before reading,
    // which bounds the time a read takes. Default: 1280.
    int maxWorkingWidth = 1280;
    // When the image as a whole does not read, search it for codes from the
    // structure of their centre and read each place found: codes small, off
    // centre or among other things. Default: on.
    bool findCodes = true;
    // Most places the search may read in vain in one image; bounds the time
    // a cluttered image takes. Places that read do not count, so every code
    // is read however many an image holds. Default: 12.
    int maxCandidates = 12;
    // Keep the steps the read took (ReadResult::trace, CodeSearch::trace).
    // Default: off, which costs nothing.
    bool trace = false;
};

// One step of a read: a stage of one run on one image, or the search for
// places that look like codes.
struct TraceStep {
    // "finder search", or a stage: "inner circle", "affine correction",
    // "inner zebra", "perspective correction 1", "start marker",
    // "outer zebra", "perspective correction 2", "radial zebra", "grid reading".
    std::string stage;
    // What was read: "whole image", or "place N at X,Y" (N from 1, X,Y its
    // centre in the caller's pixels) for a place the search found.
    std::string image;
    cv::Size size;                    // of the image the run was given
    std::optional<CodeType> codeType; // of the run; none for the finder search
    bool mirrored = false;            // on the left-right mirror image
    // The form the stage worked on: "full size" or "half size", then the
    // mirror and corrections it had been through ("half size, mirrored, affine").
    std::string view;
    // The stage's outcome; for the finder search, Success when it found
    // places and InnerCircleNotFound when none.
    ReadError result = ReadError::Success;
    int places = 0;                   // places found (finder search only)
    double milliseconds = 0;
};

// Where a code lies, in the pixel coordinates of the caller's image.
struct CodePosition {
    cv::Point2f centre;
    // The outer edge of the outermost ring, as a polygon of 32 points,
    // counter-clockwise on screen starting at the start marker.
    std::vector<cv::Point2f> outline;
    // The ellipse fitted to the outline.
    cv::RotatedRect outerRing;
    // The white hub round the dot, as an ellipse; for a failed place, the
    // finder's ellipse of it.
    cv::RotatedRect hub;
};

// One read code, or why none was read.
struct ReadResult {
    // Success when a code was read; otherwise the reason of the last attempt.
    ReadError error = ReadError::InnerCircleNotFound;
    // The payload as it was stored: text (usually UTF-8 or Latin-1) or raw bytes.
    std::vector<std::uint8_t> bytes;
    DataType dataType = DataType::Automatic;
    EccType eccType = EccType::Low;
    Layout layout = Layout::HorizontalSnakeSmall;
    CodeType codeType = CodeType::BlackAndWhite;
    std::int32_t modulesPerRing = 0;
    std::int32_t ringCount = 0;
    // The code was read from the mirror image of the one given.
    bool mirrored = false;
    // Codeword bytes the error correction changed to read it, and of those
    // how many were marked unsure before correcting: a read with many is
    // nearer its limit (no read past the limit is ever accepted).
    std::int32_t correctedErrors = 0;
    std::int32_t erasures = 0;
    CodePosition position;
    // The steps of the read, when ReaderOptions::trace asked for them.
    std::vector<TraceStep> trace;

    explicit operator bool() const { return error == ReadError::Success; }
    // The payload bytes as a string.
    std::string text() const { return {bytes.begin(), bytes.end()}; }
    // Fixed English text of `error`, e.g. "Inner circle not found".
    std::string errorText() const { return orb::errorText(error); }
};

// Reads the one code that fills and centres an 8-bit image (gray, BGR or
// BGRA); when that fails and `options.findCodes` is on, the first code the
// search finds anywhere in it. Safe to call from several threads at once;
// the same image and options always give the same result.
ReadResult readCode(const cv::Mat& image, const ReaderOptions& options = {});

// Every code of an image, each once, wherever it stands: the image read as a
// whole, then each place the search finds, until `options.maxCandidates` of
// them have failed (searchCodes tells when that cut the search short).
// Empty when none reads; throws like readCode for input it cannot take.
std::vector<ReadResult> readCodes(const cv::Mat& image, const ReaderOptions& options = {});

// What readCodes reads, and the places the search found that did not read.
struct CodeSearch {
    std::vector<ReadResult> codes;
    // One result per place that failed: its reason as `error`, and as its
    // position the place's centre with the finder's ellipse of the white hub
    // as `outerRing` and `outline` (a failed read does not know its rings).
    std::vector<ReadResult> failed;
    // Why nothing was read, when `codes` is empty: as readCode would report.
    ReadError error = ReadError::InnerCircleNotFound;
    // The search stopped at `ReaderOptions::maxCandidates` failed places
    // with places left untried: the image may hold more codes.
    bool candidateLimitReached = false;
    // Every step of the search, when ReaderOptions::trace asked for them.
    std::vector<TraceStep> trace;
};

// readCodes, stopping after `maxCodes` codes, with the failed places too.
CodeSearch searchCodes(const cv::Mat& image, const ReaderOptions& options = {},
                       std::size_t maxCodes = static_cast<std::size_t>(-1));

} // namespace orb
