#include <gtest/gtest.h>

#include <sstream>

#include "orb/logger.h"

using namespace orb;

TEST(LevelNames, SettingsNamesAndPrefixesDiffer)
{
    EXPECT_STREQ(levelName(0), "All");
    EXPECT_STREQ(linePrefix(0), "Trace");
    EXPECT_STREQ(levelName(7), "Undefined");
    EXPECT_STREQ(levelName(-1), "Undefined");
    EXPECT_EQ(parseLevelName("warning"), 2);
    EXPECT_EQ(parseLevelName("Off"), 6);
    EXPECT_EQ(parseLevelName("All"), 0);
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
