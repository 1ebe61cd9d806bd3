#pragma once
// The program's arguments with a simple option lookup, and the start-up texts
// (banner, code type and level lists, usage) shared by both run modes.
#include <iostream>
#include <ostream>
#include <string>

namespace app {

class CommandLine {
public:
    CommandLine(int argumentCount, const char* const* arguments, char optionPrefix = '-');

    int argumentCount() const { return argumentCount_; }
    // Element 0 is the program path.
    const char* argument(int index) const { return arguments_[index]; }
    char optionPrefix() const { return optionPrefix_; }

    // Finds the first element equal to `name` (the program path included) and
    // yields the element after it; false when there is none or nothing follows.
    bool findOption(const std::string& name, std::string& value) const;
    // The option's value as a whole base-10 integer, 3 when the option is
    // absent; throws std::logic_error when the value is not such an integer.
    int getIntOption(const std::string& name) const;
    std::string getStringOption(const std::string& name, const std::string& fallback) const;

private:
    int argumentCount_;
    const char* const* arguments_;
    char optionPrefix_;
};

// "0: BlackAndWhite, 1: Color"
std::string buildCodeTypeList();
// "0: All, 1: Debug, ..., 6: Off"
std::string buildLevelList();

// The banner line with the version, then "Decode Orbel Codes", each followed by an empty line.
void printBanner(std::ostream& out = std::cout);
void printUsage(const std::string& codeTypeList, const std::string& levelList, std::ostream& out = std::cout);

} // namespace app
