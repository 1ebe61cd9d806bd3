// orbread's inputs: folders reached by several links, names that need
// escaping, lists of names, files it may not read, formats the image
// library does not read, and option values it does not take.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "image_loading.h"
#include "inputs.h"
#include "standard_input.h"
#include "support/temporary_directory.h"
#include "tools/tool_run.h"

namespace {

namespace fs = std::filesystem;

using orb::testing::linesOf;
using orb::testing::runTool;
using orb::testing::shellQuoted;
using orb::testing::ToolRun;

const std::string kOrbread = std::string(ORB_BINARY_DIR) + "/tools/orbread";
const std::string kOrbwrite = std::string(ORB_BINARY_DIR) + "/tools/orbwrite";
const fs::path kSample = fs::path(ORB_SOURCE_DIR) / "examples" / "sample.png";
const std::string kSampleText = "Hello, ScanBench!";

class OrbreadInputs : public ::testing::Test {
protected:
    ToolRun run(const std::vector<std::string>& args, const std::string& tail = "", const std::string& prefix = "") const
    {
        return runTool(kOrbread, args, dir_.path(), prefix, tail);
    }
    std::string path(const std::string& name) const { return (dir_.path() / name).string(); }
    void write(const std::string& name, const std::string& bytes) const
    {
        std::ofstream(path(name), std::ios::binary) << bytes;
    }

    orb::testing::TemporaryDirectory dir_{"orbread_inputs"};
};

// A GIF of `grey` in four grey levels, written without compression: a
// clear code before every two pixels keeps the codes three bits wide. The
// image and video libraries here write no GIF.
std::string gifOf(const cv::Mat& grey)
{
    std::string gif = "GIF89a";
    auto word = [&](int value) { gif += static_cast<char>(value & 255), gif += static_cast<char>(value >> 8); };
    word(grey.cols);
    word(grey.rows);
    gif += std::string("\xf1\x00\x00", 3); // a global palette of four colours
    for (int level : {0, 85, 170, 255}) gif += std::string(3, static_cast<char>(level));
    gif += ',';
    word(0), word(0), word(grey.cols), word(grey.rows);
    gif += std::string("\x00\x02", 2); // no local palette; codes start at two bits
    std::string data;
    std::uint32_t bits = 0;
    int count = 0;
    auto code = [&](std::uint32_t value) {
        bits |= value << count;
        count += 3;
        while (count >= 8) data += static_cast<char>(bits & 255), bits >>= 8, count -= 8;
    };
    for (int i = 0; i < grey.rows * grey.cols; ++i) {
        if (i % 2 == 0) code(4);
        code(grey.at<std::uint8_t>(i / grey.cols, i % grey.cols) / 64);
    }
    code(5);
    if (count > 0) data += static_cast<char>(bits & 255);
    for (std::size_t at = 0; at < data.size(); at += 255) {
        const std::string block = data.substr(at, 255);
        gif += static_cast<char>(block.size());
        gif += block;
    }
    return gif + std::string("\x00;", 2);
}

} // namespace

