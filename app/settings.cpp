#include "app/settings.h"

#include <cerrno>
#include <exception>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include <opencv2/core/persistence.hpp>
#include <opencv2/core/utils/logger.hpp>

#include "orb/logger.h"

namespace app {

namespace {

using orb::LogLevel;
using orb::logger;

// A missing member reads as its fallback; a member of the wrong kind is an
// error rather than a silent 0 or INT_MAX.
std::string readString(const cv::FileStorage& storage, const char* key, const std::string& fallback)
{
    const cv::FileNode node = storage[key];
    if (node.isNone()) return fallback;
    if (!node.isString()) throw std::runtime_error(std::string("member '") + key + "' must be a string");
    return node.string();
}

int readInt(const cv::FileStorage& storage, const char* key, int fallback)
{
    const cv::FileNode node = storage[key];
    if (node.isNone()) return fallback;
    if (!node.isInt()) throw std::runtime_error(std::string("member '") + key + "' must be an integer");
    return static_cast<int>(node);
}

// The storage writes a text that begins and ends with the same quote mark
// as it stands, taking it for already quoted; such a text (a launch string in
// quotes, or a lone quote) would come back without its quotes or break the
// file. It is quoted and escaped here instead.
void writeString(cv::FileStorage& storage, const char* key, const std::string& text)
{
    const bool looksQuoted = !text.empty() && (text.front() == '"' || text.front() == '\'') &&
                             text.front() == text.back();
    if (!looksQuoted) {
        // write(), not <<: the stream operator takes a text that starts with
        // a bracket for the start or end of a structure (a lone "}" closed
        // the file's map and crashed the storage) and drops a backslash
        // before one.
        storage.write(key, text);
        return;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        switch (c) {
        case '"': quoted += "\\\""; break;
        case '\\': quoted += "\\\\"; break;
        case '\n': quoted += "\\n"; break;
        case '\r': quoted += "\\r"; break;
        case '\t': quoted += "\\t"; break;
        default: quoted += c;
        }
    }
    quoted += '"';
    storage << key << quoted;
}

// Keeps the storage's own complaint about a file it cannot open off the
// console while it is opened; the outcome is logged here in our words.
class QuietStorageOpen {
public:
    QuietStorageOpen() : previous_(cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT)) {}
    ~QuietStorageOpen() { cv::utils::logging::setLogLevel(previous_); }
    QuietStorageOpen(const QuietStorageOpen&) = delete;
    QuietStorageOpen& operator=(const QuietStorageOpen&) = delete;

private:
    cv::utils::logging::LogLevel previous_;
};

// Settings are only ever written as JSON, which the storage recognises by a
// leading '{'. Anything else it would hand to its XML or YAML parser, and
// those crash on some malformed files (a truncated "<?xml" line), so such
// content is refused before the storage sees it.
bool startsAsJson(const std::string& fileName)
{
    std::ifstream in(fileName, std::ios::binary);
    return in.get() == '{';
}

enum class Presence { Exists, NotFound, Unknown };

// Any kind of entry counts as present. Only "not found" kinds of failure mean
// absent; any other failure of the query leaves it unknown.
Presence settingsFilePresence(const std::string& fileName)
{
    std::error_code error;
    const auto status = std::filesystem::status(fileName, error);
    if (status.type() == std::filesystem::file_type::not_found) return Presence::NotFound;
    if (!error) return Presence::Exists;
    const int code = error.value();
    if (error.category() == std::generic_category() || error.category() == std::system_category()) {
        if (code == ENOENT || code == ENOTDIR || code == ENAMETOOLONG || code == EINVAL) return Presence::NotFound;
    }
    return Presence::Unknown;
}

} // namespace

std::string codeTypeName(int codeType)
{
    if (codeType == 0) return "BlackAndWhite";
    if (codeType == 1) return "Color";
    return "";
}

int parseCodeTypeName(const std::string& text)
{
    if (text == "BlackAndWhite") return 0;
    if (text == "Color") return 1;
    logger().line(LogLevel::Warning, "Wrong CodeType: changed to BlackAndWhite");
    return 0;
}

bool readSettingsFile(AppSettings& settings, const std::string& fileName)
{
    cv::FileStorage storage;
    try {
        const QuietStorageOpen quiet;
        if (startsAsJson(fileName)) storage.open(fileName, cv::FileStorage::READ);
    } catch (const std::exception&) {
        // The storage parses the whole file on opening, so malformed content fails here.
        storage.release();
    }
    if (!storage.isOpened()) {
        logger().line(LogLevel::Error, "Settings file cannot be opened for reading!");
        return false;
    }
    try {
        settings.logLevel = orb::parseLevelName(readString(storage, "logLevel", "Info"));
        settings.logLevelConsole = orb::parseLevelName(readString(storage, "logLevelConsole", "Info"));
        settings.logFileName = readString(storage, "logFileName", "");
        settings.codeType = parseCodeTypeName(readString(storage, "codeType", "BlackAndWhite"));
        settings.device = readInt(storage, "device", 0);
        settings.mode = readInt(storage, "mode", 0);
        settings.width = readInt(storage, "width", 0);
        settings.height = readInt(storage, "height", 0);
        settings.backend = readInt(storage, "backend", 0);
        settings.launch = readString(storage, "launch", "");
    } catch (const std::exception& e) {
        logger().line(LogLevel::Error, "Error: ", e.what());
        return false;
    }
    storage.release();
    return true;
}

bool writeSettingsFile(const AppSettings& settings, const std::string& fileName)
{
    cv::FileStorage storage;
    try {
        const QuietStorageOpen quiet;
        storage.open(fileName, cv::FileStorage::WRITE | cv::FileStorage::FORMAT_JSON);
    } catch (const std::exception&) {
        storage.release();
    }
    if (!storage.isOpened()) {
        logger().line(LogLevel::Error, "Settings file cannot be opened for writing!");
        return false;
    }
    try {
        writeString(storage, "logLevel", orb::levelName(settings.logLevel));
        writeString(storage, "logLevelConsole", orb::levelName(settings.logLevelConsole));
        writeString(storage, "logFileName", settings.logFileName);
        writeString(storage, "codeType", codeTypeName(settings.codeType));
        storage << "device" << settings.device;
        storage << "mode" << settings.mode;
        storage << "width" << settings.width;
        storage << "height" << settings.height;
        storage << "backend" << settings.backend;
        writeString(storage, "launch", settings.launch);
        storage.release();
    } catch (const std::exception& e) {
        logger().line(LogLevel::Error, "Error: ", e.what());
        return false;
    }
    return true;
}

void readSettings(AppSettings& settings, const std::string& fileName)
{
    switch (settingsFilePresence(fileName)) {
    case Presence::NotFound:
        logger().line(LogLevel::Warning, "Settings not found!");
        return;
    case Presence::Unknown:
        logger().line(LogLevel::Error, "Settings file cannot be opened for reading!");
        logger().line(LogLevel::Warning, "Settings have not been read.");
        return;
    case Presence::Exists: break;
    }
    if (readSettingsFile(settings, fileName)) logger().line(LogLevel::Debug, "Read settings");
    else logger().line(LogLevel::Warning, "Settings have not been read.");
}

void saveSettings(const AppSettings& settings, const std::string& fileName)
{
    if (writeSettingsFile(settings, fileName)) logger().line(LogLevel::Info, "Settings have been saved.");
    else logger().line(LogLevel::Warning, "Settings have not been saved.");
}

} // namespace app
