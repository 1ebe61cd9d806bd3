#pragma once
// Interactive mode: the settings, the camera list and a one-letter console
// menu that changes the settings and starts camera runs.
#include <iostream>
#include <istream>
#include <optional>
#include <ostream>
#include <string>

#include "app/settings.h"

namespace app {

// Reads the settings, starts logging, shows the usage paragraph and the
// cameras, runs the menu and saves the settings. Returns 0.
int runInteractive(const std::string& codeTypeList, const std::string& levelList);

// The menu until x or the end of the input; `settings` is changed in place.
void runMenu(AppSettings& settings, const std::string& codeTypeList, const std::string& levelList,
             std::istream& in = std::cin, std::ostream& out = std::cout);

// Prompts until a line starting with a whole number >= minimum is read; the
// rest of that line is discarded. The prompt is a printf format with
// `minimum` as its argument. Empty at the end of the input.
std::optional<int> promptInt(const std::string& prompt, int minimum, std::istream& in, std::ostream& out);
// Prompts until 0 <= number <= maximum is read; the format gets 0 and `maximum`.
std::optional<int> promptIntInRange(const std::string& prompt, int maximum, std::istream& in, std::ostream& out);
// Prompts for a whole line, without its line end; empty at the end of the input.
std::optional<std::string> promptLine(const std::string& prompt, std::istream& in, std::ostream& out);

// At most 50 characters: longer texts keep 47 and end in "...".
std::string shortenForDisplay(const std::string& text);

void printMenuHelp(std::ostream& out = std::cout);

} // namespace app
