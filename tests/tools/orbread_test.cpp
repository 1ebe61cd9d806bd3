// orbread as a user runs it: shell commands, their exit status, what they
// print, and the pictures --annotate leaves.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>

#include "support/code_samples.h"
#include "support/photo_scenes.h"
#include "support/temporary_directory.h"
#include "tools/tool_run.h"

namespace {

namespace fs = std::filesystem;

using orb::testing::linesOf;
using orb::testing::shellQuoted;
using orb::testing::runTool;
using orb::testing::ToolRun;

const std::string kOrbread = std::string(ORB_BINARY_DIR) + "/tools/orbread";
const fs::path kExamples = fs::path(ORB_SOURCE_DIR) / "examples";

class Orbread : public ::testing::Test {
protected:
    // `shellTail` is added to the command as it is (a pipe, a redirection).
    ToolRun run(const std::vector<std::string>& args, const std::string& shellTail = "") const
    {
        return runTool(kOrbread, args, dir_.path(), "", shellTail);
    }
    std::string path(const std::string& name) const { return (dir_.path() / name).string(); }
    void write(const std::string& name, const std::string& bytes) const
    {
        std::ofstream(path(name), std::ios::binary) << bytes;
    }
    std::string example(const std::string& name) const { return (kExamples / name).string(); }

    orb::testing::TemporaryDirectory dir_{"orbread_test"};
};

std::vector<std::string> exampleImages()
{
    std::vector<std::string> images;
    for (const auto& entry : fs::directory_iterator(kExamples))
        if (entry.path().extension() == ".png") images.push_back(entry.path().string());
    std::sort(images.begin(), images.end());
    return images;
}

} // namespace

