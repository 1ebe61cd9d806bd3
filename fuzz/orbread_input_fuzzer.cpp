// orbread's input handling on the fuzzer's bytes: as a file through its
// loader (format detection, the GIF and SVG header checks, the image
// library under the pixel limit) and as a --files-from list. An unreadable
// or too-large file is an answer; an exception escaping, or a sanitizer
// report, is a finding. SVG is told apart but not rasterised: the fuzzer
// starts no programs.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <sys/mman.h>
#include <unistd.h>

#include "fuzz_support.h"
#include "image_loading.h"
#include "inputs.h"

namespace {

// The bytes as a file without touching the disk; one memory file for all runs.
int memoryFile()
{
    static const int fd = ::memfd_create("orbread-input", MFD_CLOEXEC);
    return fd;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::quietLibrary();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    (void)orbread::splitNames(std::string(bytes), '\0');
    (void)orbread::splitNames(std::string(bytes), '\n');

    const int fd = memoryFile();
    if (fd < 0 || ::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;
    orbread::LoadChoices choices;
    choices.rasteriseSvg = false;
    // A small limit, so that headers claiming big pictures are refused and
    // the runs stay fast; the checks are the same at any limit.
    choices.maxPixels = 4'000'000;
    const orb::ImageLoad load = orbread::loadInputImage("/proc/self/fd/" + std::to_string(fd), choices);
    if (load.status == orb::ImageLoad::Status::Loaded &&
        (load.image.empty() || load.image.type() != CV_8UC3 ||
         static_cast<std::int64_t>(load.image.total()) > choices.maxPixels))
        __builtin_trap(); // a loaded image is a colour picture within the limit
    return 0;
}
