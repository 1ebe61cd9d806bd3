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
// file leaves the defaults in place.
void readSettings(AppSettings& settings, const std::string& fileName = kSettingsFileName);
// Stores `settings`, replacing the file, and logs the outcome.
void saveSettings(const AppSettings& settings, const std::string& fileName = kSettingsFileName);

// The steps behind the two calls above. Members missing from the file read
// as their "missing" values, not as the record's previous ones.
bool readSettingsFile(AppSettings& settings, const std::string& fileName);
bool writeSettingsFile(const AppSettings& settings, const std::string& fileName);

} // namespace app
