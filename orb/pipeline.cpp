#include "orb/pipeline.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstddef>
#include <optional>
#include <string>

#include <opencv2/imgproc.hpp>

#include "orb/detection/inner_zebra.h"
#include "orb/detection/outer_zebra.h"
#include "orb/detection/radial_zebra.h"
#include "orb/detection/ring_edges.h"
#include "orb/detection/start_marker.h"
#include "orb/geometry/image_corrections.h"
#include "orb/geometry/inner_circle.h"
#include "orb/geometry/preprocessing.h"
#include "orb/logger.h"

namespace orb {

cv::Mat checkDecoderInput(const DecoderConfiguration& config, const cv::Mat& image)
{
    if (image.empty()) throw OCException(InvalidConfiguration, "the image is empty");
    if (image.depth() != CV_8U)
        throw OCException(InvalidConfiguration, "the image must have 8 bits per channel");
    const int channels = image.channels();
    if (channels != 1 && channels != 3 && channels != 4)
        throw OCException(InvalidConfiguration,
                          "the image must have 1, 3 or 4 channels, not " + std::to_string(channels));
    if (channels == 1 && config.codeType == Color) throw OCException(CodeTypeMismatch, "");
    if (channels == 4) {
        cv::Mat bgr;
        cv::cvtColor(image, bgr, cv::COLOR_BGRA2BGR);
        return bgr;
    }
    return image;
}

cv::Mat normalizeImageSize(const cv::Mat& image, int maxWidth)
{
    if (maxWidth <= 0 || image.cols <= maxWidth) return image;
    // 64-bit so tall images cannot overflow; at least one row so a very flat
    // image still has a size the resize accepts.
    const auto height = static_cast<int>(
        std::max<std::int64_t>(1, static_cast<std::int64_t>(image.rows) * maxWidth / image.cols));
    cv::Mat resized;
    cv::resize(image, resized, cv::Size(maxWidth, height), 0, 0, cv::INTER_LINEAR);
    return resized;
}

const char* stageName(Stage stage)
{
    switch (stage) {
    case Stage::InnerCircle: return "inner circle";
    case Stage::AffineCorrection: return "affine correction";
    case Stage::InnerZebra: return "inner zebra";
    case Stage::PerspectiveCorrection1: return "perspective correction 1";
    case Stage::StartMarker: return "start marker";
    case Stage::OuterZebra: return "outer zebra";
    case Stage::PerspectiveCorrection2: return "perspective correction 2";
    case Stage::RadialZebra: return "radial zebra";
    case Stage::GridReading: return "grid reading";
    }
    return "unknown";
}

std::string stepImage(const PipelineStep& step)
{
    std::string image = step.reduced ? "half size" : "full size";
    if (step.mirrored) image += ", mirrored";
    const auto has = [&](Correction c) { return (step.corrections & static_cast<unsigned>(c)) != 0; };
    if (has(Correction::Affine)) image += ", affine";
    if (has(Correction::Perspective1)) image += ", perspective 1";
    if (has(Correction::Perspective2)) image += ", perspective 2";
    return image;
}

namespace {

// A binarised working image, the transform that maps the source image
// onto it, and the corrections that made it. Each retry point below makes
// a corrected view and tries again.
struct View {
    cv::Mat image;
    cv::Matx33d homography = cv::Matx33d::eye();
    unsigned corrections = 0; // Correction bits
};

View corrected(const CorrectedImage& correction, const View& from, Correction made)
{
    return {correction.image, correction.transform * from.homography,
            from.corrections | static_cast<unsigned>(made)};
}

// A circle given in the caller's image, in the working image (reduced in
// size, and mirrored when `mirrored`).
cv::RotatedRect inWorkingImage(cv::RotatedRect circle, const cv::Size& image, const cv::Size& working, bool mirrored)
{
    const float sx = static_cast<float>(working.width) / image.width;
    const float sy = static_cast<float>(working.height) / image.height;
    circle.center = {(circle.center.x + 0.5f) * sx - 0.5f, (circle.center.y + 0.5f) * sy - 0.5f};
    circle.size = {circle.size.width * sx, circle.size.height * sy};
    if (mirrored) {
        circle.center.x = working.width - 1 - circle.center.x;
        circle.angle = -circle.angle;
    }
    return circle;
}

// At half size the smoothing and the opening reach twice as far into a
// hub, for its size, as at full size: a hub just above the smallest
// accepted at full size can fall below it there. The smallest radius is
// lowered by this many pixels at half size.
constexpr double kReducedRimLoss = 2.0;

// One working size of an image: the working image (enhanced when asked)
// and its binarised copy.
struct WorkingImage {
    cv::Mat working;
    cv::Mat binary;
    bool reduced = false; // smaller than the full working size
};

WorkingImage prepare(const DecoderConfiguration& config, const cv::Mat& input, int width, bool reduced,
                     const PipelineOptions& options)
{
    // Preprocessing: size, enhancement, binarisation.
    WorkingImage prepared;
    prepared.working = normalizeImageSize(input, width);
    if (options.enhance) prepared.working = enhanceImage(prepared.working, config.codeType);
    prepared.binary = binarizeImage(prepared.working, config.codeType);
    prepared.reduced = reduced;
    return prepared;
}

// The steps a read took, kept only when the caller asked for them.
class StepLog {
public:
    explicit StepLog(bool kept) : kept_(kept) {}