// Twelve levels, each linked twice from the one above: 4096 ways to the
// image at the bottom, which is read once, as is each real folder.
TEST_F(OrbreadInputs, FoldersReachedByManyLinksAreReadOnce)
{
    constexpr int kLevels = 12;
    for (int level = 0; level <= kLevels; ++level) fs::create_directories(path("level" + std::to_string(level)));
    for (int level = 0; level < kLevels; ++level)
        for (const char* link : {"left", "right"})
            fs::create_directory_symlink(path("level" + std::to_string(level + 1)),
                                         path("level" + std::to_string(level) + "/" + link));
    fs::copy_file(kSample, path("level" + std::to_string(kLevels) + "/code.png"));
    const ToolRun r = run({"-r", "--threads", "1", "level0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(linesOf(r.out).size(), 1u) << r.out.substr(0, 500);
    EXPECT_EQ(r.err, "");
    // A folder named twice is still read twice, as a file named twice is.
    EXPECT_EQ(linesOf(run({"-r", "level11", "level11"}).out).size(), 2u);
}

// A newline in a name would split its line, an escape sequence would reach
// the terminal: both are written as C escapes, on standard error too.
TEST_F(OrbreadInputs, ControlCharactersInNamesAreEscaped)
{
    fs::copy_file(kSample, path("two\nlines.png"));
    fs::copy_file(kSample, path("\x1b[31mred.png"));
    write("bad\rname.png", "no image");
    const ToolRun r = run({"two\nlines.png", "\x1b[31mred.png", "bad\rname.png"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "two\\nlines.png: " + kSampleText + "\n\\x1b[31mred.png: " + kSampleText + "\n");
    EXPECT_EQ(r.err.rfind("orbread: bad\\rname.png: cannot read", 0), 0u) << r.err;
    EXPECT_EQ(r.err.find('\r'), std::string::npos);
}

// --files-from: lines by default (empty ones skipped, CR LF taken), NUL
// bytes with -0 so that any name goes through; "-" in a list is a file.
TEST_F(OrbreadInputs, NamesComeFromAListOrAPipe)
{
    fs::copy_file(kSample, path("plain.png"));
    fs::copy_file(kSample, path("new\nline.png"));
    fs::copy_file(kSample, path("-"));
    write("list.txt", "plain.png\n\n-\r\n");
    ToolRun r = run({"--files-from", "list.txt"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "plain.png: " + kSampleText + "\n-: " + kSampleText + "\n");

    write("list0", std::string("new\nline.png\0plain.png\0", 23));
    r = run({"--files-from", "-", "-0", "--json"}, " < list0");
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(linesOf(r.out).size(), 2u) << r.out;
    EXPECT_NE(r.out.find("\"file\":\"new\\nline.png\""), std::string::npos) << r.out;

    r = run({"--files-from", "missing.txt"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "orbread: missing.txt: cannot read the --files-from list: No such file or directory\n");
    r = run({"--files-from", "-", "-"}, " < list.txt");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(linesOf(r.err).size(), 1u) << r.err;
}

// Standard input beyond the limit is refused once the limit is passed, not
// after it was all read; an image within it reads from memory.
TEST_F(OrbreadInputs, StandardInputHasALimit)
{
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const std::string bytes(50000, '\0');
    ASSERT_EQ(::write(ends[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    // The writer stays open: the reader must stop at the limit by itself.
    const orbread::StandardInput refused = orbread::takeStandardInput(ends[0], 40000);
    ::close(ends[0]);
    ::close(ends[1]);
    EXPECT_TRUE(refused.path.empty());
    EXPECT_EQ(refused.error, "standard input is larger than 0 MB, the largest image file the reader takes");
    EXPECT_EQ(orbread::kMaxStandardInputBytes, 496'777'216);

    const ToolRun r = run({"-"}, " < " + shellQuoted(kSample.string()));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "-: " + kSampleText + "\n");
}

// A file or folder the user may not read says so, once; root may read
// anything, so the run is made as nobody where that is possible.
TEST_F(OrbreadInputs, PermissionDeniedIsSaidOnce)
{
    if (::geteuid() == 0 && std::system("command -v setpriv > /dev/null && id nobody > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "running as root without setpriv or user nobody";
    fs::copy_file(kSample, path("closed.png"));
    fs::permissions(path("closed.png"), fs::perms::none);
    fs::create_directories(path("closed"));
    fs::copy_file(kSample, path("closed/inside.png"));
    fs::permissions(path("closed"), fs::perms::none);
    fs::permissions(dir_.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec |
                                     fs::perms::group_read | fs::perms::others_read);
    const std::string asUser = ::geteuid() == 0 ? "setpriv --reuid=nobody --regid=nogroup --clear-groups " : "";
    const ToolRun r = run({"closed.png", "closed"}, "", asUser);
    fs::permissions(path("closed"), fs::perms::owner_all);
    if (r.err.find("Permission denied") == std::string::npos && r.status == 0) GTEST_SKIP() << "the files were readable";
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err,
              "orbread: closed.png: cannot read: Permission denied\n"
              "orbread: closed: cannot read this folder: Permission denied\n");
}

// The SVG orbwrite writes, from a file and from standard input; a GIF of
// one frame; the formats told by their bytes, not their names.
TEST_F(OrbreadInputs, ReadsSvgAndGif)
{
    ASSERT_EQ(std::system((shellQuoted(kOrbwrite) + " -o " + shellQuoted(path("code.svg")) + " 'Vector code' > /dev/null").c_str()), 0);
    fs::copy_file(path("code.svg"), path("code-svg.png"));
    ToolRun r = run({"code.svg", "code-svg.png"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "code.svg: Vector code\ncode-svg.png: Vector code\n");
    r = run({"-"}, " < code.svg");
    EXPECT_EQ(r.out, "-: Vector code\n") << r.err;
    write("broken.svg", "<svg xmlns='http://www.w3.org/2000/svg' width='10' <<<");
    r = run({"broken.svg"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("orbread: broken.svg: cannot read: cannot rasterise SVG", 0), 0u) << r.err;

    write("code.gif", gifOf(cv::imread(kSample.string(), cv::IMREAD_GRAYSCALE)));
    r = run({"code.gif"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "code.gif: " + kSampleText + "\n");
    // A GIF header claiming 65535 x 65535 pixels is refused from the header.
    write("huge.gif", std::string("GIF89a\xff\xff\xff\xff\x00\x00\x00", 13));
    EXPECT_EQ(orbread::loadInputImage(path("huge.gif")).status, orb::ImageLoad::Status::TooLarge);
    EXPECT_EQ(orbread::detectFormat("\xEF\xBB\xBF<?xml version='1.0'?>\n<!-- drawn -->\n<svg>"), orbread::ImageFormat::Svg);
    EXPECT_EQ(orbread::detectFormat("<?xml version='1.0'?><html>"), orbread::ImageFormat::Library);
}

// A restriction that makes a read fail says that the default reads it.
TEST_F(OrbreadInputs, ARestrictionThatFailsNamesTheDefault)
{
    const ToolRun r = run({"--no-finder", "--layout", "Scrambled", "--code-type", "bw", kSample.string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "orbread: " + kSample.string() +
                         ": no code found with --code-type bw --layout Scrambled; the default (auto) reads it\n");
}

// Each bad value: one line naming the option and what it takes.
TEST_F(OrbreadInputs, BadOptionValuesSayWhatTheOptionTakes)
{
    const std::vector<std::vector<std::string>> cases = {
        {"--max-codes", "0"},        {"--max-codes", "-1"},      {"--max-codes", "abc"},
        {"--max-codes", "2x"},       {"--threads", "0"},         {"--threads", "5000"},
        {"--every", "0", "--video", "x.avi"},                    {"--dedupe", "nan", "--video", "x.avi"},
        {"--dedupe", "-1", "--video", "x.avi"},                  {"--dedupe", "inf", "--video", "x.avi"},
        {"--layout", "Spiral"},      {"--code-type", "grey"},
    };
    for (std::vector<std::string> args : cases) {
        const std::string option = args[0];
        args.push_back(kSample.string());
        const ToolRun r = run(args);
        EXPECT_EQ(r.status, 2) << option;
        EXPECT_EQ(r.out, "");
        ASSERT_EQ(linesOf(r.err).size(), 1u) << r.err;
        EXPECT_EQ(r.err.rfind("orbread: " + option + ": takes ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("'" + args[1] + "'"), std::string::npos) << r.err;
        EXPECT_LT(r.err.size(), 200u) << r.err;
    }
}
