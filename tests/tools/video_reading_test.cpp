// Reading recorded clips of a card that comes into view, moves, leaves and
// comes back: as an image sequence and as an MJPEG video file.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>

#include <opencv2/videoio.hpp>

#include "video_reading.h"
#include "support/camera_clip.h"
#include "support/temporary_directory.h"

using namespace orbread;
using TempDir = orb::testing::TemporaryDirectory;

namespace {

constexpr double kFps = 25;
const cv::Size kFrameSize{640, 480};

// Frames that show the card: it moves across the view, leaves for eight
// frames (320 ms) and comes back.
bool cardShows(int index) { return (index >= 6 && index < 16) || (index >= 24 && index < 28); }
constexpr int kClipFrames = 30;

std::vector<cv::Mat> clipFrames()
{
    const cv::Mat card = testing_support::codeCard(testing_support::kClipText, 300, 8);
    std::vector<cv::Mat> frames;
    for (int index = 0; index < kClipFrames; ++index)
        frames.push_back(cardShows(index) ? testing_support::sceneFrame(kFrameSize, card, {40 + 25 * (index % 12), 80})
                                          : testing_support::sceneFrame(kFrameSize));
    return frames;
}

std::vector<std::int64_t> framesWhereCardShows(int every = 1)
{
    std::vector<std::int64_t> expected;
    for (int index = 0; index < kClipFrames; index += every)
        if (cardShows(index)) expected.push_back(index);
    return expected;
}

struct VideoRun {
    VideoSummary summary;
    std::vector<VideoCode> codes;
    std::vector<std::int64_t> frames() const
    {
        std::vector<std::int64_t> indices;
        for (const VideoCode& code : codes) indices.push_back(code.frame);
        return indices;
    }
};

VideoRun read(const std::string& source, const VideoReadOptions& options = {})
{
    const std::atomic<bool> never{false};
    VideoRun run;
    run.summary = readVideo(source, options, [&](const VideoCode& code) { run.codes.push_back(code); }, never);
    return run;
}

class VideoClips : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        directory = new TempDir("video_reading");
        const std::vector<cv::Mat> frames = clipFrames();
        ASSERT_EQ(orb::readCode(frames[6]).text(), testing_support::kClipText) << "the card must read before a clip of it can";
        for (int index = 0; index < kClipFrames; ++index)
            testing_support::writeFrame(directory->path(), index, frames[index]);
        cv::VideoWriter writer(movie().string(), cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), kFps, kFrameSize);
        ASSERT_TRUE(writer.isOpened()) << "OpenCV cannot write an MJPEG AVI here";
        for (const cv::Mat& frame : frames) writer.write(frame);
        // Bare JPEG images one after the other: a file that does not know its length.
        std::ofstream bare(directory->path() / "clip.mjpeg", std::ios::binary);
        for (const cv::Mat& frame : frames) {
            std::vector<std::uint8_t> jpeg;
            cv::imencode(".jpg", frame, jpeg);
            bare.write(reinterpret_cast<const char*>(jpeg.data()), static_cast<std::streamsize>(jpeg.size()));
        }
    }
    static void TearDownTestSuite() { delete directory; }

    static std::filesystem::path movie() { return directory->path() / "clip.avi"; }
    static std::string sequence() { return (directory->path() / "frames" / "%04d.png").string(); }

    static TempDir* directory;
};

TempDir* VideoClips::directory = nullptr;

} // namespace

TEST_F(VideoClips, ReportsTheFramesWhereTheCodeShowsInVideoFilesAndAnImageSequence)
{
    const std::string bare = (directory->path() / "clip.mjpeg").string();
    for (const std::string& source : {movie().string(), sequence(), bare}) {
        SCOPED_TRACE(source);
        const VideoRun run = read(source);
        EXPECT_EQ(run.summary.end, VideoEnd::Finished) << run.summary.message;
        EXPECT_EQ(run.summary.message, "");
        EXPECT_EQ(run.frames(), framesWhereCardShows());
        EXPECT_EQ(run.summary.framesRead, kClipFrames);
        EXPECT_EQ(run.summary.framesDecoded, kClipFrames);
        EXPECT_EQ(run.summary.codesReported, static_cast<std::int64_t>(run.codes.size()));
        if (source != bare) {
            EXPECT_EQ(run.summary.frameCount, kClipFrames);
        }
        for (const VideoCode& code : run.codes) {
            EXPECT_EQ(code.result.text(), testing_support::kClipText);
            // The card's code sits inside the card, wherever it moved.
            EXPECT_TRUE(cv::Rect(cv::Point(), kFrameSize).contains(code.result.position.centre));
        }
    }
    const VideoRun run = read(movie().string());
    ASSERT_FALSE(run.codes.empty());
    EXPECT_NEAR(run.codes.back().timeMs, 1000.0 * static_cast<double>(run.codes.back().frame) / kFps, 1);
}

TEST_F(VideoClips, EveryNthFrameIsRead)
{
    VideoReadOptions options;
    options.every = 3;
    const VideoRun run = read(movie().string(), options);
    EXPECT_EQ(run.summary.end, VideoEnd::Finished);
    EXPECT_EQ(run.frames(), framesWhereCardShows(3));
    EXPECT_EQ(run.summary.framesRead, kClipFrames);
    EXPECT_EQ(run.summary.framesDecoded, kClipFrames / 3);
}

