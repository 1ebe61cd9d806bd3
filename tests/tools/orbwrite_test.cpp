// orbwrite as a user runs it: a shell command, its exit status, what it
// prints and the file it leaves.
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "orb/decoder.h"
#include "orb/reader.h"
#include "orb/payload/module_layout.h"
#include "tools/tool_run.h"

namespace {

namespace fs = std::filesystem;

using orb::testing::runTool;
using orb::testing::shellQuoted;
using orb::testing::ToolRun;

class Orbwrite : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::path(ORB_BINARY_DIR) / "tests" /
               ("orbwrite_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    ToolRun run(const std::vector<std::string>& args, const std::string& tail = "") const
    {
        return runTool(std::string(ORB_BINARY_DIR) + "/tools/orbwrite", args, dir_, "", tail);
    }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    fs::path dir_;
};

std::string decodeFile(const std::string& file, std::int32_t codeType, std::int32_t layout)
{
    orb::DecoderConfiguration config;
    config.codeType = codeType;
    config.layout = layout;
    const cv::Mat image = cv::imread(file, cv::IMREAD_COLOR);
    if (image.empty()) return "<unreadable image>";
    try {
        return orb::decode(config, image, false);
    } catch (const orb::OCException& e) {
        return std::string("<") + orb::resultText(e.code) + ">";
    }
}

TEST_F(Orbwrite, HelpListsEveryOption)
{
    const ToolRun r = run({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.err.empty());
    EXPECT_NE(r.out.find("Usage: orbwrite [OPTIONS] [TEXT]"), std::string::npos) << r.out;
    for (const char* option : {"-o,--output FILE", "--modules", "--rings", "--ecc", "--type", "--layout", "--mask", "--color",
                               "--pitch", "--help", "HorizontalSnakeSmall", "Latin1", "Quartile"})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
}

// The defaults make a black-and-white code that the decoder reads.
TEST_F(Orbwrite, WritesAPngTheDecoderReads)
{
    const std::string file = path("hello.png");
    const ToolRun r = run({"-o", file, "Hello, ScanBench!"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    EXPECT_NE(r.out.find("32 modules per ring"), std::string::npos) << r.out;
    EXPECT_EQ(decodeFile(file, orb::BlackAndWhite, orb::HorizontalSnakeSmall), "Hello, ScanBench!");
}

// Every option that changes the code reaches the writer: the reader needs the
// same layout and code type to read it back.
TEST_F(Orbwrite, OptionsReachTheCode)
{
    const std::string file = path("options.png");
    const ToolRun r = run({"--modules=48", "--rings", "5", "--ecc", "High", "--type", "Letters", "--layout", "Scrambled",
                       "--mask", "3", "--color", "--pitch", "14", "-o", file, "ORBEL"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("48 modules per ring, 5 rings, colour, Letters, High ECC, Scrambled, mask 3"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(decodeFile(file, orb::Color, orb::Scrambled), "ORBEL");
    const orb::ReadResult read = orb::readCode(cv::imread(file, cv::IMREAD_COLOR));
    ASSERT_TRUE(read) << read.errorText();
    EXPECT_EQ(read.modulesPerRing, 48);
    EXPECT_EQ(read.ringCount, 5);
    EXPECT_EQ(read.codeType, orb::Color);
    EXPECT_EQ(read.dataType, orb::Letters);
    EXPECT_EQ(read.eccType, orb::High);
    EXPECT_EQ(read.layout, orb::Scrambled);
    // Read with the wrong layout it must not come out.
    EXPECT_NE(decodeFile(file, orb::Color, orb::Horizontal), "ORBEL");
}

TEST_F(Orbwrite, WritesAnSvgThatRendersToTheSameCode)
{
    const std::string file = path("hello.svg");
    const ToolRun r = run({"--modules", "16", "-o", file, "12345"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string svg = orb::testing::readFile(file);
    EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
    EXPECT_NE(svg.find("<svg xmlns=\"http://www.w3.org/2000/svg\""), std::string::npos);
    if (std::system("command -v rsvg-convert > /dev/null 2>&1") != 0) GTEST_SKIP() << "rsvg-convert is not installed";
    const std::string png = path("rendered.png");
    ASSERT_EQ(std::system(("rsvg-convert -b white -o " + shellQuoted(png) + " " + shellQuoted(file)).c_str()), 0);
    EXPECT_EQ(decodeFile(png, orb::BlackAndWhite, orb::HorizontalSnakeSmall), "12345");
}

// Each refusal: non-zero status, one line on standard error that names the
// cause, nothing on standard output and no file left behind.
TEST_F(Orbwrite, RefusalsAreOneClearLine)
{
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string says;
    };
    const std::string file = path("refused.png");
    const std::string longText(300, 'a');
    // Printable characters that no packing shortens much.
    std::string mixed;
    for (int i = 0; i < 200; ++i) mixed += static_cast<char>(33 + i % 94);
    const Case cases[] = {
        {{"-o", file, longText}, 1, "text too long"},
        {{"-o", file, "--ecc", "High", mixed}, 1, "text too long"},
        {{"-o", file, "--rings", "2", "Hello, ScanBench!"}, 1, "text too long for 2 rings"},
        {{"-o", file, "--type", "Digits", "abc"}, 1, "the type Digits cannot carry this text"},
        {{"-o", file}, 2, "no text given"},
        {{"Hello"}, 2, "no output file"},
        {{"-o", path("refused.bmp"), "Hello"}, 2, "must end in .png or .svg"},
        {{"-o", file, "Hello", "World"}, 2, "one argument"},
        {{"-o", file, "--modules", "20", "Hello"}, 2, "--modules must be 16, 32, 48 or 64"},
        {{"-o", file, "--modules", "3x2", "Hello"}, 2, "--modules needs a number"},
        {{"-o", file, "--rings", "1", "Hello"}, 2, "--rings must be 2 to 97"},
        {{"-o", file, "--rings", "2000000000", "Hello"}, 2, "--rings must be 2 to 97"},
        {{"-o", file, "--rings", "98", "Hello"}, 2, "--rings must be 2 to 97"},
        {{"-o", file, "--modules", "16", std::string(150, 'x')}, 1, "it needs 101 rings of 16 modules"},
        {{"-o", file, "-hello"}, 2, "unknown option -hello (a text that starts with - goes after --"},
        {{"-o", file, "-oops"}, 2, "unknown option -oops"},
        {{"-o", file, "--text-file", path("missing.txt")}, 2, "cannot read the text file"},
        {{"-o", file, "--text-file", path("missing.txt"), "Hello"}, 2, "not both"},
        {{"-o", file, "--mask", "5", "Hello"}, 2, "--mask must be 0 to 4"},
        {{"-o", file, "--pitch", "3", "Hello"}, 2, "--pitch must be 5 to 400"},
        {{"-o", file, "--ecc", "Huge", "Hello"}, 2, "--ecc must be one of Low, Medium, Quartile, High"},
        {{"-o", file, "--layout", "Spiral", "Hello"}, 2, "--layout must be one of"},
        {{"-o", file, "--frobnicate", "Hello"}, 2, "unknown option --frobnicate"},
        {{"Hello", "-o"}, 2, "--output needs a value"},
        {{"--labels", "-o", path("labels.svg"), "Hello"}, 2, "--labels writes PNG files only"},
        {{"-o", path("missing/dir/x.png"), "Hello"}, 1, "cannot write"},
        {{"-o", file, "--pitch", "400", "--rings", "30", "Hello"}, 1, "cannot draw the code"},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const auto& a : c.args) shown += " " + a.substr(0, 20);
        SCOPED_TRACE("orbwrite" + shown);
        const ToolRun r = run(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_EQ(r.err.rfind("orbwrite: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(fs::exists(file));
    }
}

// The raw-byte types read back as the bytes they carry, under their own name.
TEST_F(Orbwrite, RawByteTypesReadBackUnderTheirOwnName)
{
    for (const char* type : {"Binary", "BigLetters"}) {
        SCOPED_TRACE(type);
        const std::string file = path(std::string(type) + ".png");
        const ToolRun r = run({"--type", type, "-o", file, "HELLO"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(r.err.empty()) << r.err;
        const orb::ReadResult read = orb::readCode(cv::imread(file, cv::IMREAD_COLOR));
        ASSERT_TRUE(read) << read.errorText();
        EXPECT_EQ(read.text(), "HELLO");
        EXPECT_STREQ(orb::dataTypeName(read.dataType), type);
    }
}

// Any bytes, NUL included, come in through a file or standard input as they
// are; a text that starts with a dash is written after "--".
TEST_F(Orbwrite, TakesAnyTextFromAFileOrStandardInput)
{
    const std::string bytes("a\0b\xff-h\n", 7);
    std::ofstream(path("text.bin"), std::ios::binary) << bytes;
    const struct {
        std::vector<std::string> args;
        std::string tail;
        std::string text;
    } cases[] = {
        {{"--text-file", path("text.bin")}, "", bytes},
        {{"-"}, " < text.bin", bytes},
        {{"--", "-hello"}, "", "-hello"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back());
        const std::string file = path("text.png");
        std::vector<std::string> args{"-o", file};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ToolRun r = run(args, c.tail);
        ASSERT_EQ(r.status, 0) << r.err;
        const orb::ReadResult read = orb::readCode(cv::imread(file, cv::IMREAD_COLOR));
        ASSERT_TRUE(read) << read.errorText();
        EXPECT_EQ(read.text(), c.text);
        fs::remove(file);
    }
    const ToolRun huge = run({"-o", path("huge.png"), "-"}, " < /dev/zero");
    EXPECT_EQ(huge.status, 2);
    EXPECT_NE(huge.err.find("the text is over 64 KiB"), std::string::npos) << huge.err;
}

TEST_F(Orbwrite, VersionIsTheProjectVersion)
{
    const ToolRun r = run({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "orbwrite " ORB_PROJECT_VERSION "\n");
}

// Random codes near every limit: a code is written only when the reader
// gives its text back, and otherwise refused with the reason. Seeded, so
// the same codes each run (the filler still varies).
TEST_F(Orbwrite, WritesOnlyCodesThatReadBack)
{
    std::mt19937 random(19);
    const std::string alphabet = "0123456789 ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz+-*/=!?%";
    const std::string file = path("random.png");
    const auto pick = [&](std::initializer_list<const char*> values) {
        return std::string(*(values.begin() + random() % values.size()));
    };
    for (int i = 0; i < 12; ++i) {
        std::string text;
        const int length = i < 4 ? 150 + static_cast<int>(random() % 60) : 1 + static_cast<int>(random() % 120);
        for (int k = 0; k < length; ++k) text += alphabet[random() % alphabet.size()];
        std::vector<std::string> args{"-o", file, "--modules", i < 4 ? "16" : pick({"16", "32", "48", "64"}),
                                      "--ecc", pick({"Low", "Medium", "Quartile", "High"}),
                                      "--mask", std::to_string(random() % 5), "--pitch", pick({"8", "10", "12"})};
        if (random() % 3 == 0) args.push_back("--color");
        args.push_back(text);
        SCOPED_TRACE(::testing::PrintToString(args));
        fs::remove(file);
        const ToolRun r = run(args);
        if (r.status == 0) {
            const orb::ReadResult read = orb::readCode(cv::imread(file, cv::IMREAD_COLOR));
            EXPECT_TRUE(read) << read.errorText();
            EXPECT_EQ(read.text(), text);
        } else {
            EXPECT_EQ(r.status, 1);
            EXPECT_TRUE(r.err.find("does not read back") != std::string::npos ||
                        r.err.find("too long") != std::string::npos)
                << r.err;
            EXPECT_FALSE(fs::exists(file));
        }
    }
}

// The documentation picture: the code with its parts named beside it.
TEST_F(Orbwrite, LabelsWidenThePicture)
{
    const std::string plain = path("plain.png"), labelled = path("labelled.png");
    ASSERT_EQ(run({"--rings", "4", "-o", plain, "Orbel"}).status, 0);
    ASSERT_EQ(run({"--labels", "--rings", "4", "-o", labelled, "Orbel"}).status, 0);
    const cv::Mat a = cv::imread(plain), b = cv::imread(labelled);
    ASSERT_FALSE(a.empty());
    ASSERT_FALSE(b.empty());
    EXPECT_GT(b.cols, a.cols + 400);
    EXPECT_GE(b.rows, a.rows);
}

// A text that starts with a dash is still a text after "--".
TEST_F(Orbwrite, DoubleDashEndsTheOptions)
{
    const std::string file = path("dash.png");
    const ToolRun r = run({"-o", file, "--", "-42"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(decodeFile(file, orb::BlackAndWhite, orb::HorizontalSnakeSmall), "-42");
}

} // namespace
