#pragma once
// Timing for the benchmarks that compare our read with a peer's in one run.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <vector>

#include <benchmark/benchmark.h>

namespace bench {

// Milliseconds `work` takes once; its result is kept from the optimiser.
template <typename F>
double millisecondsOf(F&& work)
{
    const auto start = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(work());
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Median of interleaved timings: steadier than a mean on a shared machine.
inline double median(std::vector<double> values)
{
    auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

} // namespace bench
