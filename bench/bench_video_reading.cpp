// The headless video reader on a 1280 x 720 MJPEG clip of a card circling
// in front of a still background, beside the reader on the same frames
// already in memory: the ratio is what taking frames from a file costs.
// Reports frames per second and the share of frames in which the code was read.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <vector>

#include <opencv2/videoio.hpp>

#include "video_reading.h"
#include "orb/logger.h"
#include "support/temporary_directory.h"
#include "support/camera_clip.h"

namespace {

constexpr int kClipFrames = 70;
const cv::Size kFrameSize(1280, 720);

cv::Mat clipFrame(const cv::Mat& card, int index)
{
    const double angle = 2 * CV_PI * index / kClipFrames;
    const cv::Point centre(kFrameSize.width / 2 + static_cast<int>(std::lround(350 * std::cos(angle))),
                           kFrameSize.height / 2 + static_cast<int>(std::lround(150 * std::sin(angle))));
    return testing_support::sceneFrame(kFrameSize, card, centre - cv::Point(card.cols / 2, card.rows / 2));
}

struct Clip {
    orb::testing::TemporaryDirectory directory{"bench_video"};
    std::vector<cv::Mat> frames;
    std::string path;

    Clip()
    {
        const cv::Mat card = testing_support::codeCard(testing_support::kClipText, 400, 12);
        for (int index = 0; index < kClipFrames; ++index) frames.push_back(clipFrame(card, index));
        path = (directory.path() / "clip.avi").string();
        cv::VideoWriter writer(path, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 30, kFrameSize);
        for (const cv::Mat& frame : frames) writer.write(frame);
    }
};

const Clip& clip()
{
    static const Clip made;
    return made;
}

void report(benchmark::State& bench, std::int64_t frames, std::int64_t read)
{
    bench.counters["fps"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    bench.counters["read_share"] = static_cast<double>(read) / static_cast<double>(std::max<std::int64_t>(1, frames));
}

void BM_VideoFile(benchmark::State& bench)
{
    orb::logger().setConsoleLevel(static_cast<int>(orb::LogLevel::Off));
    const std::atomic<bool> stop{false};
    std::int64_t frames = 0;
    std::int64_t read = 0;
    for (auto _ : bench) {
        const orbread::VideoSummary summary = orbread::readVideo(clip().path, {}, [&](const orbread::VideoCode&) { ++read; }, stop);
        frames += summary.framesDecoded;
    }
    report(bench, frames, read);
}
BENCHMARK(BM_VideoFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// The peer: the same frames read straight from memory.
void BM_FramesInMemory(benchmark::State& bench)
{
    orb::logger().setConsoleLevel(static_cast<int>(orb::LogLevel::Off));
    std::int64_t frames = 0;
    std::int64_t read = 0;
    for (auto _ : bench) {
        for (const cv::Mat& frame : clip().frames) {
            read += static_cast<std::int64_t>(orb::readCodes(frame).size());
            ++frames;
        }
    }
    report(bench, frames, read);
}
BENCHMARK(BM_FramesInMemory)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
