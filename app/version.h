#pragma once

namespace app {
inline constexpr const char* kVersion = "1.23.38";
}
