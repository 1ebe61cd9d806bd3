#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include <opencv2/imgcodecs.hpp>

#include "orb/image_file.h"
#include "orb/logger.h"
#include "support/temporary_directory.h"

using orb::ImageLoad;

namespace {

class ImageFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        orb::logger().setConsoleStream(log);
        orb::logger().setConsoleLevel(0);
    }
    void TearDown() override
    {
        orb::logger().setConsoleStream(std::cout);
        orb::logger().setConsoleLevel(previousLevel);
    }

    orb::testing::TemporaryDirectory directory{"image_file_test"};
    std::ostringstream log;
    int previousLevel = orb::logger().consoleLevel();
};

} // namespace

// The limit is applied by the image library's own header reading, so it must
// hold for every format, and at exactly the limit the picture still loads.
TEST_F(ImageFiles, PixelLimitHoldsForEveryFormat)
{
    const cv::Mat grey(60, 80, CV_8UC1, cv::Scalar(90));
    for (const std::string extension : {"png", "jpg", "bmp", "tiff", "webp", "pgm", "pam", "sr", "jp2"}) {
        const std::string path = (directory.path() / ("grey." + extension)).string();
        ASSERT_TRUE(cv::imwrite(path, grey)) << extension;

        const ImageLoad loaded = orb::loadImage(path, 4800);
        ASSERT_EQ(loaded.status, ImageLoad::Status::Loaded) << extension << ": " << loaded.reason;
        EXPECT_EQ(loaded.image.size(), grey.size());
        EXPECT_EQ(loaded.image.type(), CV_8UC3) << "always colour, as the decoder's caller expects";

        const ImageLoad refused = orb::loadImage(path, 4799);
        EXPECT_EQ(refused.status, ImageLoad::Status::TooLarge) << extension;
        EXPECT_TRUE(refused.image.empty());
        EXPECT_EQ(refused.size, grey.size());
    }
    EXPECT_NE(log.str().find("Warning\tImage file '" + (directory.path() / "grey.png").string() +
                             "' has 80 x 60 pixels, more than the limit of 4799 pixels\n"),
              std::string::npos)
        << log.str();
}

TEST_F(ImageFiles, WhatCannotBeReadIsReportedNotThrown)
{
    std::ofstream(directory.path() / "text.png") << "not an image";
    const std::string pipe = (directory.path() / "pipe.png").string();
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    // A pipe nobody writes to would block the reader for ever.
    for (const std::string name : {"missing.png", "text.png", "pipe.png", ""}) {
        const ImageLoad result = orb::loadImage((directory.path() / name).string());
        EXPECT_EQ(result.status, ImageLoad::Status::Unreadable) << name;
        EXPECT_TRUE(result.image.empty());
        EXPECT_FALSE(result.reason.empty()) << name;
    }
    EXPECT_EQ(log.str(), "") << "only oversized pictures warn";
}
