#pragma once
// orbread's exit statuses; over several inputs the worst one wins.

namespace orbread {

constexpr int kAllRead = 0;          // every input gave at least one code
constexpr int kSomeWithoutCode = 1;  // some input gave none
constexpr int kTrouble = 2;          // an input could not be read, or output failed

} // namespace orbread
