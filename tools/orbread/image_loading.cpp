#include "image_loading.h"

#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "svg_raster.h"

namespace orbread {

namespace {

// Enough of a file to tell its format: an SVG may start with a long comment.
constexpr std::size_t kHeadBytes = 4096;

std::string sizeText(std::int64_t width, std::int64_t height, std::int64_t maxPixels)
{
    return std::to_string(width) + " x " + std::to_string(height) + " pixels, more than the limit of " +
           std::to_string(maxPixels);
}

orb::ImageLoad tooLarge(std::int64_t width, std::int64_t height, std::int64_t maxPixels)
{
    orb::ImageLoad load;
    load.status = orb::ImageLoad::Status::TooLarge;
    load.size = cv::Size(static_cast<int>(std::min<std::int64_t>(width, INT32_MAX)),
                         static_cast<int>(std::min<std::int64_t>(height, INT32_MAX)));
    load.reason = sizeText(width, height, maxPixels);
    return load;
}

orb::ImageLoad unreadable(std::string reason)
{
    orb::ImageLoad load;
    load.reason = std::move(reason);
    return load;
}

orb::ImageLoad loaded(cv::Mat image, std::int64_t maxPixels)
{
    if (image.empty()) return unreadable("not an image the reader can decode");
    if (static_cast<std::int64_t>(image.cols) * image.rows > maxPixels) return tooLarge(image.cols, image.rows, maxPixels);
    orb::ImageLoad load;
    load.status = orb::ImageLoad::Status::Loaded;
    load.image = std::move(image);
    return load;
}

// The first bytes of a regular file, or why it cannot be read. Anything
// else (a pipe, a device) is left to the image loader, which refuses it
// without reading: opening a pipe could wait for ever.
struct Head {
    bool regular = false;
    std::string bytes;
    std::string error;
};

Head readHead(const std::string& path)
{
    Head head;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return head;
    head.regular = true;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        head.error = std::error_code(errno, std::generic_category()).message();
        return head;
    }
    head.bytes.resize(kHeadBytes);
    ssize_t n;
    do n = ::pread(fd, head.bytes.data(), kHeadBytes, 0);
    while (n < 0 && errno == EINTR);
    if (n < 0) head.error = std::error_code(errno, std::generic_category()).message();
    head.bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    ::close(fd);
    return head;
}

std::uint32_t littleEndian16(std::string_view bytes, std::size_t at)
{
    return static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8;
}

std::uint32_t bigEndian32(const std::vector<unsigned char>& bytes, std::size_t at)
{
    return std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 | std::uint32_t{bytes[at + 2]} << 8 |
           bytes[at + 3];
}

// The image library reads no GIF; its video input does, through FFmpeg.
// Only the first frame is read: a GIF holding a code is a still picture.
orb::ImageLoad loadGif(const std::string& path, std::string_view head, std::int64_t maxPixels)
{
    if (head.size() < 10) return unreadable("not an image the reader can decode");
    const std::int64_t width = littleEndian16(head, 6), height = littleEndian16(head, 8);
    if (width * height > maxPixels) return tooLarge(width, height, maxPixels);
    try {
        cv::VideoCapture capture(path, cv::CAP_FFMPEG);
        cv::Mat frame;
        if (!capture.isOpened() || !capture.read(frame)) return unreadable("not a GIF the reader can decode");
        if (frame.channels() == 1) cv::cvtColor(frame, frame, cv::COLOR_GRAY2BGR);
        return loaded(frame.clone(), maxPixels);
    } catch (const std::exception& e) {
        return unreadable(e.what());
    }
}

orb::ImageLoad loadSvg(const std::string& path, const LoadChoices& choices)
{
    if (!choices.rasteriseSvg) return unreadable("SVG not read here");
    // A PNG of the largest picture taken, uncompressed, with room for its chunks.
    const std::size_t maxBytes = static_cast<std::size_t>(choices.maxPixels) * 4 + (std::size_t{1} << 20);
    const SvgRaster raster = rasteriseSvg(path, maxBytes, choices.svgSeconds);
    if (!raster.error.empty()) return unreadable(raster.error);
    // The PNG's own header gives its size: refused before its pixels are decoded.
    if (raster.png.size() < 24) return unreadable("cannot rasterise SVG: no picture came back");
    const std::int64_t width = bigEndian32(raster.png, 16), height = bigEndian32(raster.png, 20);
    if (width * height > choices.maxPixels) return tooLarge(width, height, choices.maxPixels);
    try {
        return loaded(cv::imdecode(raster.png, cv::IMREAD_COLOR), choices.maxPixels);
    } catch (const std::exception& e) {
        return unreadable(e.what());
    }
}

bool startsWith(std::string_view text, std::string_view start) { return text.substr(0, start.size()) == start; }

} // namespace

ImageFormat detectFormat(std::string_view head)
{
    if (startsWith(head, "GIF87a") || startsWith(head, "GIF89a")) return ImageFormat::Gif;
    std::string_view text = head;
    if (startsWith(text, "\xEF\xBB\xBF")) text.remove_prefix(3);
    const std::size_t start = text.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos) return ImageFormat::Library;
    text.remove_prefix(start);
    if (startsWith(text, "<svg")) return ImageFormat::Svg;
    // XML or a comment first: an SVG when its root element follows.
    if ((startsWith(text, "<?xml") || startsWith(text, "<!")) && text.find("<svg") != std::string_view::npos)
        return ImageFormat::Svg;
    return ImageFormat::Library;
}

orb::ImageLoad loadInputImage(const std::string& path, const LoadChoices& choices)
{
    const Head head = readHead(path);
    if (!head.error.empty()) return unreadable(head.error);
    if (head.regular) {
        switch (detectFormat(head.bytes)) {
        case ImageFormat::Gif: return loadGif(path, head.bytes, choices.maxPixels);
        case ImageFormat::Svg: return loadSvg(path, choices);
        case ImageFormat::Library: break;
        }
    }
    return orb::loadImage(path, choices.maxPixels);
}

} // namespace orbread
