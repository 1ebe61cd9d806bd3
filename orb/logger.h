#pragma once
// The one program-wide logger: leveled lines to a log file and to standard
// output, each sink with its own threshold. A line is begun, filled with
// inserts and ended; the lock is held in between so lines never interleave.
// The console sink is off until the host program sets its threshold: a
// library writes nothing to the standard streams on its own.
#include <fstream>
#include <iostream>
#include <mutex>
#include <ostream>
#include <string>

namespace orb {

enum class LogLevel : int { Trace = 0, Debug = 1, Info = 2, Warning = 3, Error = 4, Fatal = 5, Off = 6 };

// Settings name of a level ("All" for Trace); "Undefined" outside 0..6.
const char* levelName(int level);
// Exact, case-sensitive inverse of levelName; any other text yields Info.
int parseLevelName(const std::string& text);
// Prefix written at the start of a line of that level ("Trace" for 0).
const char* linePrefix(int level);

class Logger {
public:
    Logger() = default;
    ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    void startLogging(const std::string& fileName, int fileLevel, int consoleLevel);
    void setFileLevel(int level);
    void setConsoleLevel(int level);
    int fileLevel() const { return fileLevel_; }
    int consoleLevel() const { return consoleLevel_; }

    Logger& beginLine(LogLevel level);
    Logger& beginLine(int level);
    Logger& endLine();

    template <class T>
    Logger& operator<<(const T& value)
    {
        if (fileAccepts(lineLevel_)) file_ << value;
        if (consoleAccepts(lineLevel_)) *console_ << value;
        return *this;
    }

    // Writes one whole line: prefix, the values concatenated, end of line.
    template <class... T>
    void line(LogLevel level, const T&... values)
    {
        beginLine(level);
        ((*this << values), ...);
        endLine();
    }

    // True when a line of this level would reach at least one sink; lets
    // callers skip building costly texts. Takes the lock, so not to be called
    // between beginLine and endLine.
    bool accepts(LogLevel level) const;

    // Redirects the console sink (tests); the default is std::cout.
    void setConsoleStream(std::ostream& stream) { console_ = &stream; }
    // Writes the stop lines and closes the file, as at program exit.
    void stopLogging();

private:
    bool fileAccepts(int level) const { return file_.is_open() && file_.good() && level >= fileLevel_; }
    bool consoleAccepts(int level) const { return level >= consoleLevel_; }

    mutable std::mutex lock_;
    std::ofstream file_;
    std::ostream* console_ = &std::cout;
    int fileLevel_ = 2;
    int consoleLevel_ = static_cast<int>(LogLevel::Off);
    int lineLevel_ = 2;
    bool lineOpen_ = false;
};

// The program-wide instance.
Logger& logger();

// Local date and time in the fixed, locale-independent form used by the
// start and stop lines.
std::string currentDateTimeText();

} // namespace orb
