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

} // namespace orb
