#include "orb/reader.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>

#include <opencv2/imgproc.hpp>

#include "orb/camera_read.h"
#include "orb/deblurring.h"
#include "orb/decoder.h"
#include "orb/found_codes.h"
#include "orb/finder/candidate_view.h"
#include "orb/finder/code_finder.h"
#include "orb/finder/data_rings.h"
#include "orb/geometry/preprocessing.h"
#include "orb/logger.h"
#include "orb/payload/module_geometry.h"
#include "orb/payload/module_layout.h"
#include "orb/pipeline.h"

namespace orb {

namespace {

constexpr int kOutlinePoints = 32;
// Positions of a read of the caller's own image need no further mapping.
const cv::Matx23d kSameImage(1, 0, 0, 0, 1, 0);

// The default layout first: a code in it costs no more than a single-layout read.
const std::vector<std::int32_t> kEveryLayout = {HorizontalSnakeSmall, Horizontal, Vertical,
                                                 VerticalSnake, HorizontalSnakeLarge, Scrambled};

// The public types carry the format's numbers, so the boundary is a cast.
static_assert(static_cast<int>(ReadError::CodeTypeMismatch) == CodeTypeMismatch);
static_assert(static_cast<int>(ReadError::TailInconsistent) == TailInconsistent);
static_assert(static_cast<int>(Layout::Scrambled) == Scrambled);

ReadError errorOf(ResultCode code) { return static_cast<ReadError>(code); }

// The requested types, each once and in order; colour only on a colour image.
std::vector<CodeType> codeTypesToTry(const std::vector<CodeType>& choice, const cv::Mat& image)
{
    std::vector<CodeType> types;
    for (const CodeType type : choice) {
        if (type != CodeType::BlackAndWhite && type != CodeType::Color) continue;
        if (type == CodeType::Color && image.channels() == 1) continue;
        if (std::find(types.begin(), types.end(), type) == types.end()) types.push_back(type);
    }
    return types;
}

// Where the steps of a read go when they are kept, and what is being read.
struct Trace {
    std::vector<TraceStep>* steps = nullptr; // null: not kept
    std::string image = "whole image";

    explicit operator bool() const { return steps != nullptr; }
    void addRun(const PipelineReading& reading, CodeType type, const cv::Size& size) const
    {
        if (!steps) return;
        for (const PipelineStep& step : reading.steps)
            steps->push_back({stageName(step.stage), image, size, type, step.mirrored, stepImage(step),
                              errorOf(step.result), 0, step.milliseconds});
    }
};

double millisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Maps a point of the warped image back into the caller's image: through
// the inverse homography into the working image, out of the mirror, and up
// from the reduced working size (pixel centres as the resize placed them).
cv::Point2f toImage(const cv::Point2d& warped, const cv::Matx33d& inverse, const PipelineReading& reading,
                    const cv::Size& imageSize, const cv::Matx23d& toCaller)
{
    const cv::Vec3d h = inverse * cv::Vec3d(warped.x, warped.y, 1.0);
    double x = h[0] / h[2];
    const double y = h[1] / h[2];
    const cv::Size working = reading.workingSize;
    if (reading.mirrored) x = working.width - 1 - x;
    const double sx = static_cast<double>(imageSize.width) / working.width;
    const double sy = static_cast<double>(imageSize.height) / working.height;
    const cv::Vec3d read((x + 0.5) * sx - 0.5, (y + 0.5) * sy - 0.5, 1.0);
    const cv::Vec2d caller = toCaller * read;
    return {static_cast<float>(caller[0]), static_cast<float>(caller[1])};
}

// `imageSize` is that of the image the pipeline read; `toCaller` maps its
// pixels into the caller's (a cut around a found code; identity otherwise).
CodePosition locate(const PipelineReading& reading, const cv::Size& imageSize,
                    const cv::Matx23d& toCaller = kSameImage)
{
    const cv::Matx33d inverse = reading.homography.inv();
    const cv::Point2d centre(reading.workingSize.width * 0.5, reading.workingSize.height * 0.5);
    const RingGrid& grid = reading.grid;
    // The outer zebra's outer edge lies a ring and a half beyond the middle
    // of the outermost data ring.
    const double pitch = grid.ringCount > 1 ? (grid.lastRadius - grid.firstRadius) / (grid.ringCount - 1) : 0;
    const double outerRadius = grid.lastRadius + 1.5 * pitch;

    CodePosition position;
    position.centre = toImage(centre, inverse, reading, imageSize, toCaller);
    for (int k = 0; k < kOutlinePoints; ++k) {
        const double angle = reading.startMarker.angle + k * kTwoPi / kOutlinePoints;
        const cv::Point2d point = centre + outerRadius * cv::Point2d(std::cos(angle), -std::sin(angle));
        position.outline.push_back(toImage(point, inverse, reading, imageSize, toCaller));
    }
    // Mirroring reverses the turn; keep the outline counter-clockwise on screen.
    if (reading.mirrored) std::reverse(position.outline.begin() + 1, position.outline.end());
    position.outerRing = cv::fitEllipse(position.outline);
    // The data rings begin two zebra bands (a sixth of the hub's radius
    // each) beyond the hub, half a pitch inside the first ring's middle.
    const double hubRadius = std::max(0.0, 0.75 * (grid.firstRadius - 0.5 * pitch));
    std::vector<cv::Point2f> rim;
    for (int k = 0; k < kOutlinePoints; ++k) {
        const double angle = k * kTwoPi / kOutlinePoints;
        rim.push_back(toImage(centre + hubRadius * cv::Point2d(std::cos(angle), std::sin(angle)), inverse, reading,
                              imageSize, toCaller));
    }
    position.hub = cv::fitEllipse(rim);
    return position;
}

// What one read needs besides the image: the types and the pipeline's options.
struct ReadPlan {
    std::vector<CodeType> types;
    PipelineOptions pipeline;
};

// The plan for `options`, or the error that makes them unusable.
Found<ReadPlan> planRead(const cv::Mat& image, const ReaderOptions& options)
{
    DecoderConfiguration config;
    checkDecoderInput(config, image); // throws for input no code type can take
    const auto layout = options.layout ? static_cast<std::int32_t>(*options.layout) : -1;
    if (options.layout && (layout < Horizontal || layout > Scrambled)) return {InvalidConfiguration, {}};
    ReadPlan plan;
    plan.types = codeTypesToTry(options.codeTypes, image);
    if (plan.types.empty()) return {CodeTypeMismatch, {}};
    plan.pipeline.layouts = options.layout ? std::vector<std::int32_t>{layout} : kEveryLayout;
    plan.pipeline.tryMirrored = options.tryMirrored;
    plan.pipeline.enhance = options.enhance;
    plan.pipeline.maxWorkingWidth = options.maxWorkingWidth;
    plan.pipeline.keepSteps = options.trace;
    return {Success, std::move(plan)};
}

// True when a failed read did not find the code's centre: the hub, its
// ring and (when the hub was handed over) the inner zebra. Those are black
// on white paper in both code types, and both binarisations agree on black
// and white, so neither the other code type nor more of the scene around
// the hub can bring them back; only the data rings differ between types.
bool centreMissing(ResultCode error, bool hubGiven)
{
    if (error == InnerCircleNotFound) return true;
    return hubGiven && (error == PerspectiveMarkersNotDetected || error == WrongPerspectiveMarkerCount);
}

// The search's reduced copies and local means, made on an image's first
// search and kept for the rest: the search with smears bridged and the one
// with dark and light swapped threshold the same means.
class SearchLevels {
public:
    explicit SearchLevels(cv::Mat grey, std::vector<FinderPass> passes = FinderOptions{}.passes)
        : grey_(std::move(grey)), passes_(std::move(passes))
    {}

