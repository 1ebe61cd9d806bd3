// orbread --video as a user runs it, on clips the test makes: a code on a
// card moving across the view, gone for a while, back again; as an image
// sequence and as an MJPEG AVI.
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <opencv2/videoio.hpp>

#include "support/camera_clip.h"
#include "support/temporary_directory.h"
#include "tools/tool_run.h"

namespace {

namespace fs = std::filesystem;
using orb::testing::TemporaryDirectory;

constexpr double kFps = 25;
constexpr int kClipFrames = 16;
const cv::Size kFrameSize{480, 360};

// The card shows in frames 3..7, leaves for five frames (200 ms), and
// shows again in 13..14.
bool cardShows(int index) { return (index >= 3 && index < 8) || (index >= 13 && index < 15); }

using orb::testing::linesOf;
using orb::testing::shellQuoted;
using orb::testing::runTool;
using orb::testing::ToolRun;

class OrbreadVideo : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        directory = new TemporaryDirectory("orbread_video");
        const cv::Mat card = testing_support::codeCard(testing_support::kClipText, 250, 7);
        cv::VideoWriter movie((directory->path() / "clip.avi").string(), cv::VideoWriter::fourcc('M', 'J', 'P', 'G'),
                              kFps, kFrameSize);
        ASSERT_TRUE(movie.isOpened());
        for (int index = 0; index < kClipFrames; ++index) {
            const cv::Mat frame = cardShows(index) ? testing_support::sceneFrame(kFrameSize, card, {30 + 20 * (index % 8), 50})
                                                   : testing_support::sceneFrame(kFrameSize);
            testing_support::writeFrame(directory->path(), index, frame);
            movie.write(frame);
        }
        // A clip without the code.
        fs::create_directories(directory->path() / "empty");
        for (int index = 0; index < 5; ++index)
            cv::imwrite((directory->path() / "empty" / (std::to_string(index) + ".png")).string(),
                        testing_support::sceneFrame(kFrameSize));
    }
    static void TearDownTestSuite() { delete directory; }

    static ToolRun run(const std::vector<std::string>& args)
    {
        // No display: the reader must need no window.
        return runTool(std::string(ORB_BINARY_DIR) + "/tools/orbread", args, directory->path(), "env -u DISPLAY ");
    }
    static std::string movie() { return (directory->path() / "clip.avi").string(); }
    static std::string sequence() { return (directory->path() / "frames" / "%04d.png").string(); }

    static TemporaryDirectory* directory;
};

TemporaryDirectory* OrbreadVideo::directory = nullptr;

std::vector<long long> framesWhereTheCardShows()
{
    std::vector<long long> frames;
    for (int index = 0; index < kClipFrames; ++index)
        if (cardShows(index)) frames.push_back(index);
    return frames;
}

} // namespace

// One JSON line per frame that shows the code, with its frame number and
// time stamp; the frames are those where the card is in view.
TEST_F(OrbreadVideo, ReportsTheFramesWhereTheCodeShows)
{
    for (const std::string& source : {movie(), sequence()}) {
        SCOPED_TRACE(source);
        const ToolRun r = run({"--json", "--video", source});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        std::vector<long long> frames;
        for (const std::string& line : linesOf(r.out)) {
            const auto code = nlohmann::json::parse(line);
            EXPECT_EQ(code["file"], source);
            EXPECT_EQ(code["text"], testing_support::kClipText);
            EXPECT_EQ(code["index"], 0);
            frames.push_back(code["frame"].get<long long>());
            if (source == movie()) {
                EXPECT_NEAR(code["seconds"].get<double>(), frames.back() / kFps, 0.002);
            }
        }
        EXPECT_EQ(frames, framesWhereTheCardShows());
    }
    // Plain text names the frame; --every 2 reads every other one.
    const ToolRun r = run({"--every", "2", "--video", movie()});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = linesOf(r.out);
    ASSERT_EQ(lines.size(), 3u) << r.out; // frames 4, 6 and 14
    EXPECT_EQ(lines[0], movie() + " frame 4 (0.160 s): " + testing_support::kClipText);
}

// With --dedupe the code is printed when it comes into view, and again only
// when it was out of view longer than that.
TEST_F(OrbreadVideo, DedupePrintsACodeOnceWhileItStaysAround)
{
    ToolRun r = run({"--dedupe", "1", "--video", movie()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, movie() + " frame 3 (0.120 s): " + testing_support::kClipText + "\n");
    // Out of view for 200 ms: a shorter dedupe prints it again on its return.
    r = run({"--csv", "--dedupe", "0.1", "--video", sequence()});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = linesOf(r.out);
    ASSERT_EQ(lines.size(), 3u) << r.out;
    EXPECT_EQ(lines[0].rfind("file,frame,seconds,index,text,", 0), 0u);
    EXPECT_NE(lines[1].find(",3,"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find(",13,"), std::string::npos) << lines[2];
}

// 0: codes found; 1: none; 2: a source that cannot be opened.
TEST_F(OrbreadVideo, ExitStatuses)
{
    ToolRun r = run({"--video", (directory->path() / "empty" / "%d.png").string()});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("no code found in 5 frames"), std::string::npos) << r.err;

    // A file that is missing, and one that is no video.
    const std::string notVideo = (directory->path() / "notes.avi").string();
    std::ofstream(notVideo) << "not a video";
    for (const std::string& source : {(directory->path() / "missing.avi").string(), notVideo}) {
        r = run({"--json", "--video", source});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(linesOf(r.err).size(), 1u) << r.err;
        EXPECT_NE(r.err.find(source), std::string::npos) << r.err;
        EXPECT_FALSE(nlohmann::json::parse(linesOf(r.out).at(0))["error"].get<std::string>().empty());
    }

    r = run({"--video", movie(), "--annotate", "pictures"});
    EXPECT_EQ(r.status, 2);
}

// SIGTERM (or SIGINT) ends a long run: what was read is printed, and the
// exit status says whether a code was found.
TEST_F(OrbreadVideo, ASignalEndsTheRunKeepingWhatWasRead)
{
    const fs::path frames = directory->path() / "long";
    fs::create_directories(frames);
    for (int index = 0; index < 2000; ++index)
        fs::create_hard_link(testing_support::framePath(directory->path(), 3),
                             frames / (std::to_string(index) + ".png"));
    const fs::path out = directory->path() / "long.out", err = directory->path() / "long.err",
                   status = directory->path() / "long.status";
    const std::string script =
        shellQuoted(std::string(ORB_BINARY_DIR) + "/tools/orbread") + " --video " +
        shellQuoted((frames / "%d.png").string()) + " > " + shellQuoted(out.string()) + " 2> " +
        shellQuoted(err.string()) + " & p=$!; for i in $(seq 300); do [ -s " + shellQuoted(out.string()) +
        " ] && break; sleep 0.1; done; kill -TERM $p; wait $p; echo $? > " + shellQuoted(status.string());
    std::system(("bash -c " + shellQuoted(script)).c_str());
    EXPECT_EQ(orb::testing::readFile(status), "0\n");
    EXPECT_FALSE(orb::testing::readFile(out).empty());
    EXPECT_LT(linesOf(orb::testing::readFile(out)).size(), 2000u);
    EXPECT_NE(orb::testing::readFile(err).find("Stopped reading"), std::string::npos) << orb::testing::readFile(err);
}
