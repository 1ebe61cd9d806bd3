#pragma once
// The decode pipeline: every stage of reading one code, in order, with the
// points it retries from.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "orb/decoder_configuration.h"
#include "orb/detection/start_marker_types.h"
#include "orb/payload/grid_reader.h"
#include "orb/payload/ring_grid.h"
#include "orb/result_code.h"

namespace orb {

// Widest image the decoder works on by default; wider ones are scaled down first.
inline constexpr int kMaxDecodeWidth = 1280;

// Checks that `image` can be decoded with `config` and returns it as gray or
// BGR (alpha dropped). Throws InvalidConfiguration for images it cannot take
// and CodeTypeMismatch for a gray image with a colour code type.
cv::Mat checkDecoderInput(const DecoderConfiguration& config, const cv::Mat& image);

// The image itself (shared) when it is at most `maxWidth` columns wide,
// otherwise a bilinear reduction to that width with the height scaled to match.
cv::Mat normalizeImageSize(const cv::Mat& image, int maxWidth = kMaxDecodeWidth);

// The stages and corrections of a read, in the order a read meets them.
enum class Stage : std::uint8_t {
    InnerCircle,
    AffineCorrection,
    InnerZebra,
    PerspectiveCorrection1,
    StartMarker,
    OuterZebra,
    PerspectiveCorrection2,
    RadialZebra,
    GridReading, // the final transform, grid reading and payload
};

// The corrections a working image has been through, as bits.
enum class Correction : unsigned { Affine = 1, Perspective1 = 2, Perspective2 = 4 };

// One step a read took: which stage, on which image, with what outcome.
struct PipelineStep {
    Stage stage = Stage::InnerCircle;
    bool reduced = false;      // on the half-size image
    bool mirrored = false;     // on the left-right mirror image
    unsigned corrections = 0;  // Correction bits of the image it ran on
    ResultCode result = Success;
    double milliseconds = 0;
};

// "inner circle", "outer zebra", ...
const char* stageName(Stage stage);
// "half size, mirrored, affine, perspective 1"; "full size" when uncorrected.
std::string stepImage(const PipelineStep& step);

struct PipelineOptions {
    // Layouts tried, in order, on each grid found; empty: the configuration's.
    std::vector<std::int32_t> layouts;
    // Whether a failed read is tried once more on the left-right mirror image.
    bool tryMirrored = true;
    // Whether the working image is enhanced before binarisation.
    bool enhance = true;
    // Wider images are scaled down to this width first.
    int maxWorkingWidth = kMaxDecodeWidth;
    // Whether a large image is read at half size first, going on to the
    // full size only when a code found there does not read.
    bool reducedFirst = true;
    // The inner circle, in the image's pixels, when the caller already knows
    // it (a code finder): the inner circle search is then skipped.
    std::optional<cv::RotatedRect> innerCircle;
    // Whether the reading keeps the steps it took (and times them).
    bool keepSteps = false;
    // Whether a correction that leaves little parity unused may stand on the
    // image as given (never on its mirror): false for an image read with
    // dark and light swapped.
    bool weakCorrections = true;
    // Only the first try of every retry point: the first working size, as
    // captured, uncorrected, the best start marker candidate, the grid the
    // radial zebra gives. What a code that fills and centres a clean image
    // reads with, at a small share of what a read that fails all of them costs.
    bool firstTriesOnly = false;
};

// What one run of the pipeline learnt. Geometry is of the warped image
// that grid reading sampled, in which the code centre is the image centre.
struct PipelineReading {
    ResultCode code = InnerCircleNotFound; // Success, or the last stage failure
    GridReading payload;
    std::int32_t modulesPerRing = 0;
    RingGrid grid;
    StartMarker startMarker;
    // Working image (mirrored when `mirrored`) -> warped image.
    cv::Matx33d homography = cv::Matx33d::eye();
    bool mirrored = false;
    cv::Size workingSize;     // after the reductions (maxWorkingWidth, reducedFirst)
    // Every stage run, in order, when PipelineOptions::keepSteps asked.
    std::vector<PipelineStep> steps;
};

// Reads the one code of an 8-bit image (gray, BGR or BGRA) with the code
// type and (unless `options.layouts` says otherwise) layout of `config`.
// Stage failures come back as the result's code; input it cannot take at
// all (empty, wrong depth or channels, gray with the colour code type) and
// errors of the image library are thrown.
PipelineReading runPipeline(const DecoderConfiguration& config, const cv::Mat& image, const PipelineOptions& options);

} // namespace orb