    const FinderImage& image()
    {
        if (!image_) image_.emplace(grey_, passes_);
        return *image_;
    }

private:
    cv::Mat grey_; // as captured, whichever way round the frame is read
    std::vector<FinderPass> passes_; // made ready with the image
    std::optional<FinderImage> image_;
};

// The caller's image and, when something needs it, its grey version made
// once: the search works on grey, and so does a black-and-white read with
// enhancement, which converts first thing.
struct Frame {
    cv::Mat image;
    cv::Mat grey; // empty when not made
    // How the codes sought look in the image as captured: a swapped frame
    // seeks light-on-dark codes in the captured image's levels.
    Shade shade = Shade::DarkOnLight;
    std::shared_ptr<SearchLevels> levels; // null when there is no search
    // The part of the image the search sees; empty: all of it.
    cv::Rect searchArea;
};

// Whether a read of `type` may be handed the grey image: a black-and-white
// read that enhances converts to grey before anything else.
bool takesGrey(CodeType type, const PipelineOptions& pipeline)
{
    return type == CodeType::BlackAndWhite && pipeline.enhance;
}

Frame frameOf(const cv::Mat& image, const ReaderOptions& options, const ReadPlan& plan, bool wholeImage,
              const cv::Rect& searchArea = {})
{
    Frame frame{image, {}, Shade::DarkOnLight, nullptr, searchArea & cv::Rect(0, 0, image.cols, image.rows)};
    const bool wholeGrey = wholeImage && std::any_of(plan.types.begin(), plan.types.end(), [&](CodeType type) {
                               return takesGrey(type, plan.pipeline);
                           });
    if (!options.findCodes && !wholeGrey) return frame;
    frame.grey = greyImage(image);
    if (options.findCodes)
        frame.levels = std::make_shared<SearchLevels>(frame.searchArea.empty() ? frame.grey : frame.grey(frame.searchArea));
    return frame;
}

const cv::Mat& imageFor(const Frame& frame, CodeType type, const PipelineOptions& pipeline)
{
    return takesGrey(type, pipeline) && !frame.grey.empty() ? frame.grey : frame.image;
}

// Runs the pipeline for each code type until one reads, or until a failure
// rules the code out for every type. `imageOf(type)` is the image a type's
// read takes (all of one size); the position is mapped through `toCaller`.
template <typename ImageOf>
ReadResult readWith(const ImageOf& imageOf, const ReadPlan& plan, const PipelineOptions& pipeline, const Trace& trace,
                    const cv::Matx23d& toCaller = kSameImage)
{
    ReadResult result;
    DecoderConfiguration config;
    for (const CodeType type : plan.types) {
        config.codeType = static_cast<std::int32_t>(type);
        const cv::Mat image = imageOf(type);
        const PipelineReading reading = runPipeline(config, image, pipeline);
        trace.addRun(reading, type, image.size());
        result.error = errorOf(reading.code);
        if (centreMissing(reading.code, pipeline.innerCircle.has_value())) break;
        if (reading.code != Success) continue;

        logDecodedCode(reading);
        const GridReading& payload = reading.payload;
        result.bytes.assign(payload.text.begin(), payload.text.end());
        result.dataType = static_cast<DataType>(payload.dataType);
        result.eccType = static_cast<EccType>(payload.eccType);
        result.layout = static_cast<Layout>(payload.layout);
        result.codeType = type;
        result.modulesPerRing = reading.modulesPerRing;
        result.ringCount = reading.grid.ringCount;
        result.mirrored = reading.mirrored;
        result.correctedErrors = payload.correctedErrors;
        result.erasures = payload.erasures;
        result.position = locate(reading, image.size(), toCaller);
        return result;
    }
    return result;
}

// Share of the samples just inside a disc's edge that, dark, tell a code
// going on past it: data rings and zebras are about half dark, the quiet
// zone of a code that fits is light.
constexpr double kDarkPastDisc = 0.3;

// Whether the code around a found hub seems to go on past a disc of
// `discRadius` hub radii: rays of the grey image just inside the disc's
// edge (where the cut puts it: a circle, or for a hub the cut stretches
// round the hub's own ellipse), against the white of the hub itself. A few
// hundred pixels instead of a cut and a read that fails for want of the
// outer zebra.
bool runsPastDisc(const cv::Mat& grey, const CodeCandidate& candidate, double discRadius,
                  const CandidateViewOptions& cutting)
{
    constexpr int kRays = 48;
    const cv::RotatedRect& hub = candidate.hub;
    const double width = hub.size.width / 2.0, height = hub.size.height / 2.0;
    const double turn = hub.angle * CV_PI / 180;
    const cv::Point2d along(std::cos(turn), std::sin(turn)), across(-std::sin(turn), std::cos(turn));
    const bool round = std::min(width, height) >= cutting.roundAxisRatio * std::max(width, height);
    const cv::Rect inside(0, 0, grey.cols, grey.rows);
    std::vector<int> white, edge;
    const auto sample = [&](const cv::Point2d& offset, std::vector<int>& into) {
        const cv::Point pixel(cvRound(candidate.centre.x + offset.x), cvRound(candidate.centre.y + offset.y));
        if (inside.contains(pixel)) into.push_back(grey.at<std::uint8_t>(pixel));
    };
    for (int k = 0; k < kRays; ++k) {
        const double angle = k * kTwoPi / kRays;
        const cv::Point2d rim = width * std::cos(angle) * along + height * std::sin(angle) * across;
        const cv::Point2d ray = round ? candidate.hubRadius * cv::Point2d(std::cos(angle), std::sin(angle)) : rim;
        // Between the dot (a third of the hub, off centre by at most a quarter) and the hub's rim.
        sample(0.75 * rim, white);
        for (const double share : {discRadius - 0.15, discRadius - 0.05}) sample(share * ray, edge);
    }
    if (white.empty() || edge.empty()) return false;
    std::nth_element(white.begin(), white.begin() + static_cast<std::ptrdiff_t>(white.size() / 2), white.end());
    const double darkBelow = 0.6 * white[white.size() / 2];
    const auto dark = std::count_if(edge.begin(), edge.end(), [&](int value) { return value < darkBelow; });
    return static_cast<double>(dark) > kDarkPastDisc * static_cast<double>(edge.size());
}

// The cuts of one found place, each made on first use and kept for the
// rest of the place's reads: the chain's, its retry in every type and
// orientation, and the camera's.
class PlaceCuts {
public:
    PlaceCuts(const Frame& frame, const CodeCandidate& candidate)
        : frame_(frame), candidate_(candidate), grey_(discs()), colour_(discs())
    {}

