#include "orb/image_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "orb/image_header.h"
#include "orb/logger.h"

namespace orb {

namespace {

// The image library refuses larger pictures with an assertion of its own;
// they are refused here first, so the caller learns their size.
constexpr std::int64_t kLibraryMaxPixels = std::int64_t{1} << 30;
constexpr int kLibraryMaxSide = 1 << 20;

struct FileBytes {
    std::vector<unsigned char> bytes;
    std::string error; // why the file could not be read
};

FileBytes readFile(const std::string& path)
{
    FileBytes file;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> stream(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!stream) {
        file.error = std::strerror(errno);
        return file;
    }
    unsigned char buffer[1 << 16];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, stream.get())) > 0;)
        file.bytes.insert(file.bytes.end(), buffer, buffer + n);
    if (std::ferror(stream.get())) file.error = std::strerror(errno);
    return file;
}

std::optional<std::string> sizeRefusal(cv::Size size, std::int64_t maxPixels)
{
    const std::string text = std::to_string(size.width) + " x " + std::to_string(size.height) + " pixels, ";
    const std::int64_t pixels = std::int64_t{size.width} * size.height;
    if (pixels > maxPixels) return text + "more than the limit of " + std::to_string(maxPixels);
    if (size.width > kLibraryMaxSide || size.height > kLibraryMaxSide)
        return text + "a side longer than the limit of " + std::to_string(kLibraryMaxSide);
    return std::nullopt;
}

// 8-bit colour on white, whatever depth and channels the file has.
cv::Mat toColour(const cv::Mat& decoded)
{
    cv::Mat eight = decoded;
    switch (decoded.depth()) {
    case CV_8U: break;
    case CV_16U: decoded.convertTo(eight, CV_8U, 1.0 / 257); break;
    case CV_32F:
    case CV_64F:
    case CV_16F: decoded.convertTo(eight, CV_8U, 255.0); break; // samples of 0..1
    default: decoded.convertTo(eight, CV_8U); break;
    }
    if (eight.channels() == 3) return eight;
    if (eight.channels() == 1) {
        cv::Mat colour;
        cv::cvtColor(eight, colour, cv::COLOR_GRAY2BGR);
        return colour;
    }
    // Grey or colour with alpha: a dark code on a transparent background
    // would otherwise come out on black.
    std::vector<cv::Mat> planes;
    cv::split(eight, planes);
    const cv::Mat alpha8 = planes.back();
    planes.pop_back();
    cv::Mat colour;
    if (planes.size() == 1) cv::cvtColor(planes[0], colour, cv::COLOR_GRAY2BGR);
    else cv::merge(std::vector<cv::Mat>(planes.begin(), planes.begin() + 3), colour);
    cv::Mat alpha, clear;
    alpha8.convertTo(alpha, CV_32F, 1.0 / 255);
    cv::subtract(cv::Scalar(1.0), alpha, clear);
    const cv::Mat white(colour.size(), CV_8UC3, cv::Scalar::all(255));
    cv::Mat result;
    cv::blendLinear(colour, white, alpha, clear, result);
    return result;
}

// JPEG is decoded as colour so that its orientation tag is applied; the rest
// as stored, so that alpha and deep samples can be converted properly.
cv::Mat decode(const std::string& path, const std::vector<unsigned char>& bytes, const std::string& format, int page)
{
    if (page == 0) return cv::imdecode(bytes, format == "JPEG" ? cv::IMREAD_COLOR : cv::IMREAD_UNCHANGED);
    std::vector<cv::Mat> pages;
    if (!cv::imreadmulti(path, pages, page, 1, cv::IMREAD_UNCHANGED) || pages.empty()) return {};
    return pages.front();
}

// Whether the image library would hand these bytes to its DICOM decoder,
// which aborts the whole process on a damaged file instead of failing. It
// takes a file with the DICOM signature (at byte 128) that no decoder it
// tries first has taken: one of no format known here, or a JPEG 2000 or
// OpenEXR file, whose decoders it tries after the DICOM one.
bool reachesDicomDecoder(const std::vector<unsigned char>& bytes, const std::optional<ImageHeader>& header)
{
    constexpr std::size_t kSignatureAt = 128;
    const bool signed_ = bytes.size() >= kSignatureAt + 4 && std::memcmp(bytes.data() + kSignatureAt, "DICM", 4) == 0;
    return signed_ && (!header || header->format == "JPEG 2000" || header->format == "OpenEXR");
}

} // namespace

ImageLoad loadImage(const std::string& path, std::int64_t maxPixels, int page)
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
    // Decoding the bytes that were checked, not the file again, which may
    // have changed meanwhile.
    const FileBytes file = readFile(path);
    if (!file.error.empty()) {
        result.reason = file.error;
        return result;
    }

    const std::int64_t limit = std::min(maxPixels, kLibraryMaxPixels);
    const std::optional<ImageHeader> header = readImageHeader(file.bytes);
    if (header && !header->pages.empty()) result.pages = static_cast<int>(header->pages.size());
    if (page < 0 || page >= result.pages) {
        result.reason = "no page " + std::to_string(page + 1) + " in the file";
        return result;
    }
    auto refuse = [&](cv::Size size, const std::string& why) {
        result.image.release();
        result.status = ImageLoad::Status::TooLarge;
        result.size = size;
        result.reason = why;
        logger().line(LogLevel::Warning, "Image file '", path, "' has ", why, " pixels");
        return result;
    };
    if (header && !header->pages.empty())
        if (const auto why = sizeRefusal(header->pages[static_cast<std::size_t>(page)], limit)) return refuse(header->pages[static_cast<std::size_t>(page)], *why);

    if (reachesDicomDecoder(file.bytes, header)) {
        result.reason = "a DICOM file, which the reader does not read";
        return result;
    }
    const std::string damage = header ? header->damage : std::string();
    cv::Mat decoded;
    try {
        if (!header || header->decodable) decoded = decode(path, file.bytes, header ? header->format : std::string(), page);
    } catch (const std::exception&) {
        // The decoder's own text names its source lines; the caller gets the fact.
        result.reason = "the image data cannot be decoded";
    }
    if (decoded.empty()) {
        if (!damage.empty()) result.reason = damage;
        else if (result.reason.empty()) result.reason = "not an image the reader can decode";
        return result;
    }
    // A format whose header is not read here is checked once decoded.
    if (const auto why = sizeRefusal(decoded.size(), limit)) return refuse(decoded.size(), *why);

    try {
        result.image = toColour(decoded);
    } catch (const std::exception&) {
        result.reason = "the image data cannot be converted to colour";
        return result;
    }
    result.status = ImageLoad::Status::Loaded;
    if (!damage.empty()) {
        result.warning = damage;
        logger().line(LogLevel::Warning, "Image file '", path, "' is damaged: ", damage);
    }
    return result;
}

} // namespace orb
