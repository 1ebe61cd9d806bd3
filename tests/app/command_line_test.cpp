#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/command_line.h"

using app::CommandLine;

namespace {

// Keeps the argument texts alive for the CommandLine that points at them.
struct Arguments {
    explicit Arguments(std::vector<std::string> texts) : texts(std::move(texts))
    {
        for (const auto& t : this->texts) pointers.push_back(t.c_str());
    }
    CommandLine commandLine() const { return CommandLine(static_cast<int>(pointers.size()), pointers.data()); }
    std::vector<std::string> texts;
    std::vector<const char*> pointers;
};

std::string intOptionError(const CommandLine& commandLine, const std::string& name)
{
    try {
        commandLine.getIntOption(name);
    } catch (const std::logic_error& e) {
        return e.what();
    }
    return "no error";
}

} // namespace

TEST(FindOption, MatchNeedsAFollowingElement)
{
    std::string value = "untouched";
    EXPECT_FALSE(Arguments({"ScanBench", "-ll"}).commandLine().findOption("-ll", value));
    EXPECT_EQ(value, "untouched");
    EXPECT_TRUE(Arguments({"ScanBench", "-ll", "2"}).commandLine().findOption("-ll", value));
    EXPECT_EQ(value, "2");
    EXPECT_FALSE(Arguments({"ScanBench", "-l", "2"}).commandLine().findOption("-ll", value));
    EXPECT_FALSE(Arguments({"ScanBench", "-lll", "2"}).commandLine().findOption("-ll", value));
}

TEST(FindOption, FirstMatchWinsAndValuesCanMatch)
{
    const Arguments args({"ScanBench", "-lf", "-ll", "-ll", "4"});
    std::string value;
    ASSERT_TRUE(args.commandLine().findOption("-ll", value));
    EXPECT_EQ(value, "-ll");
    ASSERT_TRUE(args.commandLine().findOption("-lf", value));
    EXPECT_EQ(value, "-ll");
    // The program path takes part in the search.
    ASSERT_TRUE(Arguments({"-x", "file"}).commandLine().findOption("-x", value));
    EXPECT_EQ(value, "file");
}

TEST(GetIntOption, AcceptsWholeIntegersOnly)
{
    EXPECT_EQ(Arguments({"ScanBench"}).commandLine().getIntOption("-ll"), 3);
    EXPECT_EQ(Arguments({"ScanBench", "-ll"}).commandLine().getIntOption("-ll"), 3);
    EXPECT_EQ(Arguments({"ScanBench", "-ll", "2"}).commandLine().getIntOption("-ll"), 2);
    EXPECT_EQ(Arguments({"ScanBench", "-ll", " 2"}).commandLine().getIntOption("-ll"), 2);
    EXPECT_EQ(Arguments({"ScanBench", "-ll", "-1"}).commandLine().getIntOption("-ll"), -1);
    EXPECT_EQ(Arguments({"ScanBench", "-ll", "+6"}).commandLine().getIntOption("-ll"), 6);

    for (const std::string bad : {"2x", "x", "", "2 ", "99999999999999999999", "4294967297", "0x2"}) {
        const Arguments args({"ScanBench", "-ll", bad});
        EXPECT_EQ(intOptionError(args.commandLine(), "-ll"), "Option -ll must be an integer, but read: " + bad);
    }
}

TEST(GetStringOption, ValueOrFallback)
{
    EXPECT_EQ(Arguments({"ScanBench", "-lf", "run.log"}).commandLine().getStringOption("-lf", "log.txt"), "run.log");
    EXPECT_EQ(Arguments({"ScanBench", "-lf"}).commandLine().getStringOption("-lf", "log.txt"), "log.txt");
    EXPECT_EQ(Arguments({"ScanBench", "-lf", ""}).commandLine().getStringOption("-lf", "log.txt"), "");
}

TEST(StartupTexts, ListsBannerAndUsage)
{
    EXPECT_EQ(app::buildCodeTypeList(), "0: BlackAndWhite, 1: Color");
    EXPECT_EQ(app::buildLevelList(), "0: All, 1: Debug, 2: Info, 3: Warning, 4: Error, 5: Fatal, 6: Off");

    std::ostringstream banner;
    app::printBanner(banner);
    const std::string bannerText = banner.str();
    const auto firstLineEnd = bannerText.find('\n');
    EXPECT_EQ(bannerText.substr(firstLineEnd - 7, 7), "1.23.38");
    EXPECT_EQ(bannerText.substr(firstLineEnd), "\n\nDecode Orbel Codes\n\n");

    std::ostringstream usage;
    app::printUsage("CT", "LL", usage);
    EXPECT_EQ(usage.str(), "Usage of ScanBench\n"
                           "-------------------------\n"
                           "  -r filename : read and decode an orbel code image file\n"
                           "  -c codetype : set code type (CT)\n"
                           "  -v          : view orbel code\n"
                           "  -ll logLevel: set log level to LL\n"
                           "  -lc logLevel: set console log level to \n"
                           "  -lf filename: set log file name\n"
                           "\n");
}
