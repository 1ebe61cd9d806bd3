// Speed of the reader's payload path: Reed-Solomon at its correction limit,
// the whole five-mask reading loop of one grid, and what the second read
// with erasures adds to a grid that does not decode.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>

#include "orb/payload/code_writer.h"
#include "orb/payload/module_layout.h"
#include "orb/payload/module_levels.h"
#include "orb/payload/payload_decoder.h"
#include "orb/payload/payload_frame.h"
#include "orb/payload/payload_types.h"
#include "side_by_side.h"

using namespace orb;

namespace {

constexpr int kRings = 40;
constexpr int kColumns = 59; // 64 modules per ring: 2360 bits, codeword capped at 255 bytes

// Logical module stream (1 bit per module) carrying a High codeword with the
// most byte errors High can correct.
std::vector<std::uint8_t> modulesWithMaximumErrors()
{
    std::srand(1);
    CodeWriter writer(kRings, kColumns, 1);
    writer.buildCodeword(Ascii, High, "Reed-Solomon at its limit: thirty-eight bytes in error.");
    std::vector<std::uint8_t> codeword = writer.codeword();
    const int correctable = eccLength(static_cast<int>(codeword.size()), High) / 2;
    std::mt19937 rng(5);
    std::vector<int> positions(codeword.size());
    for (std::size_t i = 0; i < positions.size(); ++i) positions[i] = static_cast<int>(i);
    std::shuffle(positions.begin(), positions.end(), rng);
    for (int i = 0; i < correctable; ++i) codeword[positions[i]] ^= static_cast<std::uint8_t>(1 + rng() % 255);

    std::vector<std::uint8_t> modules(kRings * kColumns, 0);
    for (std::size_t t = 0; t < codeword.size() * 8; ++t) modules[t] = (codeword[t / 8] >> (t % 8)) & 1;
    return modules;
}

void decodePayloadAtCorrectionLimit(benchmark::State& state)
{
    const auto modules = modulesWithMaximumErrors();
    std::string text;
    std::uint8_t dataType = 0, eccType = 0;
    if (decodePayload(modules, 1, text, dataType, eccType) != Success) state.SkipWithError("did not decode");
    for (auto _ : state) {
        benchmark::DoNotOptimize(decodePayload(modules, 1, text, dataType, eccType));
        benchmark::DoNotOptimize(text.data());
    }
}
BENCHMARK(decodePayloadAtCorrectionLimit);

// What grid reading does per code: each mask in turn until one decodes. The
// code carries mask 4, so the four before it are tried and fail first.
void fiveMaskReadingLoop(benchmark::State& state)
{
    const int bits = static_cast<int>(state.range(0));
    const int rings = bits == 3 ? 14 : kRings;
    std::srand(2);
    const auto physical = writeModules("The whole reading loop over five masks", Ascii, Quartile,
                                       HorizontalSnakeSmall, 4, rings, kColumns, bits);
    for (auto _ : state) {
        ResultCode result = EccUncorrectable;
        for (int mask = 0; mask < 5 && result != Success; ++mask) {
            std::vector<std::uint8_t> modules = physical;
            if (!applyMaskAndLayout(modules, mask, HorizontalSnakeSmall, rings, kColumns)) continue;
            std::string text;
            std::uint8_t dataType = 0, eccType = 0;
            result = decodePayload(modules, bits, text, dataType, eccType);
        }
        if (result != Success) state.SkipWithError("did not decode");
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(fiveMaskReadingLoop)->Arg(1)->Arg(3);

// A grid that holds no code, of a small code (6 rings of 32 modules) or a
// large one (40 rings of 64): the five masks as the first read tries them,
// and the same followed by the read against local levels with erasures,
// timed in turn. The counter `erasure_read_ratio` is the second over the first.
void undecodableGridWithErasures(benchmark::State& state)
{
    const bool large = state.range(0) != 0;
    const int rings = large ? kRings : 6, columns = large ? kColumns : 27;
    std::mt19937 rng(3);
    std::vector<cv::Vec3f> means(rings * columns);
    std::vector<std::uint8_t> physical(means.size());
    for (std::size_t i = 0; i < means.size(); ++i) {
        means[i] = cv::Vec3f::all(static_cast<float>(rng() % 256));
        physical[i] = means[i][0] > 127.5f ? 0 : 1;
    }
    const auto firstRead = [&] {
        ResultCode result = EccUncorrectable;
        for (int mask = 0; mask < 5; ++mask) {
            std::vector<std::uint8_t> modules = physical;
            if (!applyMaskAndLayout(modules, mask, HorizontalSnakeSmall, rings, columns)) continue;
            std::string text;
            std::uint8_t dataType = 0, eccType = 0;
            result = decodePayload(modules, 1, text, dataType, eccType);
        }
        return result;
    };
    const auto bothReads = [&] {
        ResultCode result = firstRead();
        const LevelReading levels = readByLocalLevels(means, rings, columns, 1);
        std::vector<int> positions;
        layoutPositions(HorizontalSnakeSmall, rings, columns, positions);
        std::vector<float> certainty(positions.size());
        for (std::size_t p = 0; p < positions.size(); ++p) certainty[p] = levels.certainty[positions[p]];
        for (int mask = 0; mask < 5; ++mask) {
            std::vector<std::uint8_t> modules = levels.values;
            if (!applyMaskAndLayout(modules, mask, HorizontalSnakeSmall, rings, columns)) continue;
            result = decodePayloadWithErasures(modules, certainty, 1).code;
        }
        return result;
    };
    std::vector<double> first, both;
    for (auto _ : state) {
        first.push_back(bench::millisecondsOf(firstRead));
        both.push_back(bench::millisecondsOf(bothReads));
    }
    state.counters["erasure_read_ratio"] = bench::median(both) / std::max(bench::median(first), 1e-9);
}
BENCHMARK(undecodableGridWithErasures)->Arg(0)->Arg(1);

} // namespace

BENCHMARK_MAIN();