    std::size_t discs() const { return cutting_.discRadii.size(); }
    const CandidateViewOptions& cutting() const { return cutting_; }

    // The discs in the order to read them: smallest first, but a disc the
    // code seems to run past after the larger ones (still read, in case the
    // dark at its edge was the scene's).
    const std::vector<std::size_t>& discOrder()
    {
        if (!order_.empty()) return order_;
        std::vector<std::size_t> later;
        for (std::size_t disc = 0; disc < discs(); ++disc) {
            const bool past = disc + 1 < discs() && hasGrey() &&
                              runsPastDisc(frame_.grey, candidate_, cutting_.discRadii[disc], cutting_);
            (past ? later : order_).push_back(disc);
        }
        order_.insert(order_.end(), later.begin(), later.end());
        return order_;
    }
    bool hasGrey() const { return !frame_.grey.empty(); }

    // The cut for disc `disc` (an index into the disc radii, smallest first)
    // of the grey image or of the image as given.
    const CandidateView& view(std::size_t disc, bool fromGrey)
    {
        std::optional<CandidateView>& view = (fromGrey ? grey_ : colour_)[disc];
        if (!view) view = cutCandidate(fromGrey ? frame_.grey : frame_.image, candidate_, cutting_.discRadii[disc], cutting_);
        return *view;
    }

private:
    const Frame& frame_;
    const CodeCandidate& candidate_;
    CandidateViewOptions cutting_;
    std::vector<std::optional<CandidateView>> grey_, colour_;
    std::vector<std::size_t> order_;
};

// Reads one found place at each disc size in turn, smallest first (but
// see discOrder), until one reads: a cut around its hub with the scene beyond the disc painted
// white. The hub is handed over, so the chain's own inner circle search
// cannot wander off.
ReadResult readCandidateDiscs(PlaceCuts& cuts, const ReadPlan& plan, const Trace& trace)
{
    ReadResult result;
    for (const std::size_t disc : cuts.discOrder()) {
        // A black-and-white read that enhances turns the cut grey first, so
        // it takes the grey image's cut: a third of the warping and filtering.
        const auto viewFor = [&](CodeType type) -> const CandidateView& {
            return cuts.view(disc, takesGrey(type, plan.pipeline));
        };
        const CandidateView& first = viewFor(plan.types.front());
        if (first.image.empty()) continue;
        PipelineOptions pipeline = plan.pipeline;
        pipeline.innerCircle = first.hub;
        pipeline.maxWorkingWidth = 0; // the cut already has the size the chain reads well
        result = readWith([&](CodeType type) { return viewFor(type).image; }, plan, pipeline, trace, first.toSource);
        // A larger disc adds only scene beyond the centre that was not there.
        if (result || centreMissing(static_cast<ResultCode>(result.error), true)) return result;
    }
    return result;
}

// The common case of `plan`: its first code type, as captured.
ReadPlan commonCaseOf(const ReadPlan& plan)
{
    ReadPlan common = plan;
    common.types.resize(1);
    common.pipeline.tryMirrored = false;
    return common;
}

// Reads one found place the chain's way. A disc too small for the code hides its outer
// zebra, and no mirror image or other code type brings that back: the
// common case, the first code type as captured, goes through the discs
// first, and only a place that still fails gets every type and orientation.
ReadResult readChainCut(PlaceCuts& cuts, const ReadPlan& plan, const Trace& trace)
{
    if (plan.types.size() == 1 && !plan.pipeline.tryMirrored) return readCandidateDiscs(cuts, plan, trace);
    ReadResult result = readCandidateDiscs(cuts, commonCaseOf(plan), trace);
    if (result || centreMissing(static_cast<ResultCode>(result.error), true)) return result;
    return readCandidateDiscs(cuts, plan, trace);
}

// Reads a found place the camera way (camera_read.h): each repaired view
// of the grey cut, black-and-white only, for each disc size. A view whose
// centre is lost at one disc loses it at the larger ones too.
ReadResult readCameraCut(PlaceCuts& cuts, const ReadPlan& plan, const Trace& trace)
{
    ReadResult result;
    if (!cuts.hasGrey() || std::find(plan.types.begin(), plan.types.end(), CodeType::BlackAndWhite) == plan.types.end())
        return result;
    ReadPlan blackAndWhite = plan;
    blackAndWhite.types = {CodeType::BlackAndWhite};
    std::vector<bool> lost;
    std::optional<CentreBlur> blur; // the same hub at the same scale in every cut: measured once
    for (std::size_t disc = 0; disc < cuts.discs(); ++disc) {
        // Every view lost its centre: no larger disc brings it back.
        if (!lost.empty() && std::all_of(lost.begin(), lost.end(), [](bool gone) { return gone; })) break;
        const CandidateView& cut = cuts.view(disc, true);
        if (cut.image.empty()) continue;
        PipelineOptions pipeline = plan.pipeline;
        pipeline.maxWorkingWidth = 0;
        if (!blur) blur = measuredCentreBlur(cut.image, cut.hub);
        const std::vector<CameraView> views = cameraViews(cut.image, cut.hub, *blur);
        lost.resize(views.size(), false);
        for (std::size_t v = 0; v < views.size(); ++v) {
            if (lost[v]) continue;
            pipeline.innerCircle = views[v].hub;
            ReadResult read = readWith([&](CodeType) { return views[v].image; }, blackAndWhite, pipeline, trace,
                                       cut.toSource);
            if (read) return read;
            // Undoing a blur spreads the white painted beyond the disc into
            // the centre, so a larger disc may bring it back.
            lost[v] = centreMissing(static_cast<ResultCode>(read.error), true) && !undoesBlur(views[v].repair);
            result = std::move(read);
        }
    }
    return result;
}

// How much of the reader's effort a found place gets. Every try of a place
// that does not read is spent in vain, and a scene of code-like things
// (print, targets, rings) would pay for each one's every type, orientation
// and repaired view: seconds per image. The places best found get the
// whole effort; once a few of them have failed, the rest of the image's
// places get the common case alone, which is what reads a code the search
// finds among clutter.
enum class Effort { Whole, CommonCase };

// Places of one polarity of an image, over all its searches, that
// fail with the whole effort before the rest get the common case alone.
// A code is nearly always among the first places its search finds.
constexpr int kWholeEffortFailures = 4;

class EffortAllowance {
public:
    Effort next() const { return failed_ < kWholeEffortFailures ? Effort::Whole : Effort::CommonCase; }
    void failedWith(Effort effort)
    {
        if (effort == Effort::Whole) ++failed_;
    }

private:
    int failed_ = 0;
};

// Reads one found place: the chain's way first, so whatever reads that way
// costs no more; the camera way only where it fails. With the common case
// alone: the chain's way in the first code type as captured.
ReadResult readCandidate(const Frame& frame, const CodeCandidate& candidate, const ReadPlan& plan, const Trace& trace,
                         Effort effort)
{
    PlaceCuts cuts(frame, candidate);
    if (effort == Effort::CommonCase) return readCandidateDiscs(cuts, commonCaseOf(plan), trace);
    ReadResult result = readChainCut(cuts, plan, trace);
    if (result) return result;
    ReadResult camera = readCameraCut(cuts, plan, trace);
    return camera ? camera : result;
}

// True when `centre` lies on a code already read (its own rings can look
// like a centre, and the same code is found by several passes).
bool onReadCode(const std::vector<ReadResult>& read, const cv::Point2f& centre)
{
    return std::any_of(read.begin(), read.end(), [&](const ReadResult& code) {
        return cv::pointPolygonTest(code.position.outline, centre, false) >= 0;
    });
}

// A failed place where the finder put it: its hub, as the code's rings are unknown.
ReadResult failedPlace(ReadResult failure, const CodeCandidate& candidate)
{
    failure.position.centre = candidate.centre;
    failure.position.outerRing = candidate.hub;
    failure.position.hub = candidate.hub;
    const cv::RotatedRect& hub = candidate.hub;
    const double turn = hub.angle * CV_PI / 180;
    for (int k = 0; k < kOutlinePoints; ++k) {
        const double angle = k * kTwoPi / kOutlinePoints;
        const double x = 0.5 * hub.size.width * std::cos(angle), y = 0.5 * hub.size.height * std::sin(angle);
        failure.position.outline.emplace_back(hub.center.x + x * std::cos(turn) - y * std::sin(turn),
                                              hub.center.y + x * std::sin(turn) + y * std::cos(turn));
    }
    return failure;
}

// Which of the finder's searches a read asks for.
enum class Search {
    Every,   // every default pass, their places merged
    Coarse,  // the coarsest default pass alone
    Fine,    // the other default passes
    Bridged, // the default sizes with the gaps a smear wears into the hub's ring bridged
};

std::vector<FinderPass> passesOf(Search search)
{
    std::vector<FinderPass> passes = FinderOptions{}.passes;
    const auto coarsest = std::min_element(passes.begin(), passes.end(), [](const FinderPass& a, const FinderPass& b) {
        return a.longSide < b.longSide;
    });
    switch (search) {
    case Search::Every: return passes;
    case Search::Coarse: return {*coarsest};
    case Search::Fine: passes.erase(coarsest); return passes;
    case Search::Bridged: return smearPasses();
    }
    return passes;
}

const char* viewOf(Search search)
{
    switch (search) {
    case Search::Every: return "full size";
    case Search::Coarse: return "full size, coarse pass";
    case Search::Fine: return "full size, fine passes";
    case Search::Bridged: return "full size, gaps bridged";
    }
    return "full size";
}

// The places the search finds, best first. Every place comes back: the
// reads that fail bound the work, not the places, or an image of many codes
// would lose some. Places already `known` do not come back: for the bridged
// search, any within half a known hub radius; for the fine passes after the
// coarse one, only those a known place outscores, as the merged search of
// both would have kept that one.
// With `passes`, the search runs those instead of the search's own.
std::vector<CodeCandidate> findPlaces(const Frame& frame, const Trace& trace, Search search = Search::Every,
                                      const std::vector<CodeCandidate>& known = {},
                                      const std::vector<FinderPass>& passes = {})
{
    FinderOptions finding;
    finding.maxCandidates = std::numeric_limits<int>::max();
    finding.passes = passes.empty() ? passesOf(search) : passes;
    const auto start = std::chrono::steady_clock::now();
    std::vector<CodeCandidate> candidates = findCodeCandidates(frame.levels->image(), finding, frame.shade);
    std::erase_if(candidates, [&](const CodeCandidate& candidate) {
        return std::any_of(known.begin(), known.end(), [&](const CodeCandidate& other) {
            const double apart = cv::norm(other.centre - candidate.centre);
            if (search == Search::Fine)
                return other.score > candidate.score && apart < 0.5 * std::max(other.hubRadius, candidate.hubRadius);
            return apart < 0.5 * other.hubRadius;
        });
    });
    if (trace) {
        const int places = static_cast<int>(candidates.size());
        trace.steps->push_back({"finder search", trace.image, frame.grey.size(), std::nullopt, false, viewOf(search),
                                places > 0 ? ReadError::Success : ReadError::InnerCircleNotFound, places,
                                millisecondsSince(start)});
    }
    return candidates;
}

// findPlaces in the image's pixels, when the search sees only a part of it.
std::vector<CodeCandidate> placesIn(const Frame& frame, const Trace& trace, Search search = Search::Every,
                                    const std::vector<CodeCandidate>& known = {})
{
    const cv::Point2f corner(frame.searchArea.tl());
    const auto moved = [](std::vector<CodeCandidate> places, const cv::Point2f& shift) {
        for (CodeCandidate& place : places) {
            place.centre += shift;
            place.hub.center += shift;
        }
        return places;
    };
    if (corner == cv::Point2f()) return findPlaces(frame, trace, search, known);
    return moved(findPlaces(frame, trace, search, moved(known, -corner)), corner);
}

// Reads the found places best first until `enough` codes are read or
// `options.maxCandidates` places have failed; each failed place goes to
// `failures` when given, the last to `lastFailure`. True when the failures
// stopped it with places left.
bool readFound(const Frame& frame, const std::vector<CodeCandidate>& candidates, const ReaderOptions& options,
               const ReadPlan& plan, std::size_t enough, const Trace& trace, std::vector<ReadResult>& read,
               std::optional<ReadResult>& lastFailure, std::vector<ReadResult>* failures, EffortAllowance& effort)
{
    const int allowed = std::max(0, options.maxCandidates);
    int failed = 0;
    int place = 0;
    for (const CodeCandidate& candidate : candidates) {
        ++place;
        if (onReadCode(read, candidate.centre)) continue;
        if (failed >= allowed) {
            logger().line(LogLevel::Info, "readCodes: stopped after ", failed, " places that did not read, of ",
                          candidates.size(), " found; ", read.size(), " codes read");
            return true;
        }
        Trace here = trace;
        if (trace)
            here.image = (trace.image == "whole image" ? std::string() : trace.image + ", ") + "place " +
                         std::to_string(place) + " at " + std::to_string(cvRound(candidate.centre.x)) + "," +
                         std::to_string(cvRound(candidate.centre.y));
        // A hub with nothing round it that a code has costs no cut; it
        // fails as a read of it would.
        ReadResult result;
        const Effort given = effort.next();
        if (showsDataRings(frame.grey, candidate)) {
            result = readCandidate(frame, candidate, plan, here, given);
            if (!result) effort.failedWith(given);
        } else {
            result.error = ReadError::PerspectiveMarkersNotDetected;
        }
        if (!result) {
            ++failed;
            if (failures) failures->push_back(failedPlace(result, candidate));
            lastFailure = std::move(result);
            continue;
        }
        // Two places can lead to one code: keep it once.
        if (onReadCode(read, result.position.centre)) continue;
        read.push_back(std::move(result));
        if (read.size() >= enough) return false;
    }
    return false;
}

// The chain's inner circle search on the whole image takes hubs of at least
// a sixteenth of the image's mean side; half that, as a share of the mean
// side, leaves room for the finder seeing the hub's rim otherwise.
constexpr double kLeastWholeImageHub = 1.0 / 32;

// Whether the whole image is worth reading before the places found: a hub
// large enough for the chain's own search was found. A code far smaller
// than the image, wherever it is, is read from its place at less cost.
bool wholeImageFirst(const std::vector<CodeCandidate>& places, const cv::Size& size)
{
    const double least = kLeastWholeImageHub * (size.width + size.height) / 2.0;
    return std::any_of(places.begin(), places.end(),
                       [&](const CodeCandidate& place) { return place.hubRadius >= least; });
}

// The chain's first tries on the image as a whole, first code type only:
// a code that fills and centres a clean image reads so at a small share of
// a search's cost, and a failure (most often no hub at half size) costs
// little more than the half-size binarisation.
ReadResult readWholeQuickly(const Frame& frame, const ReadPlan& plan, const Trace& trace)
{
    ReadPlan first = plan;
    first.types.resize(1);
    first.pipeline.firstTriesOnly = true;
    return readWith([&](CodeType type) { return imageFor(frame, type, first.pipeline); }, first, first.pipeline,
                    trace);
}

// Whether any pixel of `grey` can differ from its surroundings by the
// finder's threshold: where the whole image spans fewer grey levels, none
// is darker or lighter than a local mean by that much, and no search of it
// finds a place.
bool standsOut(const cv::Mat& grey)
{
    double least = 0, most = 0;
    cv::minMaxLoc(grey, &least, &most);
    return most - least >= std::floor(FinderOptions{}.thresholdOffset);
}

// The frame as the search for further codes sees it once `code` has read:
// the code's disc, and a ring pitch of quiet zone round it, painted with the
// paper's grey just outside it. Its rings are most of what a search of it
// traces, and no other code's centre can lie inside it. The reads of the
// places found still cut the grey image as captured. None when nothing
// beyond the code stands out enough for the search to find a place.
std::optional<Frame> beyondCode(const Frame& frame, const ReadResult& code)
{
    const CodePosition& position = code.position;
    if (frame.grey.empty() || position.outline.size() < 3 || code.ringCount <= 0) return frame;
    // The outline is the outer zebra's outer edge, ring count + 5 pitches
    // from the centre (hub 3, inner zebra, the rings, outer zebra).
    const double pitchShare = 1.0 / (code.ringCount + 5);
    std::vector<cv::Point> disc;
    std::vector<int> paper;
    const cv::Rect inside(0, 0, frame.grey.cols, frame.grey.rows);
    for (const cv::Point2f& edge : position.outline) {
        const cv::Point2f out = edge - position.centre;
        disc.push_back(position.centre + out * static_cast<float>(1 + pitchShare));
        const cv::Point quiet = position.centre + out * static_cast<float>(1 + 2 * pitchShare);
        if (inside.contains(quiet)) paper.push_back(frame.grey.at<std::uint8_t>(quiet));
    }
    if (paper.empty()) return frame;
    std::nth_element(paper.begin(), paper.begin() + static_cast<std::ptrdiff_t>(paper.size() / 2), paper.end());
    cv::Mat searched = frame.grey.clone();
    cv::fillPoly(searched, std::vector<std::vector<cv::Point>>{disc}, cv::Scalar(paper[paper.size() / 2]));
    if (!frame.searchArea.empty()) searched = searched(frame.searchArea);
    if (!standsOut(searched)) return std::nullopt;
    Frame masked = frame;
    masked.levels = std::make_shared<SearchLevels>(searched);
    return masked;
}

Shade otherShade(Shade shade) { return shade == Shade::DarkOnLight ? Shade::LightOnDark : Shade::DarkOnLight; }

// The frame as the search for codes printed light on dark sees it: the
// captured image's levels, thresholded the other way round. Nothing of the
// image is swapped for that.
Frame swappedSearch(const Frame& frame)
{
    Frame searched = frame;
    searched.shade = otherShade(frame.shade);
    return searched;
}

// The frame with dark and light swapped, for reading codes printed light
// on dark: made only when there is something to read in it, as most
// frames have no such code and the search finds no place in them.
Frame swappedFrame(const Frame& frame)
{
    return {swappedPolarity(frame.image), frame.grey.empty() ? cv::Mat() : swappedPolarity(frame.grey),
            otherShade(frame.shade), frame.levels, frame.searchArea};
}

// The frame with the paper's light evened out, in grey (evenPaperLight):
// along a hard shadow's edge the search's local threshold and the cut's
// flattening both darken a band that cuts through a hub lying across it.
constexpr int kEvenLightSide = 1280, kEvenLightReach = 41;

Frame evenLitFrame(const Frame& frame)
{
    const cv::Mat even = evenPaperLight(frame.grey, kEvenLightSide, kEvenLightReach);
    return {even, even, frame.shade, std::make_shared<SearchLevels>(even), cv::Rect()};
}

// `place` found in an image reduced by `scale`, in the full image's pixels.
CodeCandidate enlarged(CodeCandidate place, double scale)
{
    const auto full = [&](float v) { return static_cast<float>((v + 0.5) / scale - 0.5); };
    place.centre = {full(place.centre.x), full(place.centre.y)};
    place.hub.center = {full(place.hub.center.x), full(place.hub.center.y)};
    place.hub.size = {static_cast<float>(place.hub.size.width / scale), static_cast<float>(place.hub.size.height / scale)};
    place.hubRadius /= scale;
    place.maxCodeRadius /= scale;
    return place;
}

// The places a search of the frame with the light evened out finds, in the
// frame's pixels. A frame without a code pays for this search, so it is
// the coarse pass alone, on a copy evened at that pass's size: about a
// fifth of the search of the frame as captured.
std::vector<CodeCandidate> evenLightPlaces(const Frame& frame, const Trace& trace)
{
    const FinderPass pass = FinderOptions{}.passes.back();
    // The plain search's own reduction to the pass's size, when it saw the
    // whole frame: reducing again would cost more than the search.
    cv::Mat reduced;
    if (frame.levels && frame.searchArea.empty()) reduced = frame.levels->image().level(pass).reduced;
    if (reduced.empty()) {
        const double shrink =
            std::min(1.0, static_cast<double>(pass.longSide) / std::max(frame.grey.cols, frame.grey.rows));
        reduced = shrink < 1 ? shrunkBy(frame.grey, shrink) : frame.grey;
    }
    const double scale = static_cast<double>(reduced.cols) / frame.grey.cols;
    const cv::Mat even = evenPaperLight(reduced, pass.longSide, kEvenLightReach * pass.longSide / kEvenLightSide);
    const Frame small{even, even, frame.shade, std::make_shared<SearchLevels>(even, std::vector{pass}), cv::Rect()};
    std::vector<CodeCandidate> places = findPlaces(small, trace, Search::Every, {}, {pass});
    for (CodeCandidate& place : places) place = enlarged(place, scale);
    // A search held to an area keeps to it here too.
    if (!frame.searchArea.empty())
        std::erase_if(places, [&](const CodeCandidate& place) { return !frame.searchArea.contains(place.centre); });
    return places;
}

// The trace of the try with the light evened out names that image.
Trace evenLitTrace(const Trace& trace)
{
    Trace evened = trace;
    evened.image = "light evened";
    return evened;
}

// The plan for the image with dark and light swapped: a hypothesis beyond
// the image as given, so its reads stand only on well-checked corrections.
ReadPlan swappedPlan(const ReadPlan& plan)
{
    ReadPlan swapped = plan;
    swapped.pipeline.weakCorrections = false;
    return swapped;
}

// The trace of the try with dark and light swapped names that image.
Trace swappedTrace(const Trace& trace)
{
    Trace swapped = trace;
    swapped.image = "swapped polarity";
    return swapped;
}

// Which polarity of the frame a search tries. The swapped try is for codes
// printed light on dark, which are rare, and an image without a code pays
// for all of it: it bridges no smears, searches with the fine passes alone
// (they find light-on-dark codes from the smallest to those filling the
// frame, in uneven light too), and reads the whole image only behind a hub
// the chain's own search can take.
enum class Polarity { AsGiven, Swapped };

// searchCodes on one polarity of the frame as captured; failed places go
// to `failures` when given. True when the candidate limit stopped the search.
bool searchFrame(const Frame& captured, const ReaderOptions& options, const ReadPlan& plan, std::size_t maxCodes,
                 bool wholeImage, const Trace& trace, std::vector<ReadResult>& read, ReadResult& failure,
                 std::vector<ReadResult>* failures, Polarity polarity)
{
    const bool asGiven = polarity == Polarity::AsGiven;
    const Frame frame = asGiven ? captured : swappedSearch(captured);
    // The images the reads take: swapped on the first read that needs them.
    std::optional<Frame> swapped;
    const auto readable = [&]() -> const Frame& {
        if (asGiven) return captured;
        if (!swapped) swapped = swappedFrame(captured);
        return *swapped;
    };
    EffortAllowance effort;
    std::optional<ReadResult> wholeFailure, placeFailure;
    const auto readWhole = [&] {
        ReadResult whole = readWith([&](CodeType type) { return imageFor(readable(), type, plan.pipeline); }, plan,
                                    plan.pipeline, trace);
        if (whole) read.push_back(std::move(whole));
        else wholeFailure = std::move(whole);
    };
    bool limited = false;
    if (!options.findCodes) {
        if (wholeImage) readWhole();
    } else {
        // A code that fills and centres a clean image reads with the chain's
        // first tries at a fraction of a search's cost, so they go first.
        // The rest of the chain's tries wait for the search, which tells
        // whether the whole image is worth them before the places it found:
        // a photograph is better served by its places.
        bool wholeRead = false;
        const auto readWholeOnce = [&] {
            if (wholeImage && !wholeRead) readWhole();
            wholeRead = true;
        };
        // A code the chain reads straight away goes first, and the search
        // for any others looks only beyond it.
        std::optional<Frame> searched = frame;
        if (asGiven && wholeImage) {
            ReadResult quick = readWholeQuickly(frame, plan, trace);
            if (quick) {
                if (maxCodes > 1) searched = beyondCode(frame, quick);
                read.push_back(std::move(quick));
                wholeRead = true;
            } else if (quick.error == ReadError::InnerCircleNotFound) {
                // The whole read would end there too: its first try is this one.
                wholeFailure = std::move(quick);
                wholeRead = true;
            }
        }
        if (read.size() < maxCodes) {
            // One code wanted: the coarse pass alone finds all but the smallest
            // codes at a fraction of the fine one's cost, so its places are read
            // first and the fine pass runs only when none of them reads. Each
            // gets its own allowance of failed places, so neither hides a code
            // the merged search would read. (A caller that lists failed places
            // gets the merged search: each place once.)
            const bool staged = maxCodes == 1 && !failures;
            std::vector<CodeCandidate> places;
            // With dark and light swapped, the fine passes alone (see Polarity).
            const std::vector<Search> searches = !asGiven ? std::vector{Search::Fine}
                                                 : staged ? std::vector{Search::Coarse, Search::Fine}
                                                          : std::vector{Search::Every};
            for (const Search search : searches) {
                if (read.size() >= maxCodes || !searched) break;
                std::vector<CodeCandidate> found = placesIn(*searched, trace, search, places);
                if (wholeImageFirst(found, frame.image.size())) readWholeOnce();
                if (read.size() < maxCodes && !found.empty())
                    limited = readFound(readable(), found, options, plan, maxCodes, trace, read, placeFailure,
                                        failures, effort) ||
                              limited;
                places.insert(places.end(), found.begin(), found.end());
            }
            // The search can miss a code the chain reads (its dot lost to
            // blur): when nothing else read, the whole image still gets its
            // read. Not when the search found no place at all: a photograph
            // without a code would pay for every type, size and correction
            // of the chain, and of codes blurred, tilted or compressed in
            // the frame none that the search missed entirely read whole.
            if (read.empty() && asGiven && !places.empty()) readWholeOnce();
            // A smear wears gaps into the hub's ring and the hub joins the
            // white beyond: when nothing read, once more with them bridged.
            if (read.empty() && !limited && asGiven)
                limited = readFound(frame, placesIn(frame, trace, Search::Bridged, places), options, plan, maxCodes,
                                    trace, read, placeFailure, failures, effort);
            // A hard shadow across a hub: when nothing read, once more with
            // the light evened out, black-and-white only as the image is grey.
            if (read.empty() && !limited && asGiven && !frame.grey.empty()) {
                ReadPlan grey = plan;
                std::erase(grey.types, CodeType::Color);
                if (!grey.types.empty()) {
                    const Trace evenTrace = evenLitTrace(trace);
                    // The places the even light shows, then those that failed
                    // above (the even light's hub can be the better one, or
                    // the worse at its coarse size); reported once.
                    std::vector<CodeCandidate> evenPlaces = evenLightPlaces(frame, evenTrace);
                    evenPlaces.insert(evenPlaces.end(), places.begin(), places.end());
                    if (!evenPlaces.empty()) {
                        const Frame even = evenLitFrame(frame);
                        limited = readFound(even, evenPlaces, options, grey, maxCodes, evenTrace, read, placeFailure,
                                            nullptr, effort);
                    }
                }
            }
        }
    }
    // The reason a place failed tells more than the whole image's.
    if (placeFailure) failure = std::move(*placeFailure);
    else if (wholeFailure) failure = std::move(*wholeFailure);
    return limited;
}

// readCode on one polarity of the frame.
ReadResult readFrame(const Frame& frame, const ReaderOptions& options, const ReadPlan& plan, bool wholeImage,
                     const Trace& trace, Polarity polarity)
{
    std::vector<ReadResult> read;
    ReadResult failure;
    failure.error = ReadError::InnerCircleNotFound; // what a read that finds nothing reports
    searchFrame(frame, options, plan, 1, wholeImage, trace, read, failure, nullptr, polarity);
    return read.empty() ? failure : std::move(read.front());
}

// readCode, with or without the read of the image as a whole first. An
// image in which nothing reads is read once more with dark and light
// swapped: a light-on-dark code has no white hub for either the finder or
// the chain, and an image that reads pays nothing for the second try.
ReadResult readOne(const cv::Mat& image, const ReaderOptions& options, bool wholeImage,
                   const cv::Rect& searchArea = {})
{
    const Found<ReadPlan> planned = planRead(image, options);
    ReadResult result;
    result.error = errorOf(planned.code);
    if (!planned) return result;
    const ReadPlan& plan = *planned;
    std::vector<TraceStep> steps;
    const Trace trace{options.trace ? &steps : nullptr};
    result.error = ReadError::InnerCircleNotFound; // what a read that finds nothing reports
    const Frame frame = frameOf(image, options, plan, wholeImage, searchArea);
    result = readFrame(frame, options, plan, wholeImage, trace, Polarity::AsGiven);
    if (!result && (wholeImage || options.findCodes)) {
        ReadResult swapped =
            readFrame(frame, options, swappedPlan(plan), wholeImage, swappedTrace(trace),
                      Polarity::Swapped);
        if (swapped) result = std::move(swapped);
    }
    result.trace = std::move(steps);
    return result;
}

} // namespace

ReadResult readCode(const cv::Mat& image, const ReaderOptions& options) { return readOne(image, options, true); }

ReadResult readFoundCode(const cv::Mat& image, const ReaderOptions& options) { return readOne(image, options, false); }

ReadResult readFoundCodeNear(const cv::Mat& image, const cv::Rect& searchArea, const ReaderOptions& options)
{
    const cv::Rect area = searchArea & cv::Rect(0, 0, image.cols, image.rows);
    if (area.empty()) return {}; // nothing of the image to search
    return readOne(image, options, false, area);
}

ReadResult readCode(const cv::Mat& image, const ReaderOptions& options, bool wholeImage)
{
    return readOne(image, options, wholeImage);
}

std::vector<ReadResult> readCodes(const cv::Mat& image, const ReaderOptions& options)
{
    return searchCodes(image, options).codes;
}

std::vector<ReadResult> readCodes(const cv::Mat& image, const ReaderOptions& options, bool wholeImage)
{
    return searchCodes(image, options, static_cast<std::size_t>(-1), wholeImage).codes;
}

CodeSearch searchCodes(const cv::Mat& image, const ReaderOptions& options, std::size_t maxCodes)
{
    return searchCodes(image, options, maxCodes, true);
}

CodeSearch searchCodes(const cv::Mat& image, const ReaderOptions& options, std::size_t maxCodes, bool wholeImage)
{
    CodeSearch search;
    std::vector<ReadResult>& read = search.codes;
    const Found<ReadPlan> planned = planRead(image, options);
    search.error = errorOf(planned.code);
    if (!planned) return search;
    search.error = ReadError::InnerCircleNotFound;
    if (maxCodes == 0) return search;
    const ReadPlan& plan = *planned;
    const Trace trace{options.trace ? &search.trace : nullptr};
    ReadResult failure;
    const Frame frame = frameOf(image, options, plan, wholeImage);
    search.candidateLimitReached =
        searchFrame(frame, options, plan, maxCodes, wholeImage, trace, read, failure, &search.failed,
                    Polarity::AsGiven);
    if (read.empty() && (wholeImage || options.findCodes)) {
        // The failed places stay those of the image as given.
        ReadResult swappedFailure;
        const bool limited =
            searchFrame(frame, options, swappedPlan(plan), maxCodes, wholeImage, swappedTrace(trace),
                        read, swappedFailure, nullptr, Polarity::Swapped);
        if (!read.empty()) search.candidateLimitReached = limited;
    }
    search.error = read.empty() ? failure.error : ReadError::Success;
    return search;
}

} // namespace orb
