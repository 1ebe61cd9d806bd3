// Our code and its QR twin read side by side in photographs: the same text,
// the same size, the same place on the same photograph and the same camera
// faults, read by readCodes and by zxing-cpp (QR only), interleaved in one
// run so machine load hits both alike. Counters: warm medians in ms
// (`readcode_ms`: readCode on the same frame) and `ratio` = readCodes / QR (<= 1: we read as fast),
// `readcode_ratio` the same for readCode. BM_FirstCall runs this program
// again per call, so each read is the first of a fresh process, as a
// short-lived script pays it; `first_to_warm` is that first read over the
// same read made again in the same process (median of five).
#define ZX_USE_UTF8 1
#include <benchmark/benchmark.h>

#include "side_by_side.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "orb/logger.h"
#include "orb/reader.h"
#include "support/code_samples.h"
#include "support/photo_scenes.h"
#include "support/qr_twin.h"

namespace {

const std::string kText = "SCANBENCH SIDE BY SIDE 26.";
// An Orbel code's outer edge lies 14 ring pitches from its centre.
constexpr double kPitchesAcross = 28;

struct Case {
    const char* name;
    cv::Size frame;
    int diameter;      // of the code and the side of the QR symbol; 0: no code
    cv::Point2d place; // of the code's centre, as shares of the frame
    bool photograph;
};

const Case kCases[] = {
    {"1280x720 white, code 640 px centred", {1280, 720}, 640, {0.5, 0.5}, false},
    {"1920x1080 photo, code 260 px off centre", {1920, 1080}, 260, {0.31, 0.62}, true},
    {"4032x3024 photo, code 500 px off centre", {4032, 3024}, 500, {0.66, 0.38}, true},
    {"1920x1080 photo, no code", {1920, 1080}, 0, {}, true},
};

struct Frames {
    cv::Mat ours, qr;
};

// A code on a card of paper pasted into the frame; then the frame's faults,
// the same for both codes.
Frames makeFrames(const Case& c)
{
    cv::Mat background(c.frame, CV_8UC3, cv::Scalar::all(255));
    if (c.photograph) {
        std::mt19937 random(7);
        background = orb::samples::photoBackground(orb::samples::loadPhotos().at(2), c.frame, random);
    }
    Frames frames{background.clone(), background.clone()};
    if (c.diameter > 0) {
        const int card = std::min({c.diameter * 5 / 4, c.frame.width, c.frame.height});
        const cv::Rect where(static_cast<int>(c.place.x * c.frame.width) - card / 2,
                             static_cast<int>(c.place.y * c.frame.height) - card / 2, card, card);
        orb::samples::SampleRecipe recipe;
        recipe.modulesPerRing = 32;
        recipe.ringCount = 9;
        recipe.pitch = c.diameter / kPitchesAcross;
        recipe.canvas = where.size();
        recipe.centreOffset = {0, 0};
        recipe.text = kText;
        orb::samples::drawSample(recipe).image.copyTo(frames.ours(where));
        cv::Mat twin(where.size(), CV_8UC3, cv::Scalar::all(255));
        const int margin = (card - c.diameter) / 2;
        cv::cvtColor(orb::samples::qrSymbol(kText, c.diameter), twin(cv::Rect(margin, margin, c.diameter, c.diameter)),
                     cv::COLOR_GRAY2BGR);
        twin.copyTo(frames.qr(where));
    }
    if (c.photograph) {
        for (cv::Mat* frame : {&frames.ours, &frames.qr}) {
            *frame = orb::samples::gaussianBlur(*frame, 0.7 * c.frame.height / 1080);
            cv::Mat noise(frame->size(), CV_16SC3);
            cv::theRNG().state = 11;
            cv::randn(noise, 0, 3);
            cv::Mat noisy;
            cv::add(*frame, noise, noisy, cv::noArray(), CV_8UC3);
            *frame = orb::samples::jpeg(noisy, 88);
        }
    }
    return frames;
}

std::string readOurs(const cv::Mat& frame)
{
    const std::vector<orb::ReadResult> codes = orb::readCodes(frame);
    return codes.empty() ? std::string() : codes.front().text();
}

std::string readOne(const cv::Mat& frame)
{
    const orb::ReadResult code = orb::readCode(frame);
    return code ? code.text() : std::string();
}

std::string readQr(const cv::Mat& frame)
{
    const std::vector<std::string> texts = orb::samples::readQrCodes(frame);
    return texts.empty() ? std::string() : texts.front();
}

using bench::median;
using bench::millisecondsOf;

const std::string expected(const Case& c) { return c.diameter > 0 ? kText : std::string(); }

void BM_PhotoSideBySide(benchmark::State& state)
{
    orb::logger().setConsoleLevel(static_cast<int>(orb::LogLevel::Off));
    const Case& c = kCases[state.range(0)];
    const Frames frames = makeFrames(c);
    if (readOurs(frames.ours) != expected(c)) return state.SkipWithError("our read failed");
    if (readQr(frames.qr) != expected(c)) return state.SkipWithError("the QR read failed");
    std::vector<double> ours, one, qr;
    for (auto _ : state) {
        ours.push_back(millisecondsOf([&] { return readOurs(frames.ours); }));
        qr.push_back(millisecondsOf([&] { return readQr(frames.qr); }));
        one.push_back(millisecondsOf([&] { return readOne(frames.ours); }));
    }
    state.counters["orbel_ms"] = median(ours);
    state.counters["readcode_ms"] = median(one);
    state.counters["qr_ms"] = median(qr);
    state.counters["ratio"] = median(ours) / median(qr);
    state.counters["readcode_ratio"] = median(one) / median(qr);
    state.SetLabel(c.name);
}
BENCHMARK(BM_PhotoSideBySide)->DenseRange(0, std::size(kCases) - 1)->Iterations(15)->Unit(benchmark::kMillisecond)->UseRealTime();

// The first read in a process of this program started with
// `--first-call CASE WHO` and the same read warm, in ms; negative when it failed.
struct FirstCall {
    double first = -1, warm = -1;
};

FirstCall firstCallOf(int index, const char* who)
{
    const std::string command =
        std::filesystem::read_symlink("/proc/self/exe").string() + " --first-call " + std::to_string(index) + " " + who;
    FILE* child = popen(command.c_str(), "r");
    if (!child) return {};
    FirstCall call;
    if (std::fscanf(child, "%lf %lf", &call.first, &call.warm) != 2) call = {};
    return pclose(child) == 0 ? call : FirstCall{};
}

void BM_FirstCall(benchmark::State& state)
{
    const Case& c = kCases[state.range(0)];
    std::vector<double> ours, warm, qr;
    for (auto _ : state) {
        const FirstCall our = firstCallOf(static_cast<int>(state.range(0)), "ours");
        ours.push_back(our.first);
        warm.push_back(our.warm);
        qr.push_back(firstCallOf(static_cast<int>(state.range(0)), "qr").first);
    }
    if (*std::min_element(ours.begin(), ours.end()) < 0 || *std::min_element(qr.begin(), qr.end()) < 0)
        return state.SkipWithError("a first read failed");
    state.counters["orbel_first_ms"] = median(ours);
    state.counters["orbel_warm_ms"] = median(warm);
    state.counters["qr_first_ms"] = median(qr);
    state.counters["ratio"] = median(ours) / median(qr);
    state.counters["first_to_warm"] = median(ours) / median(warm);
    state.SetLabel(c.name);
}
BENCHMARK(BM_FirstCall)->DenseRange(0, std::size(kCases) - 1)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// The child's side: make the frames (as a program loads its image), time
// one read, then the same read warm.
int firstCall(int index, const std::string& who)
{
    orb::logger().setConsoleLevel(static_cast<int>(orb::LogLevel::Off));
    const Case& c = kCases[index];
    const Frames frames = makeFrames(c);
    std::string text;
    const auto read = [&] { return text = who == "qr" ? readQr(frames.qr) : readOurs(frames.ours); };
    const double first = millisecondsOf(read);
    const bool read_ = text == expected(c);
    std::vector<double> again;
    for (int k = 0; k < 5; ++k) again.push_back(millisecondsOf(read));
    std::cout << (read_ ? first : -1.0) << ' ' << median(again) << '\n';
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--first-call") == 0) {
        const int index = std::atoi(argv[2]);
        if (index < 0 || index >= static_cast<int>(std::size(kCases))) return 1;
        return firstCall(index, argv[3]);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
