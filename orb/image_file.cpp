#include "orb/image_file.h"

#include <exception>
#include <filesystem>
#include <mutex>

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>

#include "orb/logger.h"

namespace orb {

namespace {

// The image library has no call that reads only an image's size, and its own
// pixel limit is fixed when the library is loaded. But every decoder it has
// reads the header first and then allocates the whole picture through the
// default matrix allocator before it decodes a single pixel. An allocator
// that refuses oversized matrices while a file is being loaded on this
// thread therefore stops a bomb at its header, whatever the format.
thread_local std::int64_t loadLimit = 0; // 0: no limit on this thread
thread_local cv::Size refusedSize;

struct Refused {};

class LimitingAllocator : public cv::MatAllocator {
public:
    explicit LimitingAllocator(cv::MatAllocator* base) : base_(base) {}

    cv::UMatData* allocate(int dims, const int* sizes, int type, void* data, size_t* step, cv::AccessFlag flags,
                           cv::UMatUsageFlags usage) const override
    {
        if (loadLimit > 0 && data == nullptr && dims >= 2) {
            std::int64_t pixels = 1;
            for (int i = 0; i < dims; ++i) pixels *= sizes[i];
            if (pixels > loadLimit) {
                refusedSize = cv::Size(sizes[1], sizes[0]);
                throw Refused();
            }
        }
        // The matrix data records the base allocator, which also frees it.
        return base_->allocate(dims, sizes, type, data, step, flags, usage);
    }
    bool allocate(cv::UMatData* data, cv::AccessFlag flags, cv::UMatUsageFlags usage) const override
    {
        return base_->allocate(data, flags, usage);
    }
    void deallocate(cv::UMatData* data) const override { base_->deallocate(data); }

private:
    cv::MatAllocator* base_;
};

// Installed once and kept for the life of the process: matrices allocated
// meanwhile may refer to it. Without a limit set it only passes calls on.
void installLimitingAllocator()
{
    static std::once_flag once;
    std::call_once(once, [] { cv::Mat::setDefaultAllocator(new LimitingAllocator(cv::Mat::getDefaultAllocator())); });
}

class PixelLimit {
public:
    explicit PixelLimit(std::int64_t maxPixels)
    {
        loadLimit = maxPixels;
        refusedSize = {};
    }
    ~PixelLimit() { loadLimit = 0; }
    PixelLimit(const PixelLimit&) = delete;
    PixelLimit& operator=(const PixelLimit&) = delete;
};

// The reader's own complaints about a file would repeat the caller's report.
class QuietImageLibrary {
public:
    QuietImageLibrary() : previous_(cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT)) {}
    ~QuietImageLibrary() { cv::utils::logging::setLogLevel(previous_); }
    QuietImageLibrary(const QuietImageLibrary&) = delete;
    QuietImageLibrary& operator=(const QuietImageLibrary&) = delete;

private:
    cv::utils::logging::LogLevel previous_;
};

} // namespace

ImageLoad loadImage(const std::string& path, std::int64_t maxPixels)
{
    ImageLoad result;
    // A pipe or a device would be read until it ends, which may be never.
    std::error_code error;
    const auto type = std::filesystem::status(path, error).type();
    if (type == std::filesystem::file_type::not_found) {
        result.reason = "no such file";
        return result;
    }
    if (type != std::filesystem::file_type::regular) {
        result.reason = error ? error.message() : "not a regular file";
        return result;
    }

    installLimitingAllocator();
    try {
        const QuietImageLibrary quiet;
        const PixelLimit limit(maxPixels);
        result.image = cv::imread(path, cv::IMREAD_COLOR);
    } catch (const Refused&) {
    } catch (const std::exception& e) {
        result.reason = e.what(); // a file the codec chokes on counts as unreadable
    }
    if (refusedSize.width > 0) {
        result.image.release();
        result.status = ImageLoad::Status::TooLarge;
        result.size = refusedSize;
        result.reason = std::to_string(refusedSize.width) + " x " + std::to_string(refusedSize.height) +
                        " pixels, more than the limit of " + std::to_string(maxPixels);
        logger().line(LogLevel::Warning, "Image file '", path, "' has ", result.reason, " pixels");
        return result;
    }
    if (result.image.empty()) {
        if (result.reason.empty()) result.reason = "not an image the reader can decode";
        return result;
    }
    result.status = ImageLoad::Status::Loaded;
    return result;
}

} // namespace orb
