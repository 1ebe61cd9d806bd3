#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "orb/decoder.h"
#include "orb/logger.h"

using namespace orb;

namespace {

// The code or the message of the OCException that `run` throws.
template <class F>
OCException caught(F run)
{
    try {
        run();
    } catch (const OCException& e) {
        return e;
    }
    ADD_FAILURE() << "no OCException";
    return OCException(Success, "");
}

} // namespace

TEST(ResultText, FixedTextsAndGaps)
{
    EXPECT_STREQ(resultText(Success), "SUCCESS");
    EXPECT_STREQ(resultText(InnerCircleNotFound), "Inner circle not found");
    EXPECT_STREQ(resultText(CodeTypeMismatch), "CodeType and image type don't fit");
    EXPECT_STREQ(resultText(18), "");
    EXPECT_STREQ(resultText(22), "");
    EXPECT_STREQ(resultText(-1), "");
}

TEST(OCException, MessageCarriesDetailInParentheses)
{
    EXPECT_STREQ(OCException(WrongGrid, "").what(), "Wrong grid");
    EXPECT_STREQ(OCException(WrongGrid, "x").what(), "Wrong grid (x)");
    const OCException original(DataSizeExceedsMaximum, "Payload size exceeds maximum");
    const OCException copy = original;
    EXPECT_STREQ(copy.what(), "Data size exceeds maxium (Payload size exceeds maximum)");
    EXPECT_EQ(copy.code, DataSizeExceedsMaximum);
    const std::runtime_error& base = copy;
    EXPECT_STREQ(base.what(), copy.what());
}

TEST(DecoderInput, RefusesImagesItCannotTake)
{
    const DecoderConfiguration config;
    const OCException empty = caught([&] { decode(config, cv::Mat(), true); });
    EXPECT_EQ(empty.code, InvalidConfiguration);
    EXPECT_STREQ(empty.what(), "Orbel code configuration is invalid (the image is empty)");

    const OCException deep = caught([&] { decode(config, cv::Mat(20, 20, CV_16UC1, cv::Scalar(0)), false); });
    EXPECT_EQ(deep.code, InvalidConfiguration);
    EXPECT_NE(std::string(deep.what()).find("8 bits"), std::string::npos);

    const OCException two = caught([&] { decode(config, cv::Mat(20, 20, CV_8UC2, cv::Scalar(0, 0)), false); });
    EXPECT_EQ(two.code, InvalidConfiguration);
    EXPECT_NE(std::string(two.what()).find("not 2"), std::string::npos);
}

TEST(DecoderInput, CodeTypeMustFitTheChannels)
{
    DecoderConfiguration color;
    color.codeType = Color;
    const cv::Mat gray(40, 40, CV_8UC1, cv::Scalar(255));
    const OCException mismatch = caught([&] { decode(color, gray, true); });
    EXPECT_EQ(mismatch.code, CodeTypeMismatch);
    EXPECT_STREQ(mismatch.what(), "CodeType and image type don't fit");

    // Colour images go with either code type; four channels lose their alpha.
    const cv::Mat bgr(40, 40, CV_8UC3, cv::Scalar(255, 255, 255));
    EXPECT_EQ(checkDecoderInput(DecoderConfiguration(), bgr).data, bgr.data);
    const cv::Mat bgra(40, 40, CV_8UC4, cv::Scalar(10, 20, 30, 0));
    const cv::Mat dropped = checkDecoderInput(color, bgra);
    EXPECT_EQ(dropped.type(), CV_8UC3);
    EXPECT_EQ(dropped.at<cv::Vec3b>(5, 5), cv::Vec3b(10, 20, 30));
}

