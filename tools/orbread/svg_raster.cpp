#include "svg_raster.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace orbread {

namespace {

// The memory the converter may take: a picture at the loader's pixel limit
// needs about 0.5 GB; an SVG claiming far more fails instead of swapping.
constexpr rlim_t kConverterMemory = rlim_t{3} << 30;

class Pipe {
public:
    Pipe() { ok_ = ::pipe2(ends_, O_CLOEXEC) == 0; }
    ~Pipe() { closeBoth(); }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    bool ok() const { return ok_; }
    int readEnd() const { return ends_[0]; }
    int writeEnd() const { return ends_[1]; }
    void closeWriteEnd() { closeOne(ends_[1]); }

private:
    void closeOne(int& fd)
    {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    void closeBoth()
    {
        closeOne(ends_[0]);
        closeOne(ends_[1]);
    }
    int ends_[2] = {-1, -1};
    bool ok_ = false;
};

} // namespace

SvgRaster rasteriseSvg(const std::string& path, std::size_t maxBytes, double seconds)
{
    SvgRaster raster;
    Pipe output;
    if (!output.ok()) {
        raster.error = "cannot start rsvg-convert: no pipe";
        return raster;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output.writeEnd(), STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // A white background: a transparent one would read as black.
    std::string program = "rsvg-convert", format = "--format=png", background = "--background-color=white",
                end = "--";
    // A memory file of this process (standard input) is not the child's.
    std::string file = path.rfind("/proc/self/", 0) == 0 ? "/proc/" + std::to_string(::getpid()) + path.substr(10) : path;
    char* argv[] = {program.data(), format.data(), background.data(), end.data(), file.data(), nullptr};
    pid_t child = -1;
    const int spawned = ::posix_spawnp(&child, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    output.closeWriteEnd();
    if (spawned != 0) {
        raster.error = "cannot rasterise SVG: rsvg-convert cannot be started (librsvg2-bin)";
        return raster;
    }
    const rlimit memory{kConverterMemory, kConverterMemory};
    ::prlimit(child, RLIMIT_AS, &memory, nullptr);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    unsigned char buffer[65536];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            raster.error = "cannot rasterise SVG: rsvg-convert took longer than " + std::to_string(int(seconds)) + " s";
            break;
        }
        pollfd wait{output.readEnd(), POLLIN, 0};
        const int ready = ::poll(&wait, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) continue;
        const ssize_t n = ::read(output.readEnd(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (raster.png.size() + static_cast<std::size_t>(n) > maxBytes) {
            raster.error = "cannot rasterise SVG: the picture is larger than the reader takes";
            break;
        }
        raster.png.insert(raster.png.end(), buffer, buffer + n);
    }
    if (!raster.error.empty()) ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (raster.error.empty() && !(WIFEXITED(status) && WEXITSTATUS(status) == 0))
        raster.error = WIFEXITED(status) && WEXITSTATUS(status) == 127 ? "cannot rasterise SVG: rsvg-convert not found"
                                                                       : "cannot rasterise SVG: not an SVG picture rsvg-convert can draw";
    if (!raster.error.empty()) raster.png.clear();
    return raster;
}

} // namespace orbread