    // Runs `stage` and records it with its outcome and time; `run` returns
    // a Found<T>, a ResultCode or a CorrectedImage (empty: no fit).
    template <class Run>
    auto record(Stage stage, const View& on, Run&& run)
    {
        if (!kept_) return run();
        const auto start = std::chrono::steady_clock::now();
        auto outcome = run();
        const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
        steps_.push_back({stage, reduced_, mirrored_, on.corrections, resultOf(outcome), took.count()});
        return outcome;
    }

    void at(bool reduced, bool mirrored)
    {
        reduced_ = reduced;
        mirrored_ = mirrored;
    }
    std::vector<PipelineStep> take() { return std::move(steps_); }

private:
    template <class T>
    static ResultCode resultOf(const Found<T>& found) { return found.code; }
    static ResultCode resultOf(const CorrectedImage& correction)
    {
        return correction.image.empty() ? WrongPerspectiveMarkerCount : Success;
    }

    bool kept_;
    bool reduced_ = false;
    bool mirrored_ = false;
    std::vector<PipelineStep> steps_;
};

// The retry point "as is, then corrected": `next` runs on the view as it
// is, and only when that fails, on the view `correct` makes from it. A
// correction without a fit (an empty image) leaves the first failure.
template <class Correct, class Next>
PipelineReading asIsThenCorrected(const View& view, bool firstTryOnly, Correct&& correct, Next&& next)
{
    PipelineReading reading = next(view);
    if (reading.code == Success || firstTryOnly) return reading;
    const std::optional<View> better = correct(view);
    return better ? next(*better) : reading;
}

// A retry point over alternatives, best first: the first that reads wins,
// otherwise the last failure stands.
template <class Range, class Next>
PipelineReading eachUntilRead(const Range& tries, ResultCode none, Next&& next, std::size_t most = SIZE_MAX)
{
    PipelineReading reading;
    reading.code = none;
    std::size_t tried = 0;
    for (const auto& attempt : tries) {
        if (tried++ == most) break;
        reading = next(attempt);
        if (reading.code == Success) break;
    }
    return reading;
}

PipelineReading failed(ResultCode code)
{
    PipelineReading reading;
    reading.code = code;
    return reading;
}

// Every stage, in order, on one working size in one orientation. Each
// stage returns what it found or why it failed, and hands what it found to
// the next; the retry points are the calls of asIsThenCorrected and
// eachUntilRead, and a failure below one goes on with its next try. The
// reported failure is always the last one met.
class OrientationRead {
public:
    OrientationRead(const DecoderConfiguration& config, const cv::Mat& image, const WorkingImage& prepared,
                    bool mirrored, const PipelineOptions& options, StepLog& steps)
        : config_(config), image_(image), prepared_(prepared), mirrored_(mirrored), options_(options),
          steps_(steps),
          layouts_(options.layouts.empty() ? std::vector<std::int32_t>{config.layout} : options.layouts)
    {
    }

