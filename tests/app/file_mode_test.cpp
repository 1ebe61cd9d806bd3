#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "app/file_mode.h"
#include "orb/drawing/text_code.h"
#include "support/temporary_directory.h"

namespace fs = std::filesystem;
using orb::testing::readFile;

namespace {

// Runs the built program as a user would, in its own empty directory.
class ScanBenchRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        temporary = std::make_unique<orb::testing::TemporaryDirectory>("file_mode_test");
        dir = temporary->path();
    }
    void TearDown() override { temporary.reset(); }

    // Standard output of the run; standard input is empty.
    std::string run(const std::string& arguments)
    {
        const std::string command = "cd '" + dir.string() + "' && '" ORB_BINARY_DIR "/ScanBench' " + arguments +
                                    " < /dev/null 2> stderr.txt";
        FILE* pipe = popen(command.c_str(), "r");
        if (pipe == nullptr) return "popen failed";
        std::string out;
        char buffer[4096];
        while (const size_t n = fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
        const int status = pclose(pipe);
        exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return out;
    }

    std::unique_ptr<orb::testing::TemporaryDirectory> temporary;
    fs::path dir;
    int exitStatus = -1;
};

const std::regex kTimingLines(R"(\n[0-9]+(\.[0-9]+)?(e[-+][0-9]+)? ms\n[0-9]+ ns\n$)");

} // namespace

TEST(PrintElapsed, MillisecondsWithFractionThenNanoseconds)
{
    std::ostringstream out;
    app::printElapsed(1532210, out);
    EXPECT_EQ(out.str(), "153.221 ms\n153221000 ns\n");
}

TEST_F(ScanBenchRun, ImageWithoutCodeReportsTheFailureAndTimes)
{
    cv::Mat page(480, 640, CV_8UC3, cv::Scalar(255, 255, 255));
    cv::putText(page, "no code here", cv::Point(40, 240), cv::FONT_HERSHEY_SIMPLEX, 2, cv::Scalar(0, 0, 0), 3);
    ASSERT_TRUE(cv::imwrite((dir / "page.png").string(), page));

    const std::string out = run("page.png");
    EXPECT_EQ(exitStatus, 0);
    EXPECT_EQ(out.find("ScanBench"), 0u) << out;
    EXPECT_NE(out.find("1.23.38\n\nDecode Orbel Codes\n\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\nRead orbel code image file 'page.png'\n\nError\tInner circle not found\n"),
              std::string::npos)
        << out;
    EXPECT_TRUE(std::regex_search(out, kTimingLines)) << out;
    EXPECT_EQ(out.find("No data found"), std::string::npos);

    // The Error line reaches the log file as well, framed by the run's Start and Stop lines.
    run("page.png");
    const std::string log = readFile(dir / "log.txt");
    const std::string block = std::string(80, '-') + "\nStart logging on [^\n]+\nError\tInner circle not found\n"
                              "Stop logging on [^\n]+\n" + std::string(80, '-') + "\n";
    EXPECT_TRUE(std::regex_match(log, std::regex(block + block))) << log;
    EXPECT_FALSE(fs::exists(dir / "decoder_settings.json"));
}

TEST_F(ScanBenchRun, SmallCodeAwayFromTheCentreIsFoundAndPrintedAsADecodedOne)
{
    // Too small and too far out for decode alone; the finder reads it.
    orb::DrawOptions drawing;
    drawing.pitch = 6;
    drawing.hubRadius = 3;
    drawing.centreOffset = {-400.37, 180.21};
    drawing.canvas = {1280, 720};
    cv::Mat photo = orb::drawText("found it", orb::TextCodeOptions{}, drawing).image;
    cv::circle(photo, {1000, 200}, 60, cv::Scalar::all(30), cv::FILLED);
    ASSERT_TRUE(cv::imwrite((dir / "photo.png").string(), photo));

    const std::string out = run("photo.png");
    EXPECT_NE(out.find("\nRead orbel code image file 'photo.png'\n\nEncoded text is: found it\n"), std::string::npos)
        << out;
    EXPECT_EQ(out.find("Error"), std::string::npos) << out;
    EXPECT_TRUE(std::regex_search(out, kTimingLines)) << out;
}

TEST_F(ScanBenchRun, UnreadableFileIsNamedAndStillTimed)
{
    std::ofstream(dir / "broken.png") << "not an image";
    for (const std::string name : {"missing.png", "broken.png", "-ll"}) {
        const std::string out = run("'" + name + "'");
        EXPECT_EQ(exitStatus, 0);
        EXPECT_NE(out.find("Read orbel code image file '" + name + "'\n\nError\tImage file '" + name +
                           "' cannot be read\n"),
                  std::string::npos)
            << out;
        EXPECT_TRUE(std::regex_search(out, kTimingLines)) << out;
        EXPECT_EQ(readFile(dir / "stderr.txt"), "");
    }
}

