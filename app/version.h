#pragma once

namespace app {
// Shown in the start-up banner.
inline constexpr const char* kVersion = "1.23.38";
}
