#include "orb/logger.h"

#include <chrono>
#include <ctime>
#include <iomanip>
#include <iostream>
#include <locale>
#include <sstream>

namespace orb {

namespace {
const char* const kSettingsNames[] = {"All", "Debug", "Info", "Warning", "Error", "Fatal", "Off"};
const char* const kPrefixes[] = {"Trace", "Debug", "Info", "Warning", "Error", "Fatal"};
const std::string kHyphenLine(80, '-');
} // namespace

const char* levelName(int level)
{
    if (level < 0 || level > 6) return "Undefined";
    return kSettingsNames[level];
}

int parseLevelName(const std::string& text)
{
    for (int i = 0; i <= 6; ++i)
        if (text == kSettingsNames[i]) return i;
    return static_cast<int>(LogLevel::Info);
}

const char* linePrefix(int level)
{
    if (level < 0 || level > 5) return "";
    return kPrefixes[level];
}

std::string currentDateTimeText()
{
    // 100 ns ticks since 1970, truncated to whole seconds.
    const auto ticks = std::chrono::duration_cast<std::chrono::duration<long long, std::ratio<1, 10000000>>>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
    const std::time_t seconds = static_cast<std::time_t>(ticks / 10000000);
    std::tm local{};
    localtime_r(&seconds, &local);
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text << std::put_time(&local, "%c");
    return text.str();
}

Logger::~Logger() { stopLogging(); }

void Logger::stopLogging()
{
    if (!file_.is_open()) return;
    file_ << "Stop" << " logging on " << currentDateTimeText() << '\n' << kHyphenLine << '\n';
    file_.flush();
    file_.close();
}

void Logger::startLogging(const std::string& fileName, int fileLevel, int consoleLevel)
{
    std::lock_guard<std::mutex> guard(lock_);
    fileLevel_ = fileLevel;
    consoleLevel_ = consoleLevel;
    if (file_.is_open()) file_.close();
    file_.clear();
    file_.open(fileName, std::ios::out | std::ios::app);
    if (!file_.is_open()) {
        std::cerr << "log file '" << fileName << "' cannot be opened for appending" << std::endl;
        return;
    }
    file_.imbue(std::locale::classic());
    file_ << kHyphenLine << '\n' << "Start" << " logging on " << currentDateTimeText() << '\n';
    file_.flush();
}

void Logger::setFileLevel(int level)
{
    std::lock_guard<std::mutex> guard(lock_);
    fileLevel_ = level;
}

void Logger::setConsoleLevel(int level)
{
    std::lock_guard<std::mutex> guard(lock_);
    consoleLevel_ = level;
}

bool Logger::accepts(LogLevel level) const
{
    std::lock_guard<std::mutex> guard(lock_);
    const int l = static_cast<int>(level);
    return fileAccepts(l) || consoleAccepts(l);
}

Logger& Logger::beginLine(LogLevel level) { return beginLine(static_cast<int>(level)); }

Logger& Logger::beginLine(int level)
{
    lock_.lock();
    lineOpen_ = true;
    lineLevel_ = level;
    const char* prefix = linePrefix(level);
    if (fileAccepts(level)) file_ << prefix << '\t';
    if (consoleAccepts(level)) *console_ << prefix << '\t';
    return *this;
}

Logger& Logger::endLine()
{
    if (fileAccepts(lineLevel_)) file_ << '\n' << std::flush;
    if (consoleAccepts(lineLevel_)) *console_ << '\n' << std::flush;
    if (lineOpen_) {
        lineOpen_ = false;
        lock_.unlock();
    }
    return *this;
}

Logger& logger()
{
    static Logger instance;
    return instance;
}

} // namespace orb
