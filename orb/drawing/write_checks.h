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
// The fewest rings a code is written with.
inline constexpr int kFewestWrittenRings = 2;
// The reader samples a ring no thinner than this many pixels of its working
// image; a thinner ring is read at the wrong radius.
inline constexpr double kReaderSmallestPitch = 5.0;

// The largest ring count whose code, drawn in its own image, keeps rings of
// kReaderSmallestPitch pixels once a reader has scaled the image down to
// `workingWidth` columns. The ratio does not depend on the pitch: the image
// grows with it. Larger codes never read back.
int mostReadableRings(double workingWidth);

// Why a code drawn for `text` did not read back as it (the reader's reason,
// or a different text), given what the reader made of it; empty when it did.
template <class Read>
std::string readBackProblem(const Read& read, const std::string& text)
{
    if (!read) return read.errorText();
    if (read.text() != text) return "it reads as a different text";
    return {};
}
// The pitch orbwrite draws at unless told otherwise.
inline constexpr double kDefaultWritePitch = 12.0;

// Names the cause of a text the writer refused (an OCException of
// writeTextCode) for a code of `codeType` written with `options`;
// `ringsOption` is how the caller's user names the ring count.
std::string writeRefusal(const OCException& e, const TextCodeOptions& options, std::int32_t codeType,
                         const std::string& ringsOption);

} // namespace orb
