// One Orbel code and one QR code of the same text, each alone in a frame of
// the same size, read side by side: every iteration times our read, the QR
// reader's (zxing-cpp, QR only) and the floor of one grey conversion plus an
// Otsu threshold, interleaved so machine load hits all three alike. The
// counters are medians in ms and their ratios; `ratio` <= 1 means we read as
// fast as the QR reader. `reject_share` is the time to turn down a frame
// without a code (a photograph) as a share of our read.
#define ZX_USE_UTF8 1
#include <benchmark/benchmark.h>

#include "side_by_side.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>
#include <ZXing/ReadBarcode.h>
#include <opencv2/imgproc.hpp>

#include "orb/decoder.h"
#include "orb/logger.h"
#include "orb/reader.h"
#include "support/code_samples.h"
#include "support/photo_scenes.h"

namespace {

// 26 characters, as in the case the speed target was set on.
const std::string kText = "SCANBENCH SIDE BY SIDE 26.";

// An Orbel code's outer edge lies 14 ring pitches from its centre (hub 3,
// zebra bands 1, 9 rings, outer zebra 1).
constexpr double kPitchesAcross = 28;

struct Case {
    cv::Size frame;
    int diameter; // of the Orbel code and the side of the QR code, pixels
};

const Case kCases[] = {{{1280, 720}, 640}, {{1280, 720}, 240}, {{1920, 1080}, 960}, {{1920, 1080}, 360}};

cv::Mat orbelFrame(const Case& c)
{
    orb::samples::SampleRecipe recipe;
    recipe.modulesPerRing = 32;
    recipe.ringCount = 9;
    recipe.pitch = c.diameter / kPitchesAcross;
    recipe.canvas = c.frame;
    recipe.text = kText;
    return orb::samples::drawSample(recipe).image;
}

cv::Mat qrFrame(const Case& c)
{
    const ZXing::BitMatrix bits = ZXing::MultiFormatWriter(ZXing::BarcodeFormat::QRCode).setMargin(0).encode(kText, 0, 0);
    cv::Mat modules(bits.height(), bits.width(), CV_8U);
    for (int y = 0; y < bits.height(); ++y)
        for (int x = 0; x < bits.width(); ++x) modules.at<std::uint8_t>(y, x) = bits.get(x, y) ? 0 : 255;
    cv::Mat code;
    cv::resize(modules, code, cv::Size(c.diameter, c.diameter), 0, 0, cv::INTER_NEAREST);
    cv::Mat frame(c.frame, CV_8UC3, cv::Scalar::all(255));
    cv::cvtColor(code, frame(cv::Rect((c.frame.width - c.diameter) / 2, (c.frame.height - c.diameter) / 2,
                                      c.diameter, c.diameter)),
                 cv::COLOR_GRAY2BGR);
    return frame;
}

cv::Mat photoFrame(const Case& c)
{
    cv::Mat frame;
    cv::resize(orb::samples::loadPhotos().at(0), frame, c.frame, 0, 0, cv::INTER_AREA);
    return frame;
}

std::string readQr(const cv::Mat& frame)
{
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::QRCode);
    const ZXing::Result result =
        ZXing::ReadBarcode({frame.data, frame.cols, frame.rows, ZXing::ImageFormat::BGR, static_cast<int>(frame.step)},
                           hints);
    return result.isValid() ? result.text() : std::string();
}

std::string decodeOrbel(const cv::Mat& frame, bool enhance)
{
    try {
        return orb::decode(orb::DecoderConfiguration(), frame, enhance);
    } catch (const orb::OCException&) {
        return {};
    }
}

std::string readOrbel(const cv::Mat& frame)
{
    const orb::ReadResult result = orb::readCode(frame);
    return result ? std::string(result.bytes.begin(), result.bytes.end()) : std::string();
}

double greyOtsu(const cv::Mat& frame)
{
    cv::Mat grey, binary;
    cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
    return cv::threshold(grey, binary, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
}

using bench::median;
using bench::millisecondsOf;

enum Mode { Decode = 0, DecodePlain = 1, Reader = 2 };

// range(0): the case; range(1): the Mode of our read.
void BM_SideBySide(benchmark::State& state)
{
    orb::logger().setConsoleLevel(static_cast<int>(orb::LogLevel::Off));
    const Case& c = kCases[state.range(0)];
    const auto mode = static_cast<Mode>(state.range(1));
    const cv::Mat orbel = orbelFrame(c), qr = qrFrame(c), photo = photoFrame(c);
    const std::function<std::string(const cv::Mat&)> ours = [mode](const cv::Mat& frame) {
        return mode == Reader ? readOrbel(frame) : decodeOrbel(frame, mode == Decode);
    };
    if (ours(orbel) != kText) return state.SkipWithError("our read failed");
    if (readQr(qr) != kText) return state.SkipWithError("the QR read failed");
    if (!ours(photo).empty()) return state.SkipWithError("read a code in a frame without one");

    std::vector<double> ourTimes, qrTimes, floorTimes, rejectTimes;
    for (auto _ : state) {
        ourTimes.push_back(millisecondsOf([&] { return ours(orbel); }));
        qrTimes.push_back(millisecondsOf([&] { return readQr(qr); }));
        floorTimes.push_back(millisecondsOf([&] { return greyOtsu(orbel); }));
        rejectTimes.push_back(millisecondsOf([&] { return ours(photo); }));
    }
    const double our = median(ourTimes), peer = median(qrTimes), floor = median(floorTimes);
    state.counters["orbel_ms"] = our;
    state.counters["qr_ms"] = peer;
    state.counters["floor_ms"] = floor;
    state.counters["ratio"] = our / peer;
    state.counters["floor_ratio"] = our / floor;
    state.counters["reject_share"] = median(rejectTimes) / our;
    static const char* const modes[] = {"decode", "decode, no enhancement", "readCode"};
    state.SetLabel(std::to_string(c.frame.width) + "x" + std::to_string(c.frame.height) + " code " +
                   std::to_string(c.diameter) + " px, " + modes[mode]);
}

void cases(benchmark::internal::Benchmark* bench)
{
    for (int c = 0; c < static_cast<int>(std::size(kCases)); ++c)
        for (int mode : {Decode, DecodePlain, Reader}) bench->Args({c, mode});
}
BENCHMARK(BM_SideBySide)->Apply(cases)->Iterations(40)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
