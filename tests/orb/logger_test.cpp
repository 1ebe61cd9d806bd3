#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <iostream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "orb/logger.h"
#include "support/temporary_directory.h"

using namespace orb;
namespace fs = std::filesystem;
using orb::testing::readFile;

namespace {

class LoggerFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        temporary = std::make_unique<orb::testing::TemporaryDirectory>("logger_test");
        dir = temporary->path();
        log.setConsoleStream(console);
    }
    void TearDown() override { temporary.reset(); }

    std::unique_ptr<orb::testing::TemporaryDirectory> temporary;
    fs::path dir;
    std::ostringstream console;
    Logger log;
};

const std::string kHyphens(80, '-');

} // namespace

TEST(LevelNames, SettingsNamesAndPrefixesDiffer)
{
    EXPECT_STREQ(levelName(0), "All");
    EXPECT_STREQ(linePrefix(0), "Trace");
    EXPECT_STREQ(levelName(6), "Off");
    EXPECT_STREQ(levelName(7), "Undefined");
    EXPECT_STREQ(levelName(-1), "Undefined");
    EXPECT_EQ(parseLevelName("warning"), 2);
    EXPECT_EQ(parseLevelName("Off"), 6);
    EXPECT_EQ(parseLevelName("All"), 0);
    EXPECT_EQ(parseLevelName("Trace"), 2);
    EXPECT_EQ(parseLevelName("Undefined"), 2);
}

TEST(Logger, ConsoleThresholdIsInclusive)
{
    Logger log;
    std::ostringstream console;
    log.setConsoleStream(console);
    log.setConsoleLevel(3);
    log.line(LogLevel::Info, "hidden");
    log.line(LogLevel::Warning, "Frame size ", 640, " x ", 480, " not supported. Use last valid size.");
    EXPECT_EQ(console.str(), "Warning\tFrame size 640 x 480 not supported. Use last valid size.\n");
}

// A library user hears nothing unless the host asks: the console sink is off
// until a threshold is set, as the console program does at its start.
TEST(Logger, InitialThresholdsAndNoFileBeforeStart)
{
    Logger log;
    EXPECT_EQ(log.fileLevel(), 2);
    EXPECT_EQ(log.consoleLevel(), 6);
    EXPECT_FALSE(log.accepts(LogLevel::Fatal));
    log.setConsoleLevel(3);
    EXPECT_FALSE(log.accepts(LogLevel::Info));
    EXPECT_TRUE(log.accepts(LogLevel::Warning));
}

TEST(Logger, LinesBuiltFromPiecesWithDefaultNumberFormatting)
{
    Logger log;
    std::ostringstream console;
    log.setConsoleStream(console);
    log.setConsoleLevel(0);
    log.beginLine(LogLevel::Trace) << "r=" << 2.0 / 3.0 << ' ' << -7 << std::string(" end");
    log.endLine();
    log.line(LogLevel::Fatal, "x");
    EXPECT_EQ(console.str(), "Trace\tr=0.666667 -7 end\nFatal\tx\n");
}

TEST_F(LoggerFiles, FileTakesEverythingWhileConsoleIsOff)
{
    const fs::path file = dir / "log.txt";
    log.startLogging(file.string(), 0, 6);
    log.line(LogLevel::Trace, "deep");
    log.line(LogLevel::Info, "info ", 3);
    log.stopLogging();
    EXPECT_EQ(console.str(), "");

    const std::string text = readFile(file);
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, kHyphens);
    std::getline(lines, line);
    // One fixed form whatever the locale: "Tue Dec  8 12:25:20 2026".
    const std::regex stamp(R"([A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4})");
    EXPECT_TRUE(std::regex_match(line.substr(std::string("Start logging on ").size()), stamp)) << line;
    EXPECT_EQ(line.rfind("Start logging on ", 0), 0u);
    std::getline(lines, line);
    EXPECT_EQ(line, "Trace\tdeep");
    std::getline(lines, line);
    EXPECT_EQ(line, "Info\tinfo 3");
    std::getline(lines, line);
    EXPECT_EQ(line.rfind("Stop logging on ", 0), 0u);
    std::getline(lines, line);
    EXPECT_EQ(line, kHyphens);
    EXPECT_FALSE(std::getline(lines, line));
}