TEST_F(ScanBenchRun, OtherArgumentCountsDoNotDecode)
{
    for (const std::string arguments : {"", "-r page.png", "a b c"}) {
        const std::string out = run(arguments);
        EXPECT_EQ(exitStatus, 0) << arguments;
        EXPECT_NE(out.find("Decode Orbel Codes"), std::string::npos);
        EXPECT_EQ(out.find("Read orbel code image file"), std::string::npos) << out;
    }
}

TEST_F(ScanBenchRun, SampleCodeTextIsPrinted)
{
    const std::string out = run("'" ORB_SOURCE_DIR "/examples/sample.png'");
    EXPECT_EQ(exitStatus, 0);
    const std::regex decoded(R"(\n\nEncoded text is: Hello, ScanBench!\n[0-9.e+-]+ ms\n[0-9]+ ns\n$)");
    EXPECT_TRUE(std::regex_search(out, decoded)) << out;
}

namespace {

std::uint32_t crc32(const std::string& bytes)
{
    std::uint32_t crc = 0xffffffffu;
    for (const unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A valid one-pixel PNG whose header claims `width` x `height`: the shape of
// a decompression bomb, without its megabytes.
std::string pngClaiming(std::uint32_t width, std::uint32_t height)
{
    std::vector<unsigned char> encoded;
    cv::imencode(".png", cv::Mat(1, 1, CV_8UC3, cv::Scalar::all(0)), encoded);
    std::string png(encoded.begin(), encoded.end());
    for (int i = 0; i < 4; ++i) {
        png[16 + i] = static_cast<char>(width >> (24 - 8 * i));
        png[20 + i] = static_cast<char>(height >> (24 - 8 * i));
    }
    const std::uint32_t crc = crc32(png.substr(12, 17)); // the header chunk's type and data
    for (int i = 0; i < 4; ++i) png[29 + i] = static_cast<char>(crc >> (24 - 8 * i));
    return png;
}

} // namespace

TEST_F(ScanBenchRun, OversizedImageIsRefusedBeforeItsPixelsAreDecoded)
{
    std::ofstream(dir / "bomb.png", std::ios::binary) << pngClaiming(30000, 30000);
    const std::string out = run("bomb.png");
    EXPECT_EQ(exitStatus, 0);
    EXPECT_NE(out.find("\n\nWarning\tImage file 'bomb.png' has 30000 x 30000 pixels, more than the limit of "
                       "120000000 pixels\nError\tImage file 'bomb.png' cannot be read\n"),
              std::string::npos)
        << out;
    EXPECT_TRUE(std::regex_search(out, kTimingLines)) << out;
}

namespace {

// The program's standard output when it is a terminal: a pseudo-terminal,
// read until the program closes it.
std::string runOnTerminal(const fs::path& dir, const std::string& argument)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return "no pseudo-terminal";
    const std::string terminal = ptsname(master);
    const std::string program = ORB_BINARY_DIR "/ScanBench";
    const pid_t child = fork();
    if (child == 0) {
        const int slave = open(terminal.c_str(), O_RDWR | O_NOCTTY);
        const int none = open("/dev/null", O_RDWR);
        if (slave < 0 || none < 0 || chdir(dir.c_str()) != 0) _exit(126);
        dup2(none, 0);
        dup2(slave, 1);
        dup2(none, 2);
        execl(program.c_str(), program.c_str(), argument.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string out;
    char buffer[4096];
    for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<std::size_t>(n));
    close(master); // read ends with EIO once the program has closed its side
    waitpid(child, nullptr, 0);
    return out;
}

} // namespace

// A code holding terminal controls coloured the terminal it was printed on.
TEST_F(ScanBenchRun, DecodedTextIsEscapedOnATerminalAndExactElsewhere)
{
    const std::string text = "\x1b[31mred\x07\nline";
    ASSERT_TRUE(cv::imwrite((dir / "controls.png").string(), orb::drawText(text, orb::TextCodeOptions{}).image));

    EXPECT_NE(run("controls.png").find("\nEncoded text is: " + text + "\n"), std::string::npos);

    const std::string shown = runOnTerminal(dir, "controls.png");
    EXPECT_NE(shown.find("Encoded text is: \\x1b[31mred\\x07\\nline\r\n"), std::string::npos) << shown;
    EXPECT_EQ(shown.find('\x1b'), std::string::npos) << shown;
}
