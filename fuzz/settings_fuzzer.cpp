// The settings file reader on any file content, and the writer on whatever
// the reader accepted, read back once more. Files live in a folder of this
// process's own (on /dev/shm when there is one: thousands of writes a
// second).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/settings.h"
#include "fuzz_support.h"

namespace {

std::filesystem::path folder;

// The settings interface in one place: the reader is being reworked, and
// only these two calls depend on its signatures.
bool readSettingsFrom(app::AppSettings& settings, const std::string& fileName)
{
    return app::readSettingsFile(settings, fileName);
}

void writeSettingsTo(const app::AppSettings& settings, const std::string& fileName)
{
    (void)app::writeSettingsFile(settings, fileName);
}

void removeFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::quietLibrary();
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm")
                                           ? std::filesystem::path("/dev/shm")
                                           : std::filesystem::temp_directory_path();
    std::string pattern = (base / "settings_fuzz_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("settings fuzzer: cannot make its folder");
        std::abort();
    }
    folder = pattern;
    std::atexit(removeFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string fileName = (folder / app::kSettingsFileName).string();
    std::FILE* file = std::fopen(fileName.c_str(), "wb");
    if (file == nullptr || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) std::abort();

    app::AppSettings settings;
    if (!readSettingsFrom(settings, fileName)) return 0;
    const std::string copyName = (folder / "copy.json").string();
    writeSettingsTo(settings, copyName);
    app::AppSettings again;
    (void)readSettingsFrom(again, copyName);
    return 0;
}
