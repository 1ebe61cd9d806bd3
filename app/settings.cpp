#include "app/settings.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <map>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "orb/logger.h"

namespace app {

namespace {

namespace fs = std::filesystem;
using orb::LogLevel;
using orb::logger;
using Json = nlohmann::json;

// Values nest no deeper than this: a settings file needs one level, and
// printing or copying a value recurses once per level.
constexpr int kMaxNesting = 32;

struct TooDeep {};

// `text` cut to `limit` bytes with "..." when longer, never inside a UTF-8 sequence.
std::string shortened(std::string text, std::size_t limit)
{
    if (text.size() <= limit) return text;
    std::size_t end = limit - 3;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
    return text + "...";
}

// A member's value as it stands in the file, short enough for a log line;
// a long text is cut before it is escaped, so a huge one costs nothing.
std::string shownValue(const Json& value)
{
    constexpr std::size_t kShown = 40;
    const auto dumped = [](const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); };
    if (value.is_string()) return shortened(dumped(Json(shortened(value.get<std::string>(), kShown * 2))), kShown);
    return shortened(dumped(value), kShown);
}

void logIgnored(const char* key, const std::string& expected, const Json& value)
{
    logger().line(LogLevel::Warning, "Settings member '", key, "' must be ", expected, ", not ", shownValue(value),
                  ": ignored");
}

// The member's text, `fallback` when it is missing, nothing when it is of another kind.
std::optional<std::string> stringMember(const Json& root, const char* key, const char* fallback, bool& bad)
{
    const auto member = root.find(key);
    if (member == root.end()) return fallback;
    if (member->is_string()) return member->get<std::string>();
    logIgnored(key, "a string", *member);
    bad = true;
    return std::nullopt;
}

// A level by its exact name; "Undefined", which is what an out-of-range
// level is saved as, reads as Info like a missing member.
std::optional<int> levelMember(const Json& root, const char* key, bool& bad)
{
    const std::optional<std::string> name = stringMember(root, key, "Info", bad);
    if (!name) return std::nullopt;
    const int level = orb::parseLevelName(*name);
    if (*name == orb::levelName(level) || *name == "Undefined") return level;
    logger().line(LogLevel::Warning, "Settings member '", key,
                  "' must be one of All, Debug, Info, Warning, Error, Fatal, Off, not ", shownValue(Json(*name)),
                  ": changed to Info");
    bad = true;
    return level;
}

// The same bounds as the menu: a value it would refuse is refused here too.
std::optional<int> intMember(const Json& root, const char* key, int fallback, int minimum, bool& bad)
{
    const auto member = root.find(key);
    if (member == root.end()) return fallback;
    if (member->is_number_integer()) {
        const bool inRange = member->is_number_unsigned() ? member->get<std::uint64_t>() <= INT_MAX
                                                          : member->get<std::int64_t>() >= minimum &&
                                                                member->get<std::int64_t>() <= INT_MAX;
        if (inRange) return member->get<int>();
    }
    logIgnored(key, "an integer >= " + std::to_string(minimum), *member);
    bad = true;
    return std::nullopt;
}

enum class Presence { Exists, NotFound, Unknown };

// Any kind of entry counts as present. Only "not found" kinds of failure mean
// absent; any other failure of the query leaves it unknown.
Presence settingsFilePresence(const std::string& fileName)
{
    std::error_code error;
    const auto status = fs::status(fileName, error);
    if (status.type() == fs::file_type::not_found) return Presence::NotFound;
    if (!error) return Presence::Exists;
    const int code = error.value();
    if (error.category() == std::generic_category() || error.category() == std::system_category()) {
        if (code == ENOENT || code == ENOTDIR || code == ENAMETOOLONG || code == EINVAL) return Presence::NotFound;
    }
    return Presence::Unknown;
}

// Settings files that saving must not replace, each with the reason.
std::map<std::string, std::string>& filesToKeep()
{
    static std::map<std::string, std::string> files;
    return files;
}

// Moves the file to the first free name of fileName.bad, fileName.bad.2, ...
// without ever replacing an earlier one. Empty when it could not be moved.
std::string moveAside(const std::string& fileName, std::string& reason)
{
    for (int n = 1; n <= 1000; ++n) {
        const std::string aside = fileName + ".bad" + (n == 1 ? "" : "." + std::to_string(n));
        if (renameat2(AT_FDCWD, fileName.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0) return aside;
        if (errno == EEXIST) continue;
        if (errno == EINVAL || errno == ENOSYS) { // a file system that cannot refuse a replacement itself
            std::error_code ignored;
            if (fs::exists(fs::symlink_status(aside, ignored))) continue;
            if (std::rename(fileName.c_str(), aside.c_str()) == 0) return aside;
        }
        reason = std::strerror(errno);
        return "";
    }
    reason = "too many earlier copies";
    return "";
}

void keepAside(const std::string& fileName, const char* consequence)
{
    std::string reason;
    const std::string aside = moveAside(fileName, reason);
    if (aside.empty()) {
        filesToKeep().emplace(fileName, "could not be moved aside");
        logger().line(LogLevel::Error, "Settings file '", fileName, "' cannot be moved aside (", reason,
                      "): it will not be replaced");
        return;
    }
    logger().line(LogLevel::Warning, "Settings file '", fileName, "' kept as '", aside, "'; ", consequence);
}

// What could not be read may still be the user's settings: left as it is.
void keepUnread(const std::string& fileName)
{
    filesToKeep().emplace(fileName, "could not be read");
    logger().line(LogLevel::Warning, "Settings file '", fileName,
                  "' is left as it is; the defaults are used, and not saved on exit");
    logger().line(LogLevel::Warning, "Settings have not been read.");
}

// Text that is not UTF-8 cannot be stored in JSON as it is.
bool isUtf8(const std::string& text)
{
    try {
        (void)Json(text).dump();
        return true;
    } catch (const Json::type_error&) {
        return false;
    }
}

std::string errorText(int code) { return std::strerror(code); }

// Writes all of `text` to `fd`, however many calls that takes.
bool writeAll(int fd, const std::string& text)
{
    const char* next = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, next, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        next += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

// A fresh file beside `target`, created with the usual permissions (the
// umask applies); -1 with errno set when none can be created.
int createTemporary(const fs::path& target, std::string& name)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = (target.parent_path() / ("." + target.filename().string() + "." + std::to_string(getpid()) + "." +
                                        std::to_string(attempt) + ".tmp"))
                   .string();
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

constexpr int kNotRegular = -1;

// The whole file into `text`: 0, or the errno of the failed step, or
// kNotRegular. A device or a pipe is no settings file, and might never end;
// opening without blocking keeps a pipe without writer from hanging.
int readRegularFile(const std::string& fileName, std::string& text)
{
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno;
    struct stat status {};
    int failure = ::fstat(fd, &status) != 0 ? errno : S_ISREG(status.st_mode) ? 0 : kNotRegular;
    char buffer[65536];
    while (failure == 0) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0) break;
        if (got > 0) text.append(buffer, static_cast<std::size_t>(got));
        else if (errno != EINTR) failure = errno;
    }
    ::close(fd);
    return failure;
}

bool failWrite(const std::string& what, int code)
{
    logger().line(LogLevel::Error, "Error: ", what, ": ", errorText(code));
    return false;
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

SettingsRead parseSettings(AppSettings& settings, const std::string& text)
{
    // Refused while it is parsed: the parser itself does not recurse, but
    // everything that prints or copies the value does.
    const Json::parser_callback_t nestingLimit = [](int depth, Json::parse_event_t event, Json&) {
        const bool opens = event == Json::parse_event_t::object_start || event == Json::parse_event_t::array_start;
        if (opens && depth >= kMaxNesting) throw TooDeep{};
        return true;
    };
    Json root;
    try {
        root = Json::parse(text, nestingLimit);
    } catch (const Json::exception& e) {
        logger().line(LogLevel::Error, "Error: ", shortened(e.what(), 200));
        return SettingsRead::Unparseable;
    } catch (const TooDeep&) {
        logger().line(LogLevel::Error, "Error: the settings nest values more than ", kMaxNesting, " deep");
        return SettingsRead::Unparseable;
    }
    if (!root.is_object()) {
        logger().line(LogLevel::Error, "Error: the settings are ", shownValue(root), ", not a JSON object");
        return SettingsRead::Unparseable;
    }
    // Every member on its own: one that cannot be used leaves the others alone.
    bool bad = false;
    if (const auto v = levelMember(root, "logLevel", bad)) settings.logLevel = *v;
    if (const auto v = levelMember(root, "logLevelConsole", bad)) settings.logLevelConsole = *v;
    if (const auto v = stringMember(root, "logFileName", "", bad)) settings.logFileName = *v;
    if (const auto v = stringMember(root, "codeType", "BlackAndWhite", bad)) {
        settings.codeType = parseCodeTypeName(*v);
        if (codeTypeName(settings.codeType) != *v) bad = true;
    }
    if (const auto v = intMember(root, "device", 0, 0, bad)) settings.device = *v;
    if (const auto v = intMember(root, "mode", 0, -1, bad)) settings.mode = *v;
    if (const auto v = intMember(root, "width", 0, 0, bad)) settings.width = *v;
    if (const auto v = intMember(root, "height", 0, 0, bad)) settings.height = *v;
    if (const auto v = intMember(root, "backend", 0, 0, bad)) settings.backend = *v;
    if (const auto v = stringMember(root, "launch", "", bad)) settings.launch = *v;
    return bad ? SettingsRead::BadMembers : SettingsRead::Complete;
}

SettingsRead loadSettingsFile(AppSettings& settings, const std::string& fileName)
{
    std::string text;
    const int failure = readRegularFile(fileName, text);
    if (failure != 0) {
        logger().line(LogLevel::Error, "Settings file cannot be opened for reading!");
        logger().line(LogLevel::Error, "Error: '", fileName, "': ",
                      failure == kNotRegular ? std::string("not a regular file") : errorText(failure));
        return SettingsRead::Unreadable;
    }
    return parseSettings(settings, text);
}

bool readSettingsFile(AppSettings& settings, const std::string& fileName)
{
    return loadSettingsFile(settings, fileName) == SettingsRead::Complete;
}

std::string settingsText(const AppSettings& settings)
{
    const std::pair<const char*, const std::string*> texts[] = {{"logFileName", &settings.logFileName},
                                                                 {"launch", &settings.launch}};
    for (const auto& [key, text] : texts)
        if (!isUtf8(*text))
            logger().line(LogLevel::Warning, "Settings member '", key,
                          "' is not UTF-8 text: its other bytes are saved as replacement characters");

    nlohmann::ordered_json root;
    root["logLevel"] = orb::levelName(settings.logLevel);
    root["logLevelConsole"] = orb::levelName(settings.logLevelConsole);
    root["logFileName"] = settings.logFileName;
    root["codeType"] = codeTypeName(settings.codeType);
    root["device"] = settings.device;
    root["mode"] = settings.mode;
    root["width"] = settings.width;
    root["height"] = settings.height;
    root["backend"] = settings.backend;
    root["launch"] = settings.launch;
    return root.dump(4, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool writeSettingsFile(const AppSettings& settings, const std::string& fileName)
{
    if (const auto kept = filesToKeep().find(fileName); kept != filesToKeep().end()) {
        logger().line(LogLevel::Error, "Error: the settings file '", fileName, "' ", kept->second,
                      ", so it is not replaced");
        return false;
    }
    // A settings file that is a link stays one: the file it points to is replaced.
    std::error_code error;
    fs::path target = fileName;
    for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(target, error)); ++hops) {
        const fs::path link = fs::read_symlink(target, error);
        if (error) break;
        target = link.is_absolute() ? link : target.parent_path() / link;
    }
    if (error == std::errc::no_such_file_or_directory) error.clear();
    fs::file_type type = fs::file_type::none;
    if (!error) type = fs::status(target, error).type();
    if (type == fs::file_type::not_found) error.clear();
    if (error || (type != fs::file_type::not_found && type != fs::file_type::regular)) {
        logger().line(LogLevel::Error, "Settings file cannot be opened for writing!");
        logger().line(LogLevel::Error, "Error: '", fileName, "' ",
                      error ? error.message() : std::string("is not a regular file"));
        return false;
    }
    if (target.parent_path().empty()) target = fs::path(".") / target;

    const std::string text = settingsText(settings);
    std::string temporary;
    const int fd = createTemporary(target, temporary);
    if (fd < 0) {
        const int code = errno;
        logger().line(LogLevel::Error, "Settings file cannot be opened for writing!");
        return failWrite("'" + temporary + "' cannot be created", code);
    }
    // The old permissions carry over to the new file.
    struct stat old {};
    if (type == fs::file_type::regular && ::stat(target.c_str(), &old) == 0)
        (void)::fchmod(fd, old.st_mode & 07777);

    // Every step is checked: a full disk may show only at fsync or close.
    bool written = writeAll(fd, text) && ::fsync(fd) == 0;
    int code = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        code = errno;
    }
    if (!written) {
        ::unlink(temporary.c_str());
        return failWrite("settings cannot be written to '" + temporary + "'", code);
    }
    if (std::rename(temporary.c_str(), target.c_str()) != 0) {
        code = errno;
        ::unlink(temporary.c_str());
        return failWrite("'" + temporary + "' cannot replace '" + target.string() + "'", code);
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
        keepUnread(fileName);
        return;
    case Presence::Exists: break;
    }
    switch (loadSettingsFile(settings, fileName)) {
    case SettingsRead::Complete: logger().line(LogLevel::Debug, "Read settings"); break;
    case SettingsRead::BadMembers:
        keepAside(fileName, "the members that could be read are used, and saved on exit");
        break;
    case SettingsRead::Unparseable:
        keepAside(fileName, "the defaults are used, and saved on exit");
        logger().line(LogLevel::Warning, "Settings have not been read.");
        break;
    case SettingsRead::Unreadable: keepUnread(fileName); break;
    }
}

void saveSettings(const AppSettings& settings, const std::string& fileName)
{
    if (writeSettingsFile(settings, fileName)) logger().line(LogLevel::Info, "Settings have been saved.");
    else logger().line(LogLevel::Warning, "Settings have not been saved.");
}

} // namespace app
