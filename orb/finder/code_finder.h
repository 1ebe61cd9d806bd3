#pragma once
// Finding codes anywhere in an image from the structure of their centre:
// a black dot inside the white hub inside the black inner ring. On a
// locally thresholded image that is a dark region whose one hole holds one
// dark child, which few other things in a photograph show.
#include <vector>

#include <opencv2/core.hpp>

namespace orb {

// One binarisation the search runs: the image reduced so its long side is at
// most `longSide` pixels, thresholded against the mean of `blockSize` pixel
// square blocks. A block a few times the ring thickness keeps the ring solid;
// much larger ones let light gradients through, hence several passes.
struct FinderPass {
    int longSide = 1280;
    int blockSize = 25;
    // Dark closed over this many pixels first (0: not): bridges the gaps a
    // smear wears into the thin ring round the hub, through which the hub
    // would join the white beyond.
    int closing = 0;
    // Also look for hubs whose ring a light blot broke open, through which
    // the hub runs out into the paper: a lone dot with dark round it at a
    // hub's distance on most of its turn. Sought before the closing, which
    // would join a small code's dot to its ring.
    bool openHubs = false;
};

// Passes for a frame in which nothing was found that read: the default
// sizes with the ring's gaps bridged, and broken rings looked for in the
// coarse one alone (a dot with rays to cast round it is seen there too,
// and the fine copy would cost four times as much).
inline std::vector<FinderPass> smearPasses() { return {{1280, 25, 9}, {640, 41, 9, true}}; }

struct FinderOptions {
    // Fine blocks for small codes, coarse ones for codes in uneven light,
    // and a small copy of the image for codes that fill most of it.
    std::vector<FinderPass> passes = {{1280, 25}, {640, 41}};
    // A pixel is dark when it is this many grey levels below its block's mean.
    double thresholdOffset = 7;
    // Smallest hub, as the area of its hole in the pass's reduced image, pixels.
    double minHubArea = 60;
    // The dot's area as a share of the hub's (drawn: 1/9).
    double minDotShare = 0.05;
    double maxDotShare = 0.25;
    // Largest distance of the dot's centre from the hub's, in hub radii.
    double maxDotOffset = 0.25;
    // The hub's area as a share of its fitted ellipse's: a hub is convex.
    double minHubFill = 0.8;
    // Smallest minor/major axis ratio of the hub: a card seen up to about
    // 78 degrees off square, as a card tilted 70 degrees is near the edge
    // of a wide view.
    double minAxisRatio = 0.2;
    // Children of a hub smaller than this share of it are noise, not a dot.
    double speckShare = 0.01;
    // At most this many candidates come back, best first; bounds what a
    // cluttered image costs the readers downstream.
    int maxCandidates = 12;
};

// A place where a code may be, in the caller's pixels.
struct CodeCandidate {
    cv::RotatedRect hub;    // ellipse of the white hub (without the ring)
    cv::Point2f centre;     // of the hub
    double hubRadius = 0;   // mean half axis of the hub
    // The code's outer radius cannot be known before its rings are counted;
    // drawn codes stay within this many hub radii.
    double maxCodeRadius = 0;
    double score = 0;       // how well the centre matches a drawn one, 0..1
};

// Drawn codes keep their outer edge within this many hub radii.
inline constexpr double kMaxCodeRadiusInHubs = 8.0;

// Hubs flatter than this minor/major axis ratio belong to steeply tilted
// codes: the finder holds them to their dot's shape, and the cut stretches
// them round before the chain sees them.
inline constexpr double kFlatHubAxisRatio = 0.5;

// Which way round the codes searched for are printed.
enum class Shade {
    DarkOnLight, // as drawn: black dot and ring, white hub
    LightOnDark, // the same with dark and light swapped
};

// An image made ready for searching: its grey version reduced once for
// each pass size, and the local means of each pass's blocks. Every search
// of one image (the plain one, the one with smears bridged, the one for
// light-on-dark codes) thresholds the same means, so the image pays for
// the reductions and the means once.
class FinderImage {
public:
    // Ready for `passes`; a search with other passes makes what they need itself.
    explicit FinderImage(const cv::Mat& image, const std::vector<FinderPass>& passes = FinderOptions{}.passes);

    // One pass's reduced copy and its local means.
    struct Level {
        int longSide = 0; // as asked for, before the image's own size bounds it
        int blockSize = 0;
        cv::Mat reduced;  // empty when the image is too small for the pass
        cv::Mat mean;
    };

    const cv::Mat& grey() const { return grey_; }
    // The level of `pass`, made now when it was not made with the image.
    Level level(const FinderPass& pass) const;

private:
    cv::Mat grey_;
    std::vector<Level> levels_;
};

// The candidate codes of an 8-bit image (gray, BGR or BGRA), best first,
// duplicates from the several passes merged. Time and memory grow with the
// image's pixels only: the passes work on bounded reduced copies.
std::vector<CodeCandidate> findCodeCandidates(const cv::Mat& image, const FinderOptions& options = {});

// The same on a prepared image, for codes printed `shade`.
std::vector<CodeCandidate> findCodeCandidates(const FinderImage& image, const FinderOptions& options = {},
                                              Shade shade = Shade::DarkOnLight);

} // namespace orb
