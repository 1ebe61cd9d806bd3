#pragma once
// The version both programs show: ScanBench in its banner, orbread on --version.

namespace console {
inline constexpr const char* kVersion = "1.23.38";
}
