#pragma once
// The limits a writer front end (orbwrite, the Python module) puts on a code
// before writing it, and why the writer refused a text, in the user's terms.
#include <cstdint>
#include <string>

#include "orb/drawing/text_code.h"
#include "orb/result_code.h"

namespace orb {

// Ring pitch, pixels: below 5 the reader loses the modules, above 400 the
// image outgrows what any caller prints.
inline constexpr double kSmallestPitch = 5.0;
inline constexpr double kLargestPitch = 400.0;
// More rings than fit the largest image the drawer makes are refused
// before the writer allocates their modules.
inline constexpr int kFewestWrittenRings = 2;
inline constexpr int kMostWrittenRings = 1000;
// The pitch orbwrite draws at unless told otherwise.
inline constexpr double kDefaultWritePitch = 12.0;

// Names the cause of a text the writer refused (an OCException of
// writeTextCode) for a code of `codeType` written with `options`;
// `ringsOption` is how the caller's user names the ring count.
std::string writeRefusal(const OCException& e, const TextCodeOptions& options, std::int32_t codeType,
                         const std::string& ringsOption);

} // namespace orb