    PipelineReading run()
    {
        // The inner circle search paints into the binarised image, and
        // the mirrored try needs its own: the caller's pixels are never written.
        cv::Mat captured = prepared_.binary;
        if (mirrored_) cv::flip(prepared_.binary, captured, 1);
        const View capturedView{captured};

        const Found<cv::RotatedRect> circle = steps_.record(Stage::InnerCircle, capturedView, [&] {
            if (options_.innerCircle)
                return Found<cv::RotatedRect>{Success, inWorkingImage(*options_.innerCircle, image_.size(),
                                                                      prepared_.working.size(), mirrored_)};
            return findCircle(captured, config_, prepared_.reduced ? kReducedRimLoss : 0.0);
        });
        if (!circle) return withSize(failed(circle.code));
        const double R = std::max(circle->size.width, circle->size.height) / 2.0f;

        // Inner zebra: on the image as is, then affine-corrected by the
        // inner circle's ellipse (the affine fit replaces the identity).
        return withSize(asIsThenCorrected(
            capturedView, options_.firstTriesOnly,
            [&](const View& view) -> std::optional<View> {
                const CorrectedImage affine = steps_.record(Stage::AffineCorrection, view, [&] {
                    return affineTransform(StageInput{config_, view.image}, *circle, R);
                });
                return corrected(affine, view, Correction::Affine);
            },
            [&](const View& inner) { return fromInnerZebra(inner, R); }));
    }

private:
    PipelineReading withSize(PipelineReading reading) const
    {
        reading.workingSize = prepared_.working.size();
        return reading;
    }

    PipelineReading fromInnerZebra(const View& inner, double R)
    {
        const Found<ZebraResult> innerZebra =
            steps_.record(Stage::InnerZebra, inner, [&] { return findInnerZebra(inner.image, R); });
        if (!innerZebra) return failed(innerZebra.code);
        const int modulesPerRing = 4 * innerZebra->count;
        logger().line(LogLevel::Trace, "modules per ring = ", modulesPerRing);

        // Start marker: as is, then perspective-corrected by the inner zebra.
        return asIsThenCorrected(
            inner, options_.firstTriesOnly,
            [&](const View& view) -> std::optional<View> {
                const CorrectedImage correction = steps_.record(Stage::PerspectiveCorrection1, view, [&] {
                    return perspectiveTransform1(StageInput{config_, view.image}, *innerZebra);
                });
                if (correction.image.empty()) return std::nullopt;
                return corrected(correction, view, Correction::Perspective1);
            },
            [&](const View& marked) { return fromStartMarker(marked, modulesPerRing, R); });
    }

    PipelineReading fromStartMarker(const View& marked, int modulesPerRing, double R)
    {
        const Found<std::vector<StartMarker>> candidates = steps_.record(
            Stage::StartMarker, marked, [&] { return detectStartMarker(marked.image, modulesPerRing, R); });
        if (!candidates) return failed(candidates.code);

        // Outer zebra: per candidate, best first, and per trial point on its bar.
        return eachUntilRead(*candidates, StartMarkerNotDetected, [&](const StartMarker& candidate) {
            const std::vector<cv::Point2d> trialPoints = outerZebraTrialPoints(marked.image, candidate);
            const PipelineReading reading =
                eachUntilRead(trialPoints, OuterZebraNotDetected, [&](const cv::Point2d& trialPoint) {
                    return fromOuterZebra(marked, modulesPerRing, candidate, trialPoint);
                });
            if (reading.code == Success || options_.firstTriesOnly) return reading;
            // A finger or a stain over the bar's end: the code's outer edge.
            const std::optional<cv::Point2d> edge = outerEdgeTrialPoint(marked.image, candidate, trialPoints);
            return edge ? fromOuterZebra(marked, modulesPerRing, candidate, *edge) : reading;
        }, options_.firstTriesOnly ? 1 : SIZE_MAX);
    }