TEST_F(VideoClips, DedupeReportsACodeAgainOnlyAfterItWasOutOfViewThatLong)
{
    VideoReadOptions options;
    // Out of view for 320 ms: shorter than the dedupe time, reported once.
    options.dedupeSeconds = 1;
    EXPECT_EQ(read(movie().string(), options).frames(), std::vector<std::int64_t>{6});
    // Longer: reported again when it comes back.
    options.dedupeSeconds = 0.2;
    EXPECT_EQ(read(movie().string(), options).frames(), (std::vector<std::int64_t>{6, 24}));
}

TEST_F(VideoClips, ASourceThatCannotBeOpenedSaysWhich)
{
    for (const std::string& source : {(directory->path() / "missing.avi").string(), std::string("99")}) {
        const VideoRun run = read(source);
        EXPECT_EQ(run.summary.end, VideoEnd::CannotOpen);
        EXPECT_NE(run.summary.message.find("'" + source + "'"), std::string::npos) << run.summary.message;
        EXPECT_TRUE(run.codes.empty());
    }
}

TEST_F(VideoClips, ATruncatedFileIsBrokenAfterItsCodesWereReported)
{
    const std::string bytes = orb::testing::readFile(movie());
    const std::filesystem::path cut = directory->path() / "cut.avi";
    std::ofstream(cut, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size() * 6 / 10));
    const VideoRun run = read(cut.string());
    EXPECT_EQ(run.summary.end, VideoEnd::Broken);
    EXPECT_NE(run.summary.message.find("'" + cut.string() + "'"), std::string::npos) << run.summary.message;
    EXPECT_LT(run.summary.framesRead, kClipFrames);
    ASSERT_FALSE(run.codes.empty());
    EXPECT_EQ(run.codes.front().frame, 6);
}

TEST_F(VideoClips, TheStopFlagEndsTheRun)
{
    std::atomic<bool> stop{false};
    VideoRun run;
    run.summary = readVideo(movie().string(), {}, [&](const VideoCode& code) {
        run.codes.push_back(code);
        stop = true;
    }, stop);
    EXPECT_EQ(run.summary.end, VideoEnd::Stopped);
    EXPECT_FALSE(run.summary.message.empty());
    EXPECT_EQ(run.frames(), std::vector<std::int64_t>{6});
}

// A stream that sends a few frames and then nothing, without closing: the
// run ends as stalled instead of waiting for ever.
TEST_F(VideoClips, AStreamThatGoesSilentStalls)
{
    const std::filesystem::path pipe = directory->path() / "stream.mjpeg";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    std::atomic<bool> done{false};
    std::thread sender([&] {
        std::ofstream out(pipe, std::ios::binary);
        std::vector<std::uint8_t> jpeg;
        cv::imencode(".jpg", testing_support::sceneFrame({160, 120}), jpeg);
        for (int index = 0; index < 100; ++index)
            out.write(reinterpret_cast<const char*>(jpeg.data()), static_cast<std::streamsize>(jpeg.size()));
        out.flush();
        while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    });
    VideoReadOptions options;
    options.stallSeconds = 0.5;
    // Without a short probe the stream's opening would wait for megabytes.
    setenv("OPENCV_FFMPEG_CAPTURE_OPTIONS", "formatprobesize;4096|probesize;32768|analyzeduration;0", 1);
    const VideoRun run = read(pipe.string(), options);
    unsetenv("OPENCV_FFMPEG_CAPTURE_OPTIONS");
    done = true;
    sender.join();
    EXPECT_EQ(run.summary.end, VideoEnd::Stalled) << run.summary.message;
    EXPECT_NE(run.summary.message.find("stalled"), std::string::npos) << run.summary.message;
}

// A file is read to its end however long its frames take to decode: a
// stall time far below one frame's decoding stalls a stream, not a file.
TEST_F(VideoClips, AFileIsReadToItsEndHoweverSlowly)
{
    VideoReadOptions options;
    options.stallSeconds = 1e-6;
    for (const std::string& source : {movie().string(), sequence()}) {
        const VideoRun run = read(source, options);
        EXPECT_EQ(run.summary.end, VideoEnd::Finished) << run.summary.message;
        EXPECT_EQ(run.frames(), framesWhereCardShows()) << source;
    }
}

// Frames above the pixel limit end the run before they are read, worded
// as for an image that is too large.
TEST_F(VideoClips, FramesAboveThePixelLimitAreRefused)
{
    VideoReadOptions options;
    options.maxPixels = kFrameSize.area() - 1;
    for (const std::string& source : {movie().string(), sequence()}) {
        const VideoRun run = read(source, options);
        EXPECT_EQ(run.summary.end, VideoEnd::TooLarge) << source;
        EXPECT_EQ(run.summary.reason, "image too large: 640 x 480 pixels, more than the limit of 307199");
        EXPECT_NE(run.summary.message.find(source), std::string::npos) << run.summary.message;
        EXPECT_TRUE(run.codes.empty());
    }
}
