#include "app/command_line.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "app/settings.h"
#include "console/version.h"
#include "orb/logger.h"

namespace app {

CommandLine::CommandLine(int argumentCount, const char* const* arguments, char optionPrefix)
    : argumentCount_(argumentCount), arguments_(arguments), optionPrefix_(optionPrefix)
{
}

bool CommandLine::findOption(const std::string& name, std::string& value) const
{
    for (int i = 0; i < argumentCount_; ++i) {
        if (name != arguments_[i]) continue;
        if (i + 1 >= argumentCount_) return false;
        value = arguments_[i + 1];
        return true;
    }
    return false;
}

int CommandLine::getIntOption(const std::string& name) const
{
    std::string value;
    if (!findOption(name, value)) return 3;
    const char* begin = value.c_str();
    char* end = nullptr;
    errno = 0;
    const long number = std::strtol(begin, &end, 10);
    // Out of int's range is refused too: the result is an int and must not wrap.
    if (end == begin || *end != '\0' || errno == ERANGE || number < INT_MIN || number > INT_MAX)
        throw std::logic_error("Option " + name + " must be an integer, but read: " + value);
    return static_cast<int>(number);
}

std::string CommandLine::getStringOption(const std::string& name, const std::string& fallback) const
{
    std::string value;
    return findOption(name, value) ? value : fallback;
}

std::string buildCodeTypeList()
{
    std::string list;
    for (int codeType = 0; codeType <= 1; ++codeType) {
        if (!list.empty()) list += ", ";
        list += std::to_string(codeType) + ": " + codeTypeName(codeType);
    }
    return list;
}

std::string buildLevelList()
{
    std::string list;
    for (int level = 0; level <= static_cast<int>(orb::LogLevel::Off); ++level) {
        if (!list.empty()) list += ", ";
        list += std::to_string(level) + ": " + orb::levelName(level);
    }
    return list;
}

void printBanner(std::ostream& out)
{
    out << "ScanBench, the Orbel code reader, version " << console::kVersion << '\n' << '\n';
    out << "Decode Orbel Codes" << '\n' << std::endl;
}

void printUsage(const std::string& codeTypeList, const std::string& levelList, std::ostream& out)
{
    out << "Usage of ScanBench" << '\n'
        << "-------------------------" << '\n'
        << "  -r filename : read and decode an orbel code image file" << '\n'
        << "  -c codetype : set code type (" << codeTypeList << ")" << '\n'
        << "  -v          : view orbel code" << '\n'
        << "  -ll logLevel: set log level to " << levelList << '\n'
        << "  -lc logLevel: set console log level to " << '\n'
        << "  -lf filename: set log file name" << '\n'
        << std::endl;
}

} // namespace app