TEST(DecoderInput, WidthIsLimitedTo1280Columns)
{
    const cv::Mat exact(720, 1280, CV_8UC3, cv::Scalar(1, 2, 3));
    const cv::Mat kept = normalizeImageSize(exact);
    EXPECT_EQ(kept.data, exact.data); // shared, not copied

    const cv::Mat wide(720, 1281, CV_8UC3, cv::Scalar(1, 2, 3));
    const cv::Mat reduced = normalizeImageSize(wide);
    EXPECT_EQ(reduced.size(), cv::Size(1280, 719));
    EXPECT_EQ(reduced.type(), CV_8UC3);

    const cv::Mat flat(1, 5000, CV_8UC1, cv::Scalar(9));
    EXPECT_EQ(normalizeImageSize(flat).size(), cv::Size(1280, 1));
}

TEST(Decode, ImageWithoutCodeFailsWithInnerCircleNotFound)
{
    cv::Mat blank(300, 400, CV_8UC3, cv::Scalar(255, 255, 255));
    cv::rectangle(blank, cv::Rect(50, 50, 60, 30), cv::Scalar(0, 0, 0), cv::FILLED);
    const cv::Mat before = blank.clone();
    DecoderConfiguration color;
    color.codeType = Color;
    for (const bool enhance : {false, true}) {
        EXPECT_EQ(caught([&] { decode(DecoderConfiguration(), blank, enhance); }).code, InnerCircleNotFound);
        EXPECT_EQ(caught([&] { decode(color, blank, enhance); }).code, InnerCircleNotFound);
    }
    EXPECT_EQ(caught([&] { decode(DecoderConfiguration(), cv::Mat(1, 3000, CV_8UC1, cv::Scalar(0)), true); }).code,
              InnerCircleNotFound);
    EXPECT_EQ(cv::norm(blank, before, cv::NORM_INF), 0.0); // the caller's pixels are only read
}

namespace {

// The "decoded ..." result lines that one decode writes at Info.
std::vector<std::string> resultLines(const cv::Mat& image, std::string& text)
{
    std::ostringstream console;
    logger().setConsoleStream(console);
    const int previous = logger().consoleLevel();
    logger().setConsoleLevel(static_cast<int>(LogLevel::Info));
    try {
        text = decode(DecoderConfiguration(), image, true);
    } catch (...) {
        logger().setConsoleStream(std::cout);
        logger().setConsoleLevel(previous);
        throw;
    }
    logger().setConsoleStream(std::cout);
    logger().setConsoleLevel(previous);
    std::vector<std::string> lines;
    std::istringstream in(console.str());
    for (std::string line; std::getline(in, line);)
        if (line.rfind("Info\tdecoded", 0) == 0) lines.push_back(line);
    return lines;
}

} // namespace

TEST(Decode, MirroredCodeIsReadOnTheSecondAttempt)
{
    const cv::Mat sample = cv::imread(ORB_SOURCE_DIR "/examples/sample.png", cv::IMREAD_COLOR);
    ASSERT_FALSE(sample.empty());
    std::string text;
    const std::vector<std::string> straight = resultLines(sample, text);
    ASSERT_EQ(straight.size(), 3u);
    EXPECT_EQ(straight[0].rfind("Info\tdecoded ECC type                 : ", 0), 0u);
    EXPECT_EQ(straight[1].rfind("Info\tdecoded data type                : ", 0), 0u);
    EXPECT_EQ(straight[2], "Info\tdecoded payload                  : \"" + text + "\"");
    EXPECT_EQ(text, "Hello, ScanBench!");

    cv::Mat mirrored;
    cv::flip(sample, mirrored, 1);
    std::string mirroredText;
    const std::vector<std::string> flipped = resultLines(mirrored, mirroredText);
    EXPECT_EQ(mirroredText, text);
    ASSERT_EQ(flipped.size(), 4u);
    const std::string eccName = straight[0].substr(straight[0].find(": ") + 2);
    EXPECT_EQ(flipped[0], "Info\tdecoded flipped image            : " + eccName);
    EXPECT_EQ(std::vector<std::string>(flipped.begin() + 1, flipped.end()), straight);
}
