#include "progress.h"

#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace orbread {

namespace {

constexpr std::size_t kFewFiles = 3;
constexpr int kBarWidth = 24;

int messageFd = STDERR_FILENO;

void writeError(const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(messageFd, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

std::string clock(double seconds)
{
    const long s = static_cast<long>(seconds + 0.5);
    char text[32];
    if (s >= 3600) std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

} // namespace

void silenceLibraryMessages()
{
    const int kept = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (kept < 0 || null < 0) return;
    if (::dup2(null, STDERR_FILENO) >= 0) messageFd = kept;
    ::close(null);
}

void errorLine(const std::string& line) { writeError("orbread: " + line + "\n"); }

Progress::Progress(std::size_t total, bool enabled, std::string unit)
    : total_(total), enabled_(enabled), unit_(std::move(unit)), start_(std::chrono::steady_clock::now())
{
}

Progress::~Progress() { finish(); }

bool Progress::showBar(std::size_t total, bool quiet) { return !quiet && total > kFewFiles && onTerminal(); }

bool Progress::onTerminal() { return ::isatty(messageFd) == 1; }

void Progress::update(std::size_t done)
{
    done_ = done;
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (drawn_ && now - lastDraw_ < std::chrono::milliseconds(100) && done != total_) return;
    draw();
}

void Progress::message(const std::string& line)
{
    clear();
    writeError("orbread: " + line + "\n");
    if (enabled_ && done_ > 0) draw();
}

void Progress::finish()
{
    clear();
    enabled_ = false;
}

void Progress::clear()
{
    if (drawn_) writeError("\r\033[K");
    drawn_ = false;
}

void Progress::draw()
{
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const double rate = seconds > 0 ? done_ / seconds : 0;
    std::string line = "\r";
    char text[128];
    if (total_ > 0) {
        const int filled = static_cast<int>(kBarWidth * done_ / total_);
        line += "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "] ";
        std::snprintf(text, sizeof text, "%zu/%zu %s  %.1f/s", done_, total_, unit_.c_str(), rate);
        line += text;
        if (rate > 0 && done_ < total_) line += "  " + clock((total_ - done_) / rate) + " left";
    } else {
        std::snprintf(text, sizeof text, "%zu %s  %.1f/s", done_, unit_.c_str(), rate);
        line += text;
    }
    writeError(line + "\033[K");
    drawn_ = true;
    lastDraw_ = std::chrono::steady_clock::now();
}

} // namespace orbread
