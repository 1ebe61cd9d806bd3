#include "orb/pipeline.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

#include <opencv2/imgproc.hpp>

#include "orb/detection/inner_zebra.h"
#include "orb/detection/outer_zebra.h"
#include "orb/detection/radial_zebra.h"
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

namespace {

// A binarised working image and the transform that maps the source image
// onto it. Each retry point below makes a corrected view and tries again.
struct View {
    cv::Mat image;
    cv::Matx33d homography = cv::Matx33d::eye();
};

View corrected(const CorrectedImage& correction, const View& from)
{
    return {correction.image, correction.transform * from.homography};
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

// Every stage, in order, on one working size in one orientation. A stage
// returns what it found or why it failed; each loop is a retry point, and a
// failure anywhere below one goes on with that loop's next try. A
// correction is made only after the stage failed on the image as it was.
// The reported failure is always the last one met.
PipelineReading readOrientation(const DecoderConfiguration& config, const cv::Mat& image,
                                const WorkingImage& prepared, bool mirrored, const PipelineOptions& options)
{
    const cv::Mat& working = prepared.working;
    const std::vector<std::int32_t> layouts =
        options.layouts.empty() ? std::vector<std::int32_t>{config.layout} : options.layouts;

    PipelineReading reading;
    reading.workingSize = working.size();
    ResultCode& failure = reading.code;

    // The binarised image keeps what an attempt as captured drew into it;
    // the caller's pixels are never written, so the mirror images are new.
    cv::Mat captured = prepared.binary;
    if (mirrored) {
        captured = cv::Mat();
        cv::flip(prepared.binary, captured, 1);
    }
    // The working image is sampled only by the final transform: its mirror
    // image is made when a grid is first found, not for every frame that
    // the mirrored try rejects.
    cv::Mat source;
    const auto sourceImage = [&]() -> const cv::Mat& {
        if (!mirrored) return working;
        if (source.empty()) cv::flip(working, source, 1);
        return source;
    };

    // Inner circle.
    const Found<cv::RotatedRect> circle =
        options.innerCircle
            ? Found<cv::RotatedRect>{Success, inWorkingImage(*options.innerCircle, image.size(), working.size(), mirrored)}
            : findCircle(StageInput{config, captured}, prepared.reduced ? kReducedRimLoss : 0.0);
    if (!circle) {
        failure = circle.code;
        return reading;
    }
    const double R = std::max(circle->size.width, circle->size.height) / 2.0f;

    // Inner zebra: on the image as is, then affine-corrected by the inner
    // circle's ellipse (the affine fit replaces the identity).
    const View capturedView{captured};
    for (const bool affine : {false, true}) {
        const View inner =
            affine ? corrected(affineTransform(StageInput{config, captured}, *circle, R), capturedView) : capturedView;
        const Found<ZebraResult> innerZebra = findInnerZebra(inner.image, R);
        if (!innerZebra) {
            failure = innerZebra.code;
            continue;
        }
        const int modulesPerRing = 4 * innerZebra->count;
        logger().line(LogLevel::Trace, "modules per ring = ", modulesPerRing);

        // Start marker: as is, then perspective-corrected by the inner zebra.
        for (const bool perspective : {false, true}) {
            View marked = inner;
            if (perspective) {
                const CorrectedImage correction = perspectiveTransform1(StageInput{config, inner.image}, *innerZebra);
                if (correction.image.empty()) break;
                marked = corrected(correction, inner);
            }
            const Found<std::vector<StartMarker>> candidates =
                detectStartMarker(marked.image, modulesPerRing, R);
            if (!candidates) {
                failure = candidates.code;
                continue;
            }

            // Outer zebra: per candidate, best first, and per trial point on its bar.
            for (const StartMarker& candidate : *candidates) {
                for (const cv::Point2d& trialPoint : outerZebraTrialPoints(marked.image, candidate)) {
                    const Found<OuterZebra> outer =
                        detectOuterZebra(marked.image, modulesPerRing, candidate, trialPoint);
                    if (!outer) {
                        failure = outer.code;
                        continue;
                    }

                    // Radial zebra: as is, then perspective-corrected by the
                    // outer zebra, which also moves the start marker.
                    StartMarker marker = outer->startMarker;
                    for (const bool outerPerspective : {false, true}) {
                        View radial = marked;
                        if (outerPerspective) {
                            const CorrectedImage correction =
                                perspectiveTransform2(StageInput{config, marked.image}, marker, outer->zebra);
                            if (correction.image.empty()) break;
                            radial = corrected(correction, marked);
                        }
                        const Found<RingGrid> grid =
                            detectRadialZebra(makeRadialZebraSearch(radial.image, marker, modulesPerRing));
                        if (!grid) {
                            failure = grid.code;
                            continue;
                        }

                        // Final transform, grid reading and payload.
                        const WarpedRing warped(StageInput{config, radial.image}, sourceImage(),
                                                radial.homography, marker);
                        Found<GridReading> payload =
                            readGridData(config, warped.pixels(), modulesPerRing, marker.angle, *grid, layouts);
                        if (!payload) {
                            failure = payload.code;
                            continue;
                        }
                        reading.code = Success;
                        reading.payload = std::move(payload.value);
                        reading.modulesPerRing = modulesPerRing;
                        reading.grid = *grid;
                        reading.startMarker = marker;
                        reading.homography = radial.homography;
                        reading.mirrored = mirrored;
                        return reading;
                    }
                }
            }
        }
    }
    return reading;
}

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

} // namespace

PipelineReading runPipeline(const DecoderConfiguration& config, const cv::Mat& image, const PipelineOptions& options)
{
    cv::Mat input = checkDecoderInput(config, image);
    // A black-and-white code is binarised and sampled in grey anyway:
    // enhancing one channel instead of three costs a third, and both sizes
    // below start from the one conversion.
    if (options.enhance && config.codeType == BlackAndWhite && input.channels() == 3)
        cv::cvtColor(input, input, cv::COLOR_BGR2GRAY);
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

    // Per orientation: as captured, then mirrored; per size within each,
    // the half size first. Each size is prepared once, when first needed.
    std::vector<WorkingImage> prepared(widths.size());
    PipelineReading reading;
    for (const bool mirrored : {false, true}) {
        if (mirrored && !options.tryMirrored) break;
        for (std::size_t size = 0; size < widths.size(); ++size) {
            if (size > 0)
                logger().line(LogLevel::Debug, "the half size found a code but did not read it; reading at full size");
            if (prepared[size].binary.empty())
                prepared[size] = prepare(config, input, widths[size], size + 1 < widths.size(), options);
            reading = readOrientation(config, image, prepared[size], mirrored, options);
            if (reading.code == Success) return reading;
            if (reading.code != InnerCircleNotFound) continue;
            // The hub is round: an image without one has none in its
            // mirror image either. Nor at full size where the half size
            // has none.
            if (!mirrored) return reading;
            break;
        }
    }
    return reading;
}

} // namespace orb
