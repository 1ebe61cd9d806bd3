#include "fuzz_support.h"

#include <algorithm>
#include <cstring>

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgproc.hpp>

#include "orb/logger.h"

namespace fuzz {

void quietLibrary()
{
    orb::logger().setConsoleLevel(static_cast<int>(orb::LogLevel::Off));
    cv::setNumThreads(0);
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
}

namespace {
constexpr int kChannelChoices[4] = {1, 3, 4, 1};
}

ImageInput imageFromBytes(const std::uint8_t* data, std::size_t size)
{
    std::uint8_t header[kHeaderSize] = {0, 4, 0, 0};
    std::memcpy(header, data, std::min<std::size_t>(size, kHeaderSize));
    const std::size_t pixelBytes = size > kHeaderSize ? size - kHeaderSize : 0;

    ImageInput input;
    input.enhance = (header[0] & 1) != 0;
    input.codeType = (header[0] >> 1) & 1;
    const int channels = kChannelChoices[(header[0] >> 2) & 3];
    const int scale = ((header[0] >> 4) & 3) + 1;
    input.layout = header[1] % 8;
    const int width = header[2] + 1;
    const int height = header[3] + 1;

    cv::Mat image(height, width, CV_MAKETYPE(CV_8U, channels), cv::Scalar::all(255));
    const std::size_t rowBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(channels);
    for (int y = 0; y < height; ++y) {
        const std::size_t offset = static_cast<std::size_t>(y) * rowBytes;
        if (offset >= pixelBytes) break;
        std::memcpy(image.ptr(y), data + kHeaderSize + offset, std::min(rowBytes, pixelBytes - offset));
    }

    const int longer = std::max(width, height);
    const int factor = std::min(scale, std::max(1, kMaxSide / longer));
    if (factor > 1) cv::resize(image, image, cv::Size(width * factor, height * factor), 0, 0, cv::INTER_LINEAR);
    input.image = image;
    return input;
}

std::vector<std::uint8_t> bytesFromImage(const cv::Mat& image, bool enhance, std::int32_t codeType,
                                         std::int32_t layout, int scale)
{
    CV_Assert(image.depth() == CV_8U && image.cols >= 1 && image.cols <= 256 && image.rows >= 1 &&
              image.rows <= 256 && scale >= 1 && scale <= 4);
    int channelBits = 0;
    switch (image.channels()) {
    case 1: channelBits = 0; break;
    case 3: channelBits = 1; break;
    case 4: channelBits = 2; break;
    default: CV_Error(cv::Error::StsBadArg, "1, 3 or 4 channels");
    }
    std::vector<std::uint8_t> bytes;
    bytes.push_back(static_cast<std::uint8_t>((enhance ? 1 : 0) | ((codeType & 1) << 1) | (channelBits << 2) |
                                              ((scale - 1) << 4)));
    bytes.push_back(static_cast<std::uint8_t>(layout & 7));
    bytes.push_back(static_cast<std::uint8_t>(image.cols - 1));
    bytes.push_back(static_cast<std::uint8_t>(image.rows - 1));
    const std::size_t rowBytes = static_cast<std::size_t>(image.cols) * image.elemSize();
    for (int y = 0; y < image.rows; ++y) bytes.insert(bytes.end(), image.ptr(y), image.ptr(y) + rowBytes);
    // Trailing white is implied; dropping it keeps the seeds small.
    while (bytes.size() > kHeaderSize && bytes.back() == 255) bytes.pop_back();
    return bytes;
}

} // namespace fuzz
