#pragma once
// The reader's payload step: module stream -> Reed-Solomon codeword -> frame
// -> text, searching the ECC strength.
#include <cstdint>
#include <string>
#include <vector>

#include "orb/result_code.h"

namespace orb {

// `modules` is the logical module stream (after mask and layout), each value
// carrying `bitsPerModule` bits. On Success text, dataType and eccType are set,
// and `correctedErrors` (when given) to the codeword bytes the correction changed.
ResultCode decodePayload(const std::vector<std::uint8_t>& modules, int bitsPerModule, std::string& text,
                         std::uint8_t& dataType, std::uint8_t& eccType, int* correctedErrors = nullptr);

// What a payload read carried, and what the correction changed to read it.
struct PayloadRead {
    std::string text;
    std::uint8_t dataType = 0;
    std::uint8_t eccType = 0;
    int correctedErrors = 0; // codeword bytes changed
    int erasures = 0;        // of those, how many were handed over as unsure
};

// The same search for modules read with how sure each is (`certainty`, one
// per logical module: 0 at the threshold, 0.5 at a level). Per ECC
// strength the word is first corrected as decodePayload does; then the
// bytes of the least sure modules are handed to the correction as
// erasures, growing one byte at a time. A correction with erasures stands
// only when it changed no bit of a sure module in an erased byte and the
// parity it leaves unused still makes a chance codeword unlikely (see
// kErasureCheckBits); the frame checks come on top.
Found<PayloadRead> decodePayloadWithErasures(const std::vector<std::uint8_t>& modules,
                                             const std::vector<float>& certainty, int bitsPerModule);

// Bits of evidence a correction with erasures must keep: parity bytes left
// over, less what the errors it located and the erased modules could take.
// A word beyond the code's reach then passes as a codeword about once in
// 2^12 tries, before the frame's checksum and tail.
inline constexpr double kErasureCheckBits = 12;
// A module this sure or surer (within a fifth of the contrast of its level)
// is never an erasure.
inline constexpr float kSureCertainty = 0.3f;

} // namespace orb
