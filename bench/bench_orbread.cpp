// orbread reading a folder of 200 photographs of codes (the project's scene
// set, written once as JPEG files) with one reading thread and with two,
// as the program does: loading, finding and reading each file, results
// delivered in order. The "speedup" line at the end is one thread's time
// over two threads'; on a machine of two cores the target is 1.8 or more.
// Arguments: reading threads, and 1 to turn OpenCV's own threads off in the
// one-thread run as well (orbread keeps them with one reading thread).
// Beside it, the same for work that shares nothing: on a shared or
// oversubscribed machine two threads get less than two cores, and the
// figure to judge is orbread's speed-up as a share of that one.
//   bench_orbread [--benchmark_repetitions=3]
#include <benchmark/benchmark.h>

#include <ctime>
#include <filesystem>
#include <iostream>
#include <cstdint>
#include <map>
#include <vector>
#include <thread>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "inputs.h"
#include "orb/logger.h"
#include "options.h"
#include "reading.h"
#include "support/photo_scenes.h"

namespace fs = std::filesystem;
using namespace orb::samples;

namespace {

constexpr int kImages = 200;

// The folder of scenes, made on first use and kept for later runs.
const fs::path& sceneFolder()
{
    static const fs::path folder = [] {
        const fs::path dir = fs::temp_directory_path() / "orbread-bench-scenes";
        if (fs::exists(dir / ("scene-" + std::to_string(kImages - 1) + ".jpg"))) return dir;
        fs::create_directories(dir);
        const std::vector<cv::Mat> photos = loadPhotos();
        const cv::Size frames[] = {{1280, 720}, {1920, 1080}, {1024, 768}, {800, 600}};
        for (int i = 0; i < kImages; ++i) {
            SceneRecipe recipe;
            recipe.frame = frames[i % 4];
            recipe.codeShares = {0.2 + 0.05 * (i % 8)};
            recipe.faults.jpegQuality = 85;
            recipe.seed = 1000 + i;
            const Scene scene = makeScene(photos[i % photos.size()], recipe);
            cv::imwrite((dir / ("scene-" + std::to_string(i) + ".jpg")).string(), scene.image);
        }
        return dir;
    }();
    return folder;
}

std::map<int, double> secondsByThreads;

void readFolder(benchmark::State& state)
{
    orb::logger().setConsoleLevel(static_cast<int>(orb::LogLevel::Off));
    const std::vector<orbread::Input> inputs = orbread::listInputs({sceneFolder().string()}, false);
    const orbread::Options options;
    const int threads = orbread::readerThreads(static_cast<int>(state.range(0)), inputs.size());
    // The second argument 1: one thread for OpenCV too, the reading alone.
    if (state.range(1) == 1) cv::setNumThreads(1);
    const int key = threads * 10 + static_cast<int>(state.range(1));
    std::size_t codes = 0;
    double cpuSeconds = 0, wallSeconds = 0;
    for (auto _ : state) {
        const std::clock_t cpuStart = std::clock();
        const auto start = std::chrono::steady_clock::now();
        orbread::readAll(inputs, options, {}, threads,
                         [&](std::size_t, orbread::ImageReport& report) {
                             codes += report.codes.size();
                             return true;
                         },
                         {});
        secondsByThreads[key] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        wallSeconds += secondsByThreads[key];
        cpuSeconds += static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    }
    // The cores the process kept busy: about the thread count on an idle
    // machine; less shows other load took the rest, and the speed-up with it.
    state.counters["cores_busy"] = cpuSeconds / wallSeconds;
    state.counters["images"] = static_cast<double>(inputs.size());
    state.counters["codes/iteration"] = static_cast<double>(codes) / state.iterations();
    state.counters["images/s"] =
        benchmark::Counter(static_cast<double>(inputs.size()) * state.iterations(), benchmark::Counter::kIsRate);
}

// The peer: work that shares nothing at all (each thread its own arithmetic),
// so its speed-up is what the machine gives two threads at the time.
std::map<int, double> peerSeconds;

void independentWork(benchmark::State& state)
{
    const int threads = static_cast<int>(state.range(0));
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        std::vector<std::thread> workers;
        std::vector<std::uint64_t> sums(static_cast<std::size_t>(threads));
        for (int t = 0; t < threads; ++t)
            workers.emplace_back([&sums, t] {
                std::uint64_t x = 88172645463325252ull + static_cast<std::uint64_t>(t);
                for (int i = 0; i < 400'000'000; ++i) {
                    x ^= x << 13;
                    x ^= x >> 7;
                    x ^= x << 17;
                }
                sums[static_cast<std::size_t>(t)] = x;
            });
        for (std::thread& worker : workers) worker.join();
        benchmark::DoNotOptimize(sums);
        peerSeconds[threads] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
}

} // namespace

BENCHMARK(independentWork)->Arg(1)->Arg(2)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);
BENCHMARK(readFolder)->Args({1, 0})->Args({1, 1})->Args({2, 0})->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    sceneFolder();
    benchmark::RunSpecifiedBenchmarks();
    if (secondsByThreads.count(10) && secondsByThreads.count(20)) {
        const double speedup = secondsByThreads[10] / secondsByThreads[20];
        std::cout << "speedup of 2 threads over 1: " << speedup << "x on " << std::thread::hardware_concurrency()
                  << " cores (over 1 thread with OpenCV's own threads off too: "
                  << secondsByThreads[11] / secondsByThreads[20] << "x)\n";
        if (peerSeconds.count(1) && peerSeconds.count(2)) {
            // Equal work per thread: two threads take as long as one on two free cores.
            const double machine = 2 * peerSeconds[1] / peerSeconds[2];
            std::cout << "the machine's own speedup for 2 independent threads: " << machine
                      << "x; orbread reaches " << speedup / machine << " of it\n";
        }
    }
    benchmark::Shutdown();
}
