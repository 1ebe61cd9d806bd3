#pragma once
// Standard error: one line per message, and a progress bar below them when
// standard error is a terminal.
#include <chrono>
#include <cstddef>
#include <string>

namespace orbread {

// Keeps standard error for orbread's own lines and sends what the image
// libraries write there themselves ("libpng error: ...") to /dev/null.
void silenceLibraryMessages();
// One line on what standard error was: "orbread: " + `line` + newline.
void errorLine(const std::string& line);

class Progress {
public:
    // A bar for `total` items (0: unknown), shown only when `enabled`; see
    // showBar for the usual rule.
    Progress(std::size_t total, bool enabled, std::string unit = "files");
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // The bar is shown when standard error is a terminal, not quiet, and
    // there are more than a few files.
    static bool showBar(std::size_t total, bool quiet);
    // Whether standard error (as it was at the start) is a terminal.
    static bool onTerminal();

    // The total, once known (a video learns it after opening its source).
    void setTotal(std::size_t total) { total_ = total; }
    // `done` of the total are finished; redraws at most ten times a second.
    void update(std::size_t done);
    // One line on standard error ("orbread: " is added), above the bar.
    void message(const std::string& line);
    // Removes the bar.
    void finish();

private:
    void draw();
    void clear();

    std::size_t total_;
    bool enabled_;
    std::string unit_;
    std::size_t done_ = 0;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
};

} // namespace orbread
