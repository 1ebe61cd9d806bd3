#include "app/interactive.h"

#include <cctype>
#include <cstdio>
#include <sstream>
#include <vector>

#include "app/camera_devices.h"
#include "app/camera_loop.h"
#include "app/command_line.h"
#include "orb/logger.h"

namespace app {

namespace {

// A list text becomes part of a printf format; a per-cent sign in it must
// not be taken for a conversion.
std::string formatSafe(const std::string& text)
{
    std::string safe;
    for (char c : text) {
        safe += c;
        if (c == '%') safe += '%';
    }
    return safe;
}

template <class... Arguments>
void writeFormatted(std::ostream& out, const std::string& format, Arguments... arguments)
{
    const int length = std::snprintf(nullptr, 0, format.c_str(), arguments...);
    if (length <= 0) return;
    std::vector<char> text(static_cast<std::size_t>(length) + 1);
    std::snprintf(text.data(), text.size(), format.c_str(), arguments...);
    out << text.data() << std::flush;
}

// Reads one input line without its line end; a Windows line end counts as one.
bool readLine(std::istream& in, std::string& line)
{
    if (!std::getline(in, line)) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

// One entry per line: the number at the start of the line counts and the
// rest of the line is discarded, so "640x480" cannot go on to run x.
// Empty at the end of the input.
template <class Accept, class ShowPrompt>
std::optional<int> readNumber(std::istream& in, Accept accept, ShowPrompt showPrompt)
{
    for (;;) {
        in.clear();
        showPrompt();
        std::string line;
        if (!readLine(in, line)) return std::nullopt;
        std::istringstream entry(line);
        int value = 0;
        if (entry >> value && accept(value)) return value;
    }
}

// The menu choice is the first non-blank character of its line; the rest of
// the line is discarded, so a word typed by mistake runs one item, not one
// per letter. Blank lines are skipped. Empty at the end of the input.
std::optional<char> readChoice(std::istream& in)
{
    std::string line;
    while (readLine(in, line)) {
        for (const char c : line)
            if (!std::isspace(static_cast<unsigned char>(c))) return c;
    }
    return std::nullopt;
}

void printMenu(const AppSettings& settings, std::ostream& out)
{
    out << '\n'
        << "-----------------Menu-----------------\n"
        << "s: start camera\n"
        << "i: help\n"
        << "c: code type          [" << codeTypeName(settings.codeType) << "]\n"
        << "b: set device backend [" << settings.backend << "]\n"
        << "d: set device number  [" << settings.device << "]\n"
        << "p: set launch string  [" << shortenForDisplay(settings.launch) << "]\n"
        << "w: set frame width    [" << settings.width << "]\n"
        << "h: set frame height   [" << settings.height << "]\n"
        << "m: set device mode    [" << (settings.mode == -1 ? std::string("Default") : std::to_string(settings.mode))
        << "]\n"
        << "l: set logging level  [" << orb::levelName(settings.logLevel) << "]\n"
        << "u: show command line parameters\n"
        << "v: show full launch string\n"
        << "x: exit and save settings\n"
        << std::string(38, '-') << std::endl;
}

// Serves one menu choice; false when the menu ends, by x or at the end of
// the input inside a prompt.
bool serveChoice(char choice, AppSettings& settings, const std::string& codeTypeList, const std::string& levelList,
                 std::istream& in, std::ostream& out)
{
    switch (choice) {
    case 'b': {
        const auto value = promptInt("Enter camera backend (>= %d): ", 0, in, out);
        if (!value) return false;
        settings.backend = *value;
        break;
    }
    case 'c': {
        const auto value =
            promptIntInRange("Enter code type (" + formatSafe(codeTypeList) + ") [%d..%d]: ", 1, in, out);
        if (!value) return false;
        settings.codeType = *value;
        break;
    }
    case 'd': {
        const auto value = promptInt("Enter camera device number (>= %d): ", 0, in, out);
        if (!value) return false;
        settings.device = *value;
        settings.launch.clear(); // a device number replaces a launch string
        break;
    }
    case 'h': {
        const auto value = promptInt("Enter frame height (>= %d): ", 0, in, out);
        if (!value) return false;
        settings.height = *value;
        break;
    }
    case 'i': printMenuHelp(out); break;
    case 'l': {
        const auto value = promptIntInRange("Enter log level (" + formatSafe(levelList) + ") [%d..%d]: ", 6, in, out);
        if (!value) return false;
        settings.logLevel = settings.logLevelConsole = *value;
        orb::logger().setFileLevel(*value);
        orb::logger().setConsoleLevel(*value);
        break;
    }
    case 'm': {
        const auto value = promptInt("Enter camera mode: ", -1, in, out);
        if (!value) return false;
        settings.mode = *value;
        break;
    }
    case 'p': {
        const auto line = promptLine("Enter camera launch string: ", in, out);
        if (!line) return false;
        settings.launch = *line;
        break;
    }
    case 's': runCamera(settings); break;
    case 'u': printUsage(codeTypeList, levelList, out); break;
    case 'v': out << "Current launch string: \"" << settings.launch << "\"" << std::endl; break;
    case 'w': {
        const auto value = promptInt("Enter frame width (>= %d): ", 0, in, out);
        if (!value) return false;
        settings.width = *value;
        break;
    }
    case 'x': return false;
    default: break;
    }
    return true;
}

} // namespace

std::optional<int> promptInt(const std::string& prompt, int minimum, std::istream& in, std::ostream& out)
{
    return readNumber(
        in, [minimum](int value) { return value >= minimum; }, [&] { writeFormatted(out, prompt, minimum); });
}

std::optional<int> promptIntInRange(const std::string& prompt, int maximum, std::istream& in, std::ostream& out)
{
    return readNumber(
        in, [maximum](int value) { return value >= 0 && value <= maximum; },
        [&] { writeFormatted(out, prompt, 0, maximum); });
}

std::optional<std::string> promptLine(const std::string& prompt, std::istream& in, std::ostream& out)
{
    out << prompt << std::flush;
    // The menu choice took its whole line, so the next line is the answer.
    std::string line;
    if (!readLine(in, line)) return std::nullopt;
    return line;
}

std::string shortenForDisplay(const std::string& text)
{
    if (text.size() <= 50) return text;
    return text.substr(0, 47) + "...";
}

void printMenuHelp(std::ostream& out)
{
    out << '\n'
        << "b - set camera backend\n"
        << "    Set the camera backend to one of the following values:\n"
        << "    0: Default, 700: Directshow, 1400: Microsoft Media Foundation, 200: Video for Linux\n"
        << "c - set code type\n"
        << "    Set orbel code type: Black-and-White or Color. Can be toggled during camera view.\n"
        << "d - set device number\n"
        << "    To open default camera set 0. The device number is used only if the launch string is empty.\n"
        << "h - set frame height\n"
        << "    Set the camera frame height. Only listed heights are allowed.\n"
        << "i - this help\n"
        << "l - set logging level\n"
        << "    Set the logging level to one of the following values:\n"
        << "    All, Debug, Info, Warning, Error, Fatal, Off\n"
        << "m - set camera mode\n"
        << "    Camera specific mode or -1 for camera default mode.\n"
        << "p - set camera launch string\n"
        << "    Supported launch strings depend on the available camera backends.\n"
        << "    Typical examples are:\n"
        << "    \"http://<host>:<port>/video.mjpg\"\n"
        << "    \"rtsp://<user>:<password>@<host>:<port>/stream.sdp\"\n"
        << "    \"libcamerasrc camera-name=\\\"<camera name>\\\" ! video/x-raw,width=640,height=480 ! videoconvert ! "
           "appsink name=appsink\"\n"
        << "s - start camera\n"
        << "    Uses the selected camera device, backend, and resolution.\n"
        << "u - show command line parameters\t\n"
        << "    Show the usage of this application in non-interactive command line mode.\n"
        << "v - show full camera launch string\n"
        << "    Supported launch strings depend on the available camera backends.\n"
        << "w - set frame width\n"
        << "    Set the camera frame width. Only listed widths are allowed.\n"
        << "x - exit\t\n"
        << "    Exit interactive mode and save settings.\n"
        << std::endl;
}

void runMenu(AppSettings& settings, const std::string& codeTypeList, const std::string& levelList, std::istream& in,
             std::ostream& out)
{
    for (;;) {
        printMenu(settings, out);
        const std::optional<char> choice = readChoice(in);
        if (!choice) return; // the end of the input ends the menu as x does
        if (!serveChoice(*choice, settings, codeTypeList, levelList, in, out)) return;
    }
}

int runInteractive(const std::string& codeTypeList, const std::string& levelList)
{
    AppSettings settings;
    readSettings(settings);
    orb::logger().startLogging(settings.logFileName, settings.logLevel, settings.logLevelConsole);
    std::cout << '\n'
              << "Usage: Present an image of an Orbel Code to the camera and\n"
                 "move the code center to the center of the camera view\n"
                 "until the code is recognized and the result is displayed in the console window.\n"
                 "Quit the video window by pressing ESC inside of the video window."
              << '\n'
              << std::endl;
    listCameraDevices();
    runMenu(settings, codeTypeList, levelList);
    saveSettings(settings);
    return 0;
}

} // namespace app