// Every example, colour and scrambled included, with the default options:
// one "FILE: TEXT" line each, in the order given, exit status 0.
TEST_F(Orbread, ReadsEveryExampleInTheOrderGiven)
{
    std::vector<std::string> images = exampleImages();
    ASSERT_GE(images.size(), 4u);
    std::reverse(images.begin(), images.end());
    const ToolRun r = run(images);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> lines = linesOf(r.out);
    ASSERT_EQ(lines.size(), images.size()) << r.out;
    for (std::size_t i = 0; i < images.size(); ++i) EXPECT_EQ(lines[i].rfind(images[i] + ": ", 0), 0u) << lines[i];
    EXPECT_NE(r.out.find("sample.png: Hello, ScanBench!\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("colour-48.png: Colour code: three bits per module\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("scrambled-64.png: https://example.org/orbel?ring=64\n"), std::string::npos) << r.out;
}

// JSON lines parse one by one; an input without a code gives a line with
// its error, and the exit status says some input could not be read.
TEST_F(Orbread, JsonLinesParse)
{
    write("notes.png", "not an image at all");
    std::vector<std::string> args = {"--json", example("sample.png"), example("colour-48.png"), path("notes.png")};
    const ToolRun r = run(args);
    EXPECT_EQ(r.status, 2);
    const std::vector<std::string> lines = linesOf(r.out);
    ASSERT_EQ(lines.size(), 3u) << r.out;
    const auto first = nlohmann::json::parse(lines[0]);
    EXPECT_EQ(first["file"], example("sample.png"));
    EXPECT_EQ(first["index"], 0);
    EXPECT_EQ(first["text"], "Hello, ScanBench!");
    EXPECT_EQ(first["code_type"], "bw");
    EXPECT_EQ(first["layout"], "HorizontalSnakeSmall");
    EXPECT_EQ(first["modules_per_ring"], 32);
    EXPECT_EQ(first["outline"].size(), 32u);
    EXPECT_EQ(first["centre"].size(), 2u);
    EXPECT_TRUE(first["time_ms"].is_number());
    EXPECT_FALSE(first.contains("error"));
    const auto colour = nlohmann::json::parse(lines[1]);
    EXPECT_EQ(colour["code_type"], "color");
    const auto bad = nlohmann::json::parse(lines[2]);
    EXPECT_EQ(bad["file"], path("notes.png"));
    EXPECT_TRUE(bad["index"].is_null());
    EXPECT_NE(bad["error"].get<std::string>().find("cannot read"), std::string::npos);
    EXPECT_EQ(linesOf(r.err).size(), 1u) << r.err;
}

// --trace adds the steps of each input's reads to its JSON lines, and only there.
TEST_F(Orbread, JsonTraceListsTheSteps)
{
    const ToolRun r = run({"--json", "--trace", example("sample.png")});
    EXPECT_EQ(r.status, 0) << r.err;
    const auto line = nlohmann::json::parse(linesOf(r.out).at(0));
    EXPECT_EQ(line["text"], "Hello, ScanBench!");
    ASSERT_TRUE(line["trace"].is_array());
    ASSERT_FALSE(line["trace"].empty());
    // The code fills and centres the sample: the whole image's first tries
    // read it, before any search.
    const auto& trace = line["trace"];
    EXPECT_EQ(trace.front()["stage"], "inner circle");
    EXPECT_EQ(trace.front()["image"], "whole image");
    const auto read = std::find_if(trace.begin(), trace.end(), [](const auto& step) { return step["stage"] == "grid reading" && step["result"] == "SUCCESS"; });
    ASSERT_NE(read, trace.end());
    const auto& last = *read;
    EXPECT_EQ(last["stage"], "grid reading");
    EXPECT_EQ(last["image"], "whole image");
    EXPECT_EQ(last["code_type"], "bw");
    EXPECT_EQ(last["result"], "SUCCESS");
    EXPECT_EQ(last["size"].size(), 2u);
    EXPECT_TRUE(last["time_ms"].is_number());

    EXPECT_FALSE(nlohmann::json::parse(linesOf(run({"--json", example("sample.png")}).out).at(0)).contains("trace"));
    EXPECT_EQ(run({"--trace", example("sample.png")}).status, 2); // needs --json
}

TEST_F(Orbread, CsvHasAHeaderAndQuotesTexts)
{
    const ToolRun r = run({"--csv", example("sample.png")});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = linesOf(r.out);
    ASSERT_EQ(lines.size(), 2u) << r.out;
    EXPECT_EQ(lines[0].rfind("file,index,text,", 0), 0u);
    EXPECT_NE(lines[1].find(",0,\"Hello, ScanBench!\",,Ascii,"), std::string::npos) << lines[1];
}

// 0: every input gave a code; 1: some gave none; 2: usage errors and
// unreadable inputs, after the others were read.
TEST_F(Orbread, ExitStatuses)
{
    ASSERT_TRUE(cv::imwrite(path("blank.png"), cv::Mat(200, 200, CV_8UC3, cv::Scalar::all(255))));
    EXPECT_EQ(run({example("sample.png")}).status, 0);

    ToolRun r = run({example("sample.png"), path("blank.png")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, example("sample.png") + ": Hello, ScanBench!\n");
    EXPECT_EQ(r.err, "orbread: " + path("blank.png") + ": no code found (Inner circle not found)\n");

    r = run({"--quiet", path("blank.png")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");

    r = run({path("missing.png"), path("blank.png"), example("sample.png")});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, example("sample.png") + ": Hello, ScanBench!\n");
    EXPECT_EQ(linesOf(r.err).size(), 2u) << r.err;

    for (const std::vector<std::string>& usage : {std::vector<std::string>{}, {"--frobnicate", example("sample.png")},
                                                  {"--layout", "Spiral", "x.png"}, {"--every", "2", "x.png"}}) {
        r = run(usage);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(linesOf(r.err).size(), 1u) << r.err;
        EXPECT_EQ(r.err.rfind("orbread: ", 0), 0u) << r.err;
    }
    r = run({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Common commands"), std::string::npos);
    r = run({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("orbread ", 0), 0u);
}

TEST_F(Orbread, OptionsChooseWhatIsRead)
{
    // The colour example is no black-and-white code, nor in another layout
    // (without the search, which would only try the same again in pieces).
    EXPECT_EQ(run({"--no-finder", "--code-type", "bw", example("colour-48.png")}).status, 1);
    EXPECT_EQ(run({"--code-type", "color", example("colour-48.png")}).status, 0);
    EXPECT_EQ(run({"--no-finder", "--layout", "Scrambled", example("sample.png")}).status, 1);
    EXPECT_EQ(run({"--no-finder", "--layout", "scrambled", example("scrambled-64.png")}).status, 0);

    // Two codes in one photograph: two lines, or one with --first.
    const std::vector<cv::Mat> photos = orb::samples::loadPhotos();
    ASSERT_FALSE(photos.empty());
    orb::samples::SceneRecipe recipe;
    recipe.frame = {800, 450};
    recipe.codeShares = {0.4, 0.4};
    recipe.faults = {false, false, false, 0};
    const orb::samples::Scene scene = orb::samples::makeScene(photos.front(), recipe);
    ASSERT_TRUE(cv::imwrite(path("two.png"), scene.image));
    ToolRun r = run({"two.png"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(linesOf(r.out).size(), 2u) << r.out;
    r = run({"--first", "two.png"});
    EXPECT_EQ(linesOf(r.out).size(), 1u) << r.out;
    // The finder is what finds codes off centre.
    EXPECT_EQ(run({"--no-finder", "two.png"}).status, 1);
}

TEST_F(Orbread, ReadsStandardInputAndFolders)
{
    ToolRun r = run({"-"}, " < " + shellQuoted(example("sample.png")));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "-: Hello, ScanBench!\n");
    r = run({"-"}, " < /dev/null");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("-: cannot read: standard input is empty"), std::string::npos) << r.err;

    fs::create_directories(path("top/sub"));
    fs::copy_file(example("sample.png"), path("top/a.png"));
    fs::copy_file(example("digits-16.png"), path("top/sub/b.png"));
    write("top/readme.txt", "not listed: no image file name");
    r = run({"top"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "top/a.png: Hello, ScanBench!\n");
    r = run({"-r", "top"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "top/a.png: Hello, ScanBench!\ntop/sub/b.png: 20261208\n");
}

// Each bad input: one clear line naming it, the others still read, the
// right exit status, no crash and no hang.
TEST_F(Orbread, BadInputs)
{
    const std::string sample = orb::testing::readFile(example("sample.png"));
    write("empty.png", "");
    write("truncated.png", sample.substr(0, sample.size() / 2));
    write("text.jpg", "hello");
    // A PGM header claiming 144 megapixels, above the loader's limit.
    write("huge.pgm", "P5\n12000 12000\n255\n" + std::string(1000, '\x80'));
    write("with space ü.png", sample);
    fs::create_directories(path("no images"));
    write("no images/notes.txt", "text");
    fs::create_directories(path("loop"));
    fs::copy_file(example("sample.png"), path("loop/a.png"));
    fs::create_directory_symlink("..", path("loop/up"));
    fs::create_symlink("self.png", path("loop/self.png"));

    const std::vector<std::string> names = {"empty.png", "truncated.png", "text.jpg",   "huge.pgm",
                                            "with space ü.png", "no images", "loop"};
    ToolRun r = run({"-r", "empty.png", "truncated.png", "text.jpg", "huge.pgm", "with space ü.png", "no images",
                     "loop"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "with space ü.png: Hello, ScanBench!\nloop/a.png: Hello, ScanBench!\n");
    const std::vector<std::string> errors = linesOf(r.err);
    for (const char* name : {"empty.png: cannot read: empty file", "truncated.png: cannot read",
                                    "text.jpg: cannot read", "huge.pgm: image too large",
                                    "no images: no images in this folder", "loop/self.png: ",
                                    "loop/up: symbolic link loop"})
        EXPECT_EQ(std::count_if(errors.begin(), errors.end(),
                                [&](const std::string& line) { return line.rfind(std::string("orbread: ") + name, 0) == 0; }),
                  1)
            << name << "\n" << r.err;
    EXPECT_EQ(errors.size(), 7u) << r.err;

    // A folder that cannot be opened; root reads it anyway.
    if (::geteuid() != 0) {
        fs::create_directories(path("closed"));
        fs::permissions(path("closed"), fs::perms::none);
        r = run({"closed", "with space ü.png"});
        fs::permissions(path("closed"), fs::perms::owner_all);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("closed: cannot read this folder"), std::string::npos) << r.err;
    }
}

// `orbread ... | head -1`: the reader stops when the output closes.
TEST_F(Orbread, StopsWhenStandardOutputCloses)
{
    std::string command = "set -o pipefail 2>/dev/null; timeout 60 " + shellQuoted(kOrbread);
    for (int i = 0; i < 60; ++i) command += " " + shellQuoted(example("sample.png"));
    command += " 2> " + shellQuoted(path("err.txt")) + " | head -1 > " + shellQuoted(path("out.txt")) + "; echo $? > " +
               shellQuoted(path("status.txt"));
    std::system(("bash -c " + shellQuoted(command)).c_str());
    EXPECT_EQ(orb::testing::readFile(path("out.txt")), example("sample.png") + ": Hello, ScanBench!\n");
    const std::string status = orb::testing::readFile(path("status.txt"));
    EXPECT_NE(status, "124\n") << "timed out";
    EXPECT_EQ(status, "2\n");
    EXPECT_EQ(orb::testing::readFile(path("err.txt")), "");
}

// Many files on several threads: still in the order given, and no progress
// bar when standard error is no terminal.
TEST_F(Orbread, ManyFilesKeepTheirOrderAndDrawNoBarIntoAFile)
{
    std::vector<std::string> args = {"--threads", "2"};
    for (int i = 0; i < 12; ++i) args.push_back(exampleImages()[i % 4]);
    const ToolRun r = run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> lines = linesOf(r.out);
    ASSERT_EQ(lines.size(), 12u) << r.out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].rfind(args[2 + i] + ": ", 0), 0u) << lines[i];
        if (i >= 4) {
            EXPECT_EQ(lines[i], lines[i - 4]);
        }
    }
}

// On a terminal (a pseudo-terminal made by script(1)) the bar shows the
// files done out of the total, and the summary line ends the run.
TEST_F(Orbread, DrawsAProgressBarOnATerminal)
{
    if (std::system("command -v script > /dev/null") != 0) GTEST_SKIP() << "script(1) is not installed";
    std::string command = shellQuoted(kOrbread) + " --threads 2";
    for (int i = 0; i < 5; ++i) command += " " + shellQuoted(exampleImages()[i % 4]);
    const std::string transcript = path("terminal.txt");
    std::system(("script -qec " + shellQuoted(command) + " /dev/null > " + shellQuoted(transcript) + " 2>&1").c_str());
    const std::string shown = orb::testing::readFile(transcript);
    EXPECT_NE(shown.find("5/5 files"), std::string::npos) << shown;
    EXPECT_NE(shown.find("orbread: 5 images: 5 with codes"), std::string::npos) << shown;
}

// The outline drawn lies on the code: every outline pixel of the picture is
// near the code's outer edge, and they go all round it.
TEST_F(Orbread, AnnotatedPictureOutlinesTheCode)
{
    const std::vector<cv::Mat> photos = orb::samples::loadPhotos();
    ASSERT_FALSE(photos.empty());
    orb::samples::SceneRecipe recipe;
    recipe.frame = {960, 640};
    recipe.codeShares = {0.45};
    recipe.faults = {false, false, false, 0};
    const orb::samples::Scene scene = orb::samples::makeScene(photos.front(), recipe);
    ASSERT_TRUE(cv::imwrite(path("scene.png"), scene.image));
    const ToolRun r = run({"--json", "--annotate", "seen", "scene.png"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto line = nlohmann::json::parse(linesOf(r.out).at(0));

    const cv::Mat picture = cv::imread(path("seen/scene.png.png"), cv::IMREAD_COLOR);
    ASSERT_EQ(picture.size(), scene.image.size());
    const cv::Point2f centre = scene.codes.at(0).centre;
    // The outline's radius as the reader reports it, checked against the placed code.
    double outlineRadius = 0;
    for (const auto& p : line["outline"]) outlineRadius += std::hypot(p[0].get<double>() - centre.x, p[1].get<double>() - centre.y);
    outlineRadius /= line["outline"].size();
    EXPECT_LT(outlineRadius, scene.codes[0].diameter * 0.6);
    EXPECT_GT(outlineRadius, scene.codes[0].diameter * 0.3);

    int onOutline = 0, elsewhere = 0;
    std::vector<bool> sectors(36, false);
    for (int y = 0; y < picture.rows; ++y)
        for (int x = 0; x < picture.cols; ++x) {
            const cv::Vec3b p = picture.at<cv::Vec3b>(y, x);
            if (p != cv::Vec3b(0, 200, 0) || scene.image.at<cv::Vec3b>(y, x) == p) continue;
            const double distance = std::hypot(x - centre.x, y - centre.y);
            if (std::abs(distance - outlineRadius) < 0.08 * outlineRadius + 4) {
                ++onOutline;
                const double angle = std::atan2(y - centre.y, x - centre.x) + M_PI;
                sectors[std::min(35, static_cast<int>(angle / (2 * M_PI) * 36))] = true;
            } else {
                ++elsewhere;
            }
        }
    EXPECT_GT(onOutline, 2 * M_PI * outlineRadius);
    EXPECT_EQ(elsewhere, 0);
    EXPECT_EQ(std::count(sectors.begin(), sectors.end(), true), 36);
}

// A damaged file is trouble (exit 2) even when its code still reads; a code
// on a later page of a TIFF is named by its page.
TEST_F(Orbread, DamagedFilesAndPagesAreReportedAsSuch)
{
    const cv::Mat sample = cv::imread(example("sample.png"), cv::IMREAD_COLOR);
    std::vector<unsigned char> jpeg;
    ASSERT_TRUE(cv::imencode(".jpg", sample, jpeg, {cv::IMWRITE_JPEG_QUALITY, 95}));
    const std::string whole(jpeg.begin(), jpeg.end());
    write("most.jpg", whole.substr(0, whole.size() * 9 / 10));
    write("tenth.jpg", whole.substr(0, whole.size() / 10));

    ToolRun r = run({"most.jpg", "tenth.jpg"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "most.jpg: Hello, ScanBench!\n");
    EXPECT_EQ(r.err, "orbread: most.jpg: truncated JPEG: the data ends before the end-of-image marker\n"
                     "orbread: tenth.jpg: cannot read: truncated JPEG: the data ends before the end-of-image marker\n");

    const cv::Mat blank(200, 200, CV_8UC3, cv::Scalar::all(255));
    ASSERT_TRUE(cv::imwrite(path("pages.tiff"), std::vector<cv::Mat>{blank, sample}));
    r = run({"pages.tiff"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "pages.tiff#2: Hello, ScanBench!\n");
}
