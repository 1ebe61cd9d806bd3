#include "standard_input.h"

#include <cerrno>
#include <system_error>

#include <sys/mman.h>
#include <unistd.h>

namespace orbread {

namespace {

std::string megabytes(std::int64_t bytes) { return std::to_string((bytes + 500'000) / 1'000'000) + " MB"; }

bool writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

StandardInput takeStandardInput(int fd, std::int64_t maxBytes)
{
    StandardInput input;
    const int memory = ::memfd_create("orbread-stdin", MFD_CLOEXEC);
    if (memory < 0) {
        input.error = "cannot keep standard input: " + std::error_code(errno, std::generic_category()).message();
        return input;
    }
    static char buffer[1 << 16];
    std::int64_t total = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            input.error = "cannot read standard input: " + std::error_code(errno, std::generic_category()).message();
            break;
        }
        if (n == 0) break;
        total += n;
        if (total > maxBytes) {
            input.error = "standard input is larger than " + megabytes(maxBytes) +
                          ", the largest image file the reader takes";
            break;
        }
        if (!writeAll(memory, buffer, static_cast<std::size_t>(n))) {
            input.error = "cannot keep standard input: out of memory";
            break;
        }
    }
    if (!input.error.empty()) {
        ::close(memory);
        return input;
    }
    if (total == 0) {
        ::close(memory);
        input.error = "standard input is empty";
        return input;
    }
    input.path = "/proc/self/fd/" + std::to_string(memory);
    return input;
}

std::string readAll(int fd)
{
    std::string text;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

} // namespace orbread