TEST_F(LoggerFiles, BothSinksOffLeavesOnlyTheFrame)
{
    const fs::path file = dir / "log.txt";
    log.startLogging(file.string(), 6, 6);
    log.line(LogLevel::Fatal, "never");
    log.stopLogging();
    EXPECT_EQ(console.str(), "");
    const std::string text = readFile(file);
    EXPECT_EQ(text.find("never"), std::string::npos);
    EXPECT_NE(text.find("Start logging on "), std::string::npos);
    EXPECT_NE(text.find("Stop logging on "), std::string::npos);
}

TEST_F(LoggerFiles, ThresholdsAreIndependentAndChangeable)
{
    const fs::path file = dir / "log.txt";
    log.startLogging(file.string(), 2, 4);
    log.line(LogLevel::Info, "file only");
    log.line(LogLevel::Error, "both");
    log.setConsoleLevel(1);
    log.setFileLevel(5);
    log.line(LogLevel::Debug, "console only");
    log.stopLogging();
    EXPECT_EQ(console.str(), "Error\tboth\nDebug\tconsole only\n");
    const std::string text = readFile(file);
    EXPECT_NE(text.find("Info\tfile only\nError\tboth\nStop"), std::string::npos) << text;
    EXPECT_EQ(text.find("console only"), std::string::npos);
}

TEST_F(LoggerFiles, SecondRunAppendsItsOwnBlock)
{
    const fs::path file = dir / "log.txt";
    for (const char* run : {"first", "second"}) {
        Logger runLog;
        runLog.setConsoleStream(console);
        runLog.startLogging(file.string(), 2, 6);
        runLog.line(LogLevel::Info, run);
    } // destruction writes the stop lines
    const std::string text = readFile(file);
    const auto first = text.find("Info\tfirst");
    const auto second = text.find("Info\tsecond");
    ASSERT_NE(first, std::string::npos);
    ASSERT_NE(second, std::string::npos);
    EXPECT_LT(first, second);
    const auto between = text.substr(first, second - first);
    EXPECT_NE(between.find("Stop logging on "), std::string::npos);
    EXPECT_NE(between.find("Start logging on "), std::string::npos);
}

TEST_F(LoggerFiles, UnopenableFileIsReportedAndConsoleGoesOn)
{
    const fs::path file = dir / "no" / "such" / "log.txt";
    std::ostringstream errors;
    std::streambuf* old = std::cerr.rdbuf(errors.rdbuf());
    log.startLogging(file.string(), 0, 3);
    std::cerr.rdbuf(old);
    EXPECT_EQ(errors.str(), "log file '" + file.string() + "' cannot be opened for appending\n");
    log.line(LogLevel::Warning, "still here");
    EXPECT_EQ(console.str(), "Warning\tstill here\n");
    EXPECT_FALSE(fs::exists(file));
}

TEST(Logger, LinesOfConcurrentThreadsStayWhole)
{
    Logger log;
    std::ostringstream console;
    log.setConsoleStream(console);
    log.setConsoleLevel(0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&log, t] {
            for (int i = 0; i < 300; ++i) {
                log.beginLine(LogLevel::Debug) << "thread " << t << " line " << i << " end";
                log.endLine();
            }
        });
    for (auto& thread : threads) thread.join();

    std::istringstream lines(console.str());
    const std::regex whole(R"(Debug\tthread [0-3] line [0-9]+ end)");
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) EXPECT_TRUE(std::regex_match(line, whole)) << line;
    EXPECT_EQ(count, 1200);
}
