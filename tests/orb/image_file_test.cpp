#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>
#include <sys/stat.h>

#include <zlib.h>

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "orb/image_file.h"
#include "orb/logger.h"
#include "support/log_capture.h"
#include "support/temporary_directory.h"

using orb::ImageLoad;
using namespace std::string_literals;

namespace {

class ImageFiles : public ::testing::Test {
protected:
    std::string write(const std::string& name, const std::string& bytes)
    {
        const std::string path = (directory.path() / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    std::string encoded(const std::string& name, const cv::Mat& image)
    {
        std::vector<unsigned char> bytes;
        EXPECT_TRUE(cv::imencode(name.substr(name.rfind('.')), image, bytes)) << name;
        return std::string(bytes.begin(), bytes.end());
    }

    orb::testing::TemporaryDirectory directory{"image_file_test"};
    orb::LogCapture log;
};

std::string bigEndian32(std::uint32_t v)
{
    return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}
std::string littleEndian32(std::uint32_t v) { return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }

std::string pngChunk(const std::string& type, const std::string& data)
{
    const std::string body = type + data;
    const auto crc = crc32(0L, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
    return bigEndian32(static_cast<std::uint32_t>(data.size())) + body + bigEndian32(static_cast<std::uint32_t>(crc));
}

// A greyscale picture with a black square, for telling pages and damage apart.
cv::Mat picture(int shade, cv::Size size = {80, 60})
{
    cv::Mat image(size, CV_8UC1, cv::Scalar(shade));
    cv::rectangle(image, cv::Rect(10, 10, 20, 20), cv::Scalar(0), cv::FILLED);
    return image;
}

} // namespace

// The limit is applied from each format's header, so it must hold for every
// format, and at exactly the limit the picture still loads.
TEST_F(ImageFiles, PixelLimitHoldsForEveryFormat)
{
    const cv::Mat grey = picture(90);
    for (const std::string extension : {"png", "jpg", "bmp", "tiff", "webp", "pgm", "pam", "sr", "jp2"}) {
        const std::string path = write("grey." + extension, encoded("." + extension, grey));

        const ImageLoad loaded = orb::loadImage(path, 4800);
        ASSERT_EQ(loaded.status, ImageLoad::Status::Loaded) << extension << ": " << loaded.reason;
        EXPECT_EQ(loaded.image.size(), grey.size());
        EXPECT_EQ(loaded.image.type(), CV_8UC3) << "always colour, as the decoder's caller expects";
        EXPECT_EQ(loaded.warning, "") << extension;

        const ImageLoad refused = orb::loadImage(path, 4799);
        EXPECT_EQ(refused.status, ImageLoad::Status::TooLarge) << extension;
        EXPECT_TRUE(refused.image.empty());
        EXPECT_EQ(refused.size, grey.size());
    }
    EXPECT_NE(log.text().find("Warning\tImage file '" + (directory.path() / "grey.png").string() +
                              "' has 80 x 60 pixels, more than the limit of 4799 pixels\n"),
              std::string::npos)
        << log.text();
}

// Headers beyond what the image library itself takes: the caller still gets
// the size, never the library's assertion text.
TEST_F(ImageFiles, BombsBeyondTheImageLibrarysOwnLimitAreTooLargeWithTheirSize)
{
    const std::string side = bigEndian32(40000);
    const std::string bmpInfo = littleEndian32(40) + littleEndian32(40000) + littleEndian32(40000) + "\x01\x00\x18\x00"s +
                                std::string(24, '\0');
    std::string jpeg = encoded(".jpg", picture(90));
    const std::size_t frame = jpeg.find("\xFF\xC0");
    ASSERT_NE(frame, std::string::npos);
    jpeg.replace(frame + 5, 4, "\x9C\x40\x9C\x40"); // 40000 x 40000
    const std::string tiffEntries = std::string("\x02\x00", 2) + "\x00\x01\x04\x00"s + littleEndian32(1) +
                                    littleEndian32(40000) + "\x01\x01\x04\x00"s + littleEndian32(1) +
                                    littleEndian32(40000) + littleEndian32(0);
    const std::string tallTiff = std::string("\x02\x00", 2) + "\x00\x01\x04\x00"s + littleEndian32(1) +
                                 littleEndian32(1) + "\x01\x01\x04\x00"s + littleEndian32(1) +
                                 littleEndian32(100'000'000) + littleEndian32(0);
    const std::vector<std::pair<std::string, std::string>> bombs = {
        {"png", "\x89PNG\r\n\x1a\n" + pngChunk("IHDR", side + side + "\x08\x00\x00\x00\x00"s) + pngChunk("IEND", "")},
        {"bmp", "BM" + littleEndian32(54) + littleEndian32(0) + littleEndian32(54) + bmpInfo},
        {"jpg", jpeg},
        {"pgm", "P5\n40000 40000\n255\n\x01\x02"},
        {"pam", "P7\nWIDTH 40000\nHEIGHT 40000\nDEPTH 1\nMAXVAL 255\nTUPLTYPE GRAYSCALE\nENDHDR\n\x01"},
        {"pfm", "Pf\n40000 40000\n-1.0\n\x01\x02\x03\x04"},
        {"ras", "\x59\xA6\x6A\x95" + side + side + bigEndian32(8) + bigEndian32(0) + bigEndian32(1) + bigEndian32(0) +
                    bigEndian32(0)},
        {"tif", "II*\0"s + littleEndian32(8) + tiffEntries},
        {"hdr", "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 40000 +X 40000\n\x01\x02"},
    };
    for (const auto& [extension, bytes] : bombs) {
        const ImageLoad result = orb::loadImage(write("bomb." + extension, bytes));
        EXPECT_EQ(result.status, ImageLoad::Status::TooLarge) << extension << ": " << result.reason;
        EXPECT_EQ(result.size, cv::Size(40000, 40000)) << extension;
        EXPECT_EQ(result.reason, "40000 x 40000 pixels, more than the limit of 120000000") << extension;
    }
    const ImageLoad tall = orb::loadImage(write("tall.tif", "II*\0"s + littleEndian32(8) + tallTiff));
    EXPECT_EQ(tall.status, ImageLoad::Status::TooLarge) << tall.reason;
    EXPECT_EQ(tall.size, cv::Size(1, 100'000'000));
    EXPECT_EQ(tall.reason, "1 x 100000000 pixels, a side longer than the limit of 1048576");
}

TEST_F(ImageFiles, WhatCannotBeReadIsReportedNotThrown)
{
    write("text.png", "not an image");
    const std::string pipe = (directory.path() / "pipe.png").string();
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    // A pipe nobody writes to would block the reader for ever.
    for (const std::string name : {"missing.png", "text.png", "pipe.png", ""}) {
        const ImageLoad result = orb::loadImage((directory.path() / name).string());
        EXPECT_EQ(result.status, ImageLoad::Status::Unreadable) << name;
        EXPECT_TRUE(result.image.empty());
        EXPECT_FALSE(result.reason.empty()) << name;
    }
    EXPECT_EQ(log.text(), "") << "only oversized and damaged pictures warn";
}

// The image library's DICOM decoder aborts the process on a damaged file:
// such a file is refused before it reaches it, alone or behind another
// format's signature that the library tries after it. A PNG that happens to
// hold the signature is still a PNG.
TEST_F(ImageFiles, ADamagedDicomFileIsRefusedNotLeftToAbortTheProcess)
{
    const std::string preamble(128, '\0');
    const std::string damaged = preamble + "DICM" + "\x02\x00\x10\x00UL\x04\x00\xff\xff\xff\xff" + std::string(64, '\xff');
    const std::string exr = "\x76\x2f\x31\x01"s + std::string(124, '\0') + "DICM" + std::string(64, '\xff');
    for (const auto& [name, bytes] : {std::pair{"scan.dcm", damaged}, std::pair{"scan.exr", exr}}) {
        const ImageLoad result = orb::loadImage(write(name, bytes));
        EXPECT_EQ(result.status, ImageLoad::Status::Unreadable) << name;
        EXPECT_EQ(result.reason, "a DICOM file, which the reader does not read") << name;
    }
    cv::Mat white(8, 8, CV_8UC3, cv::Scalar::all(255));
    std::vector<unsigned char> png;
    cv::imencode(".png", white, png);
    std::string bytes(png.begin(), png.end());
    bytes.resize(std::max<std::size_t>(bytes.size(), 140), '\0');
    bytes.replace(128, 4, "DICM");
    const ImageLoad picture = orb::loadImage(write("odd.png", bytes));
    EXPECT_NE(picture.reason, "a DICOM file, which the reader does not read");
}

// A truncated or corrupt file says so: with a warning when a picture still
// decodes (a JPEG decoder fills in what is missing), as the reason when not.
TEST_F(ImageFiles, TruncatedAndCorruptFilesAreReportedAsSuch)
{
    cv::Mat noise(240, 320, CV_8UC3);
    cv::randu(noise, cv::Scalar::all(0), cv::Scalar::all(255));
    const std::string jpeg = encoded(".jpg", noise);
    const ImageLoad halfJpeg = orb::loadImage(write("half.jpg", jpeg.substr(0, jpeg.size() / 2)));
    EXPECT_EQ(halfJpeg.status, ImageLoad::Status::Loaded) << halfJpeg.reason;
    EXPECT_EQ(halfJpeg.warning, "truncated JPEG: the data ends before the end-of-image marker");
    EXPECT_NE(log.text().find("is damaged: truncated JPEG"), std::string::npos) << log.text();
    // Bytes after the end of the picture are no damage.
    EXPECT_EQ(orb::loadImage(write("padded.jpg", jpeg + std::string(100, '\0'))).warning, "");

    const std::string png = encoded(".png", noise);
    const ImageLoad halfPng = orb::loadImage(write("half.png", png.substr(0, png.size() / 2)));
    EXPECT_EQ(halfPng.status, ImageLoad::Status::Unreadable);
    EXPECT_EQ(halfPng.reason, "truncated PNG: the data ends inside the IDAT chunk");
    std::string flipped = png;
    flipped[png.size() / 2] ^= 0x10;
    EXPECT_EQ(orb::loadImage(write("flipped.png", flipped)).reason, "corrupt PNG: the IDAT chunk fails its CRC check");

    const std::string tiff = encoded(".tiff", noise);
    EXPECT_NE(orb::loadImage(write("half.tiff", tiff.substr(0, tiff.size() / 2))).reason.find("truncated TIFF"),
              std::string::npos);
    const std::string bmp = encoded(".bmp", noise);
    const ImageLoad halfBmp = orb::loadImage(write("half.bmp", bmp.substr(0, bmp.size() / 2)));
    EXPECT_EQ(halfBmp.warning + halfBmp.reason, "truncated BMP: the pixel data is shorter than the header says");
    const std::string pgm = encoded(".pgm", picture(90));
    const ImageLoad halfPgm = orb::loadImage(write("half.pgm", pgm.substr(0, pgm.size() / 2)));
    EXPECT_EQ(halfPgm.warning + halfPgm.reason, "truncated PNM: the samples are fewer than the header says");
}

// Offsets in a TIFF come from the file; ones near the top of the 64-bit
// range must not wrap round to read before the start of the data.
TEST_F(ImageFiles, TiffOffsetsThatWouldWrapAreDamageNotReads)
{
    // BigTIFF whose first directory lies at 2^64 - 1, and one whose entry
    // points its strip offsets there.
    const std::string header = "MM"s + '\0' + '\x2b' + '\0' + '\x08' + '\0' + '\0';
    const std::string wrappingDirectory = header + std::string(8, '\xff') + std::string(80, '\xff');
    std::string entry = "\x01\x11"s + '\0' + '\x10' + std::string(7, '\0') + '\x02' + std::string(8, '\xff');
    const std::string wrappingStrips =
        header + std::string(7, '\0') + '\x10' + std::string(7, '\0') + '\x01' + entry + std::string(8, '\0');
    for (const auto& [name, bytes] : {std::pair{"directory.tif", wrappingDirectory}, {"strips.tif", wrappingStrips}}) {
        const ImageLoad load = orb::loadImage(write(name, bytes));
        EXPECT_EQ(load.status, ImageLoad::Status::Unreadable) << name;
        EXPECT_TRUE(load.image.empty()) << name;
    }
}

// A dark code on a transparent background stays dark on white, and deep or
// floating-point samples keep their shade in 8 bits.
TEST_F(ImageFiles, TransparencyDepthAndFloatSamplesBecomeEightBitColour)
{
    cv::Mat transparent(60, 80, CV_8UC4, cv::Scalar(0, 0, 0, 0));
    cv::rectangle(transparent, cv::Rect(10, 10, 20, 20), cv::Scalar(0, 0, 0, 255), cv::FILLED);
    cv::rectangle(transparent, cv::Rect(40, 10, 20, 20), cv::Scalar(0, 0, 0, 128), cv::FILLED);
    const cv::Mat laid = orb::loadImage(write("alpha.png", encoded(".png", transparent))).image;
    ASSERT_EQ(laid.type(), CV_8UC3);
    EXPECT_EQ(laid.at<cv::Vec3b>(0, 0), cv::Vec3b(255, 255, 255));
    EXPECT_EQ(laid.at<cv::Vec3b>(20, 20), cv::Vec3b(0, 0, 0));
    EXPECT_NEAR(laid.at<cv::Vec3b>(20, 50)[0], 127, 1);

    cv::Mat deep(60, 80, CV_16UC1, cv::Scalar(0x8080));
    EXPECT_EQ(orb::loadImage(write("deep.png", encoded(".png", deep))).image.at<cv::Vec3b>(5, 5), cv::Vec3b(128, 128, 128));

    cv::Mat floating(60, 80, CV_32FC3, cv::Scalar::all(0.5));
    floating(cv::Rect(10, 10, 20, 20)).setTo(cv::Scalar::all(0));
    for (const std::string extension : {"pfm", "hdr", "exr"}) {
        const ImageLoad loaded = orb::loadImage(write("float." + extension, encoded("." + extension, floating)));
        ASSERT_EQ(loaded.status, ImageLoad::Status::Loaded) << extension << ": " << loaded.reason;
        EXPECT_NEAR(loaded.image.at<cv::Vec3b>(5, 5)[1], 128, 1) << extension;
        EXPECT_EQ(loaded.image.at<cv::Vec3b>(20, 20)[1], 0) << extension;
    }
}

TEST_F(ImageFiles, EveryPageOfAMultiPageTiffLoads)
{
    const std::string path = (directory.path() / "pages.tiff").string();
    ASSERT_TRUE(cv::imwrite(path, std::vector<cv::Mat>{picture(200), picture(150, {40, 30}), picture(100)}));
    const ImageLoad first = orb::loadImage(path);
    ASSERT_EQ(first.status, ImageLoad::Status::Loaded) << first.reason;
    EXPECT_EQ(first.pages, 3);
    const ImageLoad second = orb::loadImage(path, orb::kMaxImagePixels, 1);
    ASSERT_EQ(second.status, ImageLoad::Status::Loaded) << second.reason;
    EXPECT_EQ(second.image.size(), cv::Size(40, 30));
    EXPECT_EQ(second.image.at<cv::Vec3b>(0, 0)[0], 150);
    EXPECT_EQ(orb::loadImage(path, orb::kMaxImagePixels, 2).image.at<cv::Vec3b>(0, 0)[0], 100);
    EXPECT_EQ(orb::loadImage(path, orb::kMaxImagePixels, 3).status, ImageLoad::Status::Unreadable);
    EXPECT_EQ(orb::loadImage(path, 1500, 1).status, ImageLoad::Status::Loaded) << "each page has its own size";
    EXPECT_EQ(orb::loadImage(path, 1500, 2).status, ImageLoad::Status::TooLarge);
}

// A host's settings of the image library stay as it set them, whatever the
// loader does on several threads at once.
TEST_F(ImageFiles, LoadingLeavesTheImageLibrarysSettingsAsTheHostSetThem)
{
    namespace logging = cv::utils::logging;
    const logging::LogLevel hostLevel = logging::setLogLevel(logging::LOG_LEVEL_ERROR);
    cv::MatAllocator* const hostAllocator = cv::Mat::getDefaultAllocator();
    const std::string good = write("good.png", encoded(".png", picture(90)));
    const std::string large = write("large.png", encoded(".png", picture(90, {400, 300})));
    const std::string bad = write("bad.png", "\x89PNG\r\n\x1a\nrubbish");
    auto load = [&] {
        for (int i = 0; i < 100; ++i) {
            orb::loadImage(good);
            orb::loadImage(large, 1000);
            orb::loadImage(bad);
        }
    };
    std::thread other(load);
    load();
    other.join();
    EXPECT_EQ(logging::getLogLevel(), logging::LOG_LEVEL_ERROR);
    EXPECT_EQ(cv::Mat::getDefaultAllocator(), hostAllocator);
    logging::setLogLevel(hostLevel);
}
