#pragma once
// The reader's payload step: module stream -> Reed-Solomon codeword -> frame
// -> text, searching the ECC strength.
#include <cstdint>
#include <string>
#include <vector>

#include "orb/result_code.h"

namespace orb {

// Which corrections a read may stand on.
enum class Corrections {
    // Those that leave kCorrectionCheckBits of evidence, and (reads that know
    // how sure each module is) those that changed only unsure modules.
    Checked,
    // Besides those, any the parity allows: for a place read as it was given
    // and not mirrored, where a code is most likely. Each further hypothesis
    // (mirrored, dark and light swapped) repeats thousands of grid reads in
    // a cluttered image, and at that count a one-byte correction of a small
    // code is as often a chance codeword as the code.
    AlsoWeak,
};

// `modules` is the logical module stream (after mask and layout), each value
// carrying `bitsPerModule` bits. On Success text, dataType and eccType are set,
// and `correctedErrors` (when given) to the codeword bytes the correction changed.
// A correction (a word that was not already a codeword) stands as
// `corrections` says.
ResultCode decodePayload(const std::vector<std::uint8_t>& modules, int bitsPerModule, std::string& text,
                         std::uint8_t& dataType, std::uint8_t& eccType, int* correctedErrors = nullptr,
                         Corrections corrections = Corrections::Checked);

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
// kCorrectionCheckBits); the frame checks come on top.
Found<PayloadRead> decodePayloadWithErasures(const std::vector<std::uint8_t>& modules,
                                             const std::vector<float>& certainty, int bitsPerModule,
                                             Corrections corrections = Corrections::Checked);

// Bits of evidence every correction must keep: parity bytes left over, less
// what the errors it located and the erased modules could take. A word
// beyond the code's reach then passes as a codeword about once in 2^12
// tries, before the frame's checksum and tail. A code with little parity
// (2 or 3 bytes) therefore reads only as it is: one corrected byte would
// leave about as much evidence as the frame's own checks, too little
// against the many grids a search of a cluttered photograph reads.
inline constexpr double kCorrectionCheckBits = 12;

// The evidence bits a correction of `errors` located bytes, `erasures`
// erased bytes with `freeBits` unsure bits among them, keeps in a codeword
// of `capacity` bytes with `parity` parity bytes.
double correctionEvidence(int capacity, int parity, int errors, int erasures = 0, int freeBits = 0);
// A module this sure or surer (within a fifth of the contrast of its level)
// is never an erasure.
inline constexpr float kSureCertainty = 0.3f;

} // namespace orb
