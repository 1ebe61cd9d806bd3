#include "app/file_mode.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <string>

#include <unistd.h>

#include "console/escaped_text.h"
#include "orb/decoder.h"
#include "orb/found_codes.h"
#include "orb/image_file.h"
#include "orb/logger.h"
#include "orb/reader.h"

namespace app {

std::int64_t currentTicks()
{
    using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>;
    return std::chrono::duration_cast<Ticks>(std::chrono::system_clock::now().time_since_epoch()).count();
}

void printElapsed(std::int64_t elapsedTicks, std::ostream& out)
{
    out << elapsedTicks / 10000.0 << " ms" << std::endl;
    out << elapsedTicks * 100 << " ns" << std::endl;
}

ConsoleRead findCodeOptions(const orb::DecoderConfiguration& config)
{
    ConsoleRead read;
    read.reader.codeTypes = {static_cast<orb::CodeType>(config.codeType)};
    read.reader.layout = static_cast<orb::Layout>(config.layout);
    read.wholeImage = false; // decode has just done that
    return read;
}

orb::ReadResult readConsole(const cv::Mat& image, const ConsoleRead& read)
{
    if (read.wholeImage) return orb::readCode(image, read.reader);
    return read.searchArea.empty() ? orb::readFoundCode(image, read.reader)
                                   : orb::readFoundCodeNear(image, read.searchArea, read.reader);
}

bool findCode(const orb::DecoderConfiguration& config, const cv::Mat& image, std::string& text)
{
    try {
        const orb::ReadResult result = readConsole(image, findCodeOptions(config));
        if (result) text = result.text();
        return static_cast<bool>(result);
    } catch (const std::exception&) {
        return false;
    }
}

int runFileMode(const CommandLine& commandLine, const orb::DecoderConfiguration& config)
{
    // The C library generator stays seeded as it always was; grid sampling
    // no longer draws from it, so a read does not depend on the clock.
    std::srand(static_cast<unsigned>(std::time(nullptr)));

    // With a single argument these lookups find nothing and give their defaults.
    const int fileLevel = commandLine.getIntOption("-ll");
    const int consoleLevel = commandLine.getIntOption("-lc");
    const std::string logFileName = commandLine.getStringOption("-lf", "log.txt");
    orb::logger().startLogging(logFileName, fileLevel, consoleLevel);

    const std::string fileName = commandLine.argument(1);
    // A terminal would act on control characters in a name or a code; a
    // pipe or file gets the exact bytes, which scripts may rely on.
    const bool terminal = isatty(STDOUT_FILENO) != 0;
    const auto shown = [terminal](const std::string& text) { return terminal ? console::escaped(text) : text; };
    std::cout << "Read orbel code image file '" << shown(fileName) << "'" << std::endl << std::endl;

    // Refuses decompression bombs with a Warning of their size.
    const cv::Mat image = orb::loadImage(fileName).image;

    std::string text;
    bool decoded = false;
    const std::int64_t start = currentTicks();
    if (image.empty()) {
        orb::logger().line(orb::LogLevel::Error, "Image file '", fileName, "' cannot be read");
    } else {
        try {
            text = orb::decode(config, image, true);
            decoded = true;
        } catch (const std::exception& e) {
            // A code elsewhere in the picture still reads; decode's reason is
            // the one reported when none does.
            decoded = findCode(config, image, text);
            if (!decoded) orb::logger().line(orb::LogLevel::Error, e.what());
        }
    }
    const std::int64_t elapsed = currentTicks() - start;

    if (decoded) {
        if (!text.empty()) std::cout << "Encoded text is: " << shown(text) << std::endl;
        else std::cout << "No data found" << std::endl;
    }
    printElapsed(elapsed);
    return 0;
}

} // namespace app