    PipelineReading fromOuterZebra(const View& marked, int modulesPerRing, const StartMarker& candidate,
                                   const cv::Point2d& trialPoint)
    {
        const Found<OuterZebra> outer = steps_.record(Stage::OuterZebra, marked, [&] {
            return detectOuterZebra(marked.image, modulesPerRing, candidate, trialPoint);
        });
        if (!outer) return failed(outer.code);

        // Radial zebra: as is, then perspective-corrected by the outer
        // zebra, which also moves the start marker.
        StartMarker marker = outer->startMarker;
        return asIsThenCorrected(
            marked, options_.firstTriesOnly,
            [&](const View& view) -> std::optional<View> {
                const CorrectedImage correction = steps_.record(Stage::PerspectiveCorrection2, view, [&] {
                    return perspectiveTransform2(StageInput{config_, view.image}, marker, outer->zebra);
                });
                if (correction.image.empty()) return std::nullopt;
                return corrected(correction, view, Correction::Perspective2);
            },
            [&](const View& radial) { return fromRadialZebra(radial, modulesPerRing, marker); });
    }

    PipelineReading fromRadialZebra(const View& radial, int modulesPerRing, const StartMarker& marker)
    {
        const RadialZebraSearch search = makeRadialZebraSearch(radial.image, marker, modulesPerRing);
        const Found<RingGrid> grid =
            steps_.record(Stage::RadialZebra, radial, [&] { return detectRadialZebra(search); });
        const Corrections corrections =
            options_.weakCorrections && !mirrored_ ? Corrections::AlsoWeak : Corrections::Checked;
        PipelineReading reading =
            grid ? fromGrid(radial, modulesPerRing, marker, *grid, corrections) : failed(grid.code);
        if (reading.code == Success || options_.firstTriesOnly) return reading;

        // A stain or a finger over the radial zebra: the rings' own edges
        // give the grid. Only a grid other than the one that just failed
        // is a step of its own, so the failure reported stays the last met.
        const Found<RingGrid> edges = ringGridFromModuleEdges(search, modulesPerRing);
        if (!edges || (grid && sameGrid(*grid, *edges))) return reading;
        steps_.record(Stage::RadialZebra, radial, [&] { return edges; });
        // A grid guessed from the data itself takes no weak correction.
        return fromGrid(radial, modulesPerRing, marker, *edges, Corrections::Checked);
    }

    // Two grids that sample the same modules.
    static bool sameGrid(const RingGrid& a, const RingGrid& b)
    {
        const double pitch = a.ringCount > 1 ? (a.lastRadius - a.firstRadius) / (a.ringCount - 1) : 0;
        return a.ringCount == b.ringCount && std::abs(a.firstRadius - b.firstRadius) < pitch / 4 &&
               std::abs(a.lastRadius - b.lastRadius) < pitch / 4;
    }

    PipelineReading fromGrid(const View& radial, int modulesPerRing, const StartMarker& marker, const RingGrid& grid,
                             Corrections corrections)
    {
        // Final transform, grid reading and payload.
        Found<GridReading> payload = steps_.record(Stage::GridReading, radial, [&] {
            const WarpedRing warped(StageInput{config_, radial.image}, sourceImage(), radial.homography, marker);
            return readGridData(config_, warped.pixels(), modulesPerRing, marker.angle, grid, layouts_, corrections);
        });
        if (!payload) return failed(payload.code);

        PipelineReading reading;
        reading.code = Success;
        reading.payload = std::move(payload.value);
        reading.modulesPerRing = modulesPerRing;
        reading.grid = grid;
        reading.startMarker = marker;
        reading.homography = radial.homography;
        reading.mirrored = mirrored_;
        return reading;
    }

    // The working image is sampled only by the final transform: its mirror
    // image is made when a grid is first found, not for every frame that
    // the mirrored try rejects.
    const cv::Mat& sourceImage()
    {
        if (!mirrored_) return prepared_.working;
        if (mirroredSource_.empty()) cv::flip(prepared_.working, mirroredSource_, 1);
        return mirroredSource_;
    }

