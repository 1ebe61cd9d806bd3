// What the code finder costs on the images that make the most regions in a
// thresholded image: checkerboards, noise, stripes, text, halftone screens
// and a crowd of shooting targets, at 1280x960 and at 12 MP. The counter
// "ns_per_pixel" is the wall time over the image's pixels.
//   bench_hostile_images --benchmark_min_time=0.5
#include <benchmark/benchmark.h>

#include <chrono>
#include <random>
#include <string>

#include <opencv2/imgproc.hpp>

#include "orb/finder/code_finder.h"
#include "orb/logger.h"

using namespace orb;

namespace {

const cv::Size kCamera(1280, 960);
const cv::Size kTwelveMegapixels(4000, 3000);

cv::Mat checkerboard(cv::Size size, int square)
{
    cv::Mat image(size, CV_8UC1);
    for (int y = 0; y < size.height; ++y)
        for (int x = 0; x < size.width; ++x) image.at<uchar>(y, x) = ((x / square + y / square) % 2) ? 255 : 0;
    return image;
}

cv::Mat noise(cv::Size size)
{
    cv::Mat image(size, CV_8UC1);
    cv::RNG random(7);
    random.fill(image, cv::RNG::UNIFORM, 0, 256);
    return image;
}

// Black and white columns of `width` pixels each.
cv::Mat stripes(cv::Size size, int width)
{
    cv::Mat image(size, CV_8UC1);
    for (int x = 0; x < size.width; ++x) image.col(x).setTo((x / width) % 2 ? 255 : 0);
    return image;
}

// Lines of small random letters, digits and punctuation, as on a printed page.
cv::Mat text(cv::Size size, double fontScale)
{
    cv::Mat image(size, CV_8UC1, cv::Scalar(255));
    std::mt19937 random(5);
    const std::string glyphs = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789@&%#.,;:";
    const int lineHeight = static_cast<int>(22 * fontScale) + 2;
    for (int y = lineHeight; y < size.height; y += lineHeight) {
        std::string line;
        while (static_cast<int>(line.size()) * 10 * fontScale < size.width) line += glyphs[random() % glyphs.size()];
        cv::putText(image, line, {0, y}, cv::FONT_HERSHEY_SIMPLEX, fontScale, cv::Scalar(0), 1, cv::LINE_8);
    }
    return image;
}

// A halftone screen: dots on a `pitch` pixel grid whose size follows a
// gradient across the image, dark dots on white and white dots on dark.
cv::Mat halftone(cv::Size size, int pitch)
{
    cv::Mat image(size, CV_8UC1, cv::Scalar(255));
    for (int y = pitch / 2; y < size.height; y += pitch)
        for (int x = pitch / 2; x < size.width; x += pitch) {
            const double tone = static_cast<double>(x) / size.width; // 0 light .. 1 dark
            const int radius = std::max(0, static_cast<int>(tone * pitch * 0.5));
            cv::circle(image, {x, y}, radius, cv::Scalar(0), cv::FILLED, cv::LINE_8);
        }
    cv::Mat bottom = image(cv::Rect(0, size.height / 2, size.width, size.height - size.height / 2));
    cv::bitwise_not(bottom, bottom);
    return image;
}

// Dots in holes in rings, packed: each looks like the centre of a code.
cv::Mat targets(cv::Size size, int pitch)
{
    cv::Mat image(size, CV_8UC1, cv::Scalar(255));
    const int r = pitch / 4;
    for (int y = pitch / 2; y < size.height; y += pitch)
        for (int x = pitch / 2; x < size.width; x += pitch) {
            cv::circle(image, {x, y}, 2 * r, cv::Scalar(0), cv::FILLED);
            cv::circle(image, {x, y}, r, cv::Scalar(255), cv::FILLED);
            cv::circle(image, {x, y}, std::max(1, r / 3), cv::Scalar(0), cv::FILLED);
        }
    return image;
}

template <typename Make>
void find(benchmark::State& state, Make make)
{
    logger().setConsoleLevel(static_cast<int>(LogLevel::Off));
    const cv::Mat image = make();
    std::size_t found = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        found = findCodeCandidates(image).size();
        benchmark::DoNotOptimize(found);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.counters["candidates"] = static_cast<double>(found);
    state.counters["ns_per_pixel"] = seconds * 1e9 / static_cast<double>(state.iterations()) / static_cast<double>(image.total());
}

void registerAll()
{
    for (const cv::Size size : {kCamera, kTwelveMegapixels}) {
        // The reduction to the finder's working size turns a 3 px square of a
        // 12 MP image into one pixel, hence each square size at each size.
        const std::string at = "/" + std::to_string(size.width) + "x" + std::to_string(size.height);
        const auto add = [&](const std::string& name, auto make) {
            benchmark::RegisterBenchmark((name + at).c_str(), [make](benchmark::State& state) { find(state, make); })
                ->Unit(benchmark::kMillisecond);
        };
        add("Checkerboard1px", [size] { return checkerboard(size, 1); });
        add("Checkerboard3px", [size] { return checkerboard(size, 3); });
        add("Noise", [size] { return noise(size); });
        add("Stripes1px", [size] { return stripes(size, 1); });
        add("Stripes3px", [size] { return stripes(size, 3); });
        add("Text", [size] { return text(size, size.width > 2000 ? 1.0 : 0.4); });
        add("Halftone4px", [size] { return halftone(size, 4); });
        add("Halftone8px", [size] { return halftone(size, 8); });
        add("Targets", [size] { return targets(size, size.width > 2000 ? 72 : 24); });
    }
}

} // namespace

int main(int argc, char** argv)
{
    registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
