#pragma once
// The settings that interactive mode keeps between runs, stored as JSON in
// the current directory. Reading and saving never end the program: they log
// the outcome and, in the internal steps, report success as a flag.
#include <string>

namespace app {

inline constexpr const char* kSettingsFileName = "decoder_settings.json";

struct AppSettings {
    std::string logFileName = "log.txt";
    std::string launch;      // camera launch string; used instead of device when not empty
    int logLevel = 2;        // file threshold (orb::LogLevel), Info
    int logLevelConsole = 2; // console threshold, Info
    int codeType = 0;        // orb::CodeType, BlackAndWhite
    int device = 0;          // camera device number
    int mode = -1;           // camera mode; -1 is the camera's default
    int width = 0;           // requested frame size
    int height = 0;
    int backend = 0;         // capture backend identifier; 0 lets the library choose
};

// "BlackAndWhite", "Color"; "" for other values.
std::string codeTypeName(int codeType);
// Exact inverse of codeTypeName; anything else logs a warning and yields BlackAndWhite.
int parseCodeTypeName(const std::string& text);

// Loads the settings file into `settings` and logs the outcome. A missing
// file leaves the defaults in place. A file that cannot be parsed, or has
// members that cannot be used, is moved aside (decoder_settings.json.bad,
// then .bad.2, ...) so that saving cannot destroy what the user had; one
// that exists but cannot be read is left alone, and saving will not replace it.
void readSettings(AppSettings& settings, const std::string& fileName = kSettingsFileName);
// Stores `settings` by replacing the file as a whole, and logs the outcome:
// "Settings have been saved." only after the new file is in place.
void saveSettings(const AppSettings& settings, const std::string& fileName = kSettingsFileName);

// What reading a settings file found.
enum class SettingsRead {
    Complete,    // every member present was used
    BadMembers,  // members of the wrong kind, out of range or unknown names were ignored, each logged by name
    Unparseable, // not a JSON object, or nested too deep: nothing was used
    Unreadable,  // the file cannot be opened or read, or is not a regular file
};

// The steps behind the two calls above; none of them moves or changes the
// file read. Members missing from the file read as their "missing" values,
// not as the record's previous ones; ignored members keep the record's value.
SettingsRead parseSettings(AppSettings& settings, const std::string& text);
SettingsRead loadSettingsFile(AppSettings& settings, const std::string& fileName);
// True when every member was used.
bool readSettingsFile(AppSettings& settings, const std::string& fileName);
// The file's content: one JSON object with the ten members in a fixed order.
std::string settingsText(const AppSettings& settings);
// Writes a temporary file beside the target, checks every write and renames
// it over the target; on any failure the old file is left as it was.
bool writeSettingsFile(const AppSettings& settings, const std::string& fileName);

} // namespace app