    const DecoderConfiguration& config_;
    const cv::Mat& image_;
    const WorkingImage& prepared_;
    const bool mirrored_;
    const PipelineOptions& options_;
    StepLog& steps_;
    const std::vector<std::int32_t> layouts_;
    cv::Mat mirroredSource_;
};

// The smallest zebra band, in working pixels, that the stages still read
// reliably; a reduced first try is made only when every hub it could find
// keeps its zebra at least this wide.
constexpr double kMinReducedZebra = 5.0;

// The width of the reduced first try of an image read at `size`, or 0
// when it is too small for one. The inner circle search accepts no hub
// below a sixteenth of the image's mean side, and the zebra bands are a
// sixth of the hub: both scale with the image, so the half size finds the
// same hubs, with bands of at least kMinReducedZebra. A hub handed over by
// the caller (`hubInWorking`, in working pixels) sets its own scale.
int reducedWidth(const cv::Size& size, std::optional<double> hubInWorking)
{
    constexpr int kReduction = 2;
    const double smallestHub = hubInWorking.value_or((size.width + size.height) / 2.0 / 16.0);
    return smallestHub / 6.0 / kReduction >= kMinReducedZebra ? size.width / kReduction : 0;
}

// Whether a failed read ended before the inner zebra was found.
bool innerZebraMissing(ResultCode code)
{
    return code == InnerCircleNotFound || code == PerspectiveMarkersNotDetected || code == WrongPerspectiveMarkerCount;
}

} // namespace

PipelineReading runPipeline(const DecoderConfiguration& config, const cv::Mat& image, const PipelineOptions& options)
{
    cv::Mat input = checkDecoderInput(config, image);
    // A black-and-white code is binarised and sampled in grey anyway:
    // enhancing one channel instead of three costs a third, and both sizes
    // below start from the one conversion.
    if (options.enhance && config.codeType == BlackAndWhite && input.channels() == 3)
        input = greyImage(input);
    const int fullWidth = options.maxWorkingWidth > 0 ? std::min(input.cols, options.maxWorkingWidth) : input.cols;
    const double toWorking = static_cast<double>(fullWidth) / input.cols;
    std::optional<double> hub;
    if (options.innerCircle)
        hub = toWorking * std::min(options.innerCircle->size.width, options.innerCircle->size.height) / 2.0;
    // Scale: a large image is read at half size first, where every stage
    // costs about a quarter; only a code found there but not read goes on
    // to the full size. An image whose half size holds no inner circle
    // holds none at full size either (the hub limits follow the image), so
    // it ends there.
    const cv::Size full(fullWidth, std::max(1, static_cast<int>(std::lround(input.rows * toWorking))));
    std::vector<int> widths;
    if (const int reduced = options.reducedFirst ? reducedWidth(full, hub) : 0; reduced > 0) widths.push_back(reduced);
    widths.push_back(fullWidth);
    if (options.firstTriesOnly) widths.resize(1);

    // Per orientation: as captured, then mirrored; per size within each,
    // the half size first. Each size is prepared once, when first needed.
    std::vector<WorkingImage> prepared(widths.size());
    StepLog steps(options.keepSteps);
    PipelineReading reading;
    // The hub, its ring and the inner zebra's evenly spaced notches look the
    // same in the mirror image: where none of the sizes found them, as
    // captured, the mirror image holds none either. Only what follows them
    // (the start marker's side, the data) can read mirrored.
    bool centreFound = false;
    for (const bool mirrored : {false, true}) {
        if (mirrored && (!options.tryMirrored || options.firstTriesOnly || !centreFound)) break;
        for (std::size_t size = 0; size < widths.size(); ++size) {
            if (size > 0)
                logger().line(LogLevel::Debug, "the half size found a code but did not read it; reading at full size");
            const bool reduced = widths[size] < fullWidth;
            if (prepared[size].binary.empty())
                prepared[size] = prepare(config, input, widths[size], reduced, options);
            steps.at(reduced, mirrored);
            reading = OrientationRead(config, image, prepared[size], mirrored, options, steps).run();
            if (reading.code == Success) break;
            centreFound = centreFound || !innerZebraMissing(reading.code);
            if (reading.code != InnerCircleNotFound) continue;
            // The hub is round: an image without one has none in its
            // mirror image either. Nor at full size where the half size
            // has none.
            if (!mirrored) {
                reading.steps = steps.take();
                return reading;
            }
            break;
        }
        if (reading.code == Success) break;
    }
    reading.steps = steps.take();
    return reading;
}

} // namespace orb
