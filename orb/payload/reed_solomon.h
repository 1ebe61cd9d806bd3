#pragma once
// Systematic Reed-Solomon code over GF(2^8) protecting the payload block.
// Byte 0 of a codeword is the coefficient of the highest degree; the data
// bytes come first, then the parity bytes.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace orb {

// Data bytes followed by `eccLength` parity bytes. Throws
// OCException(WrongEccParameters) when eccLength is 0 or the codeword would
// be longer than 255 bytes.
std::vector<std::uint8_t> encodeRS(std::span<const std::uint8_t> data, std::size_t eccLength);

// The corrected data bytes (received length minus eccLength), or an empty
// vector when the word cannot be corrected. Every correction is verified: a
// word that is not brought back to a codeword is uncorrectable. Throws
// OCException(WrongEccParameters) only for eccLength 0 or more than 255
// received bytes; a corrupt word never throws.
std::vector<std::uint8_t> decodeRS(std::span<const std::uint8_t> received, std::size_t eccLength);

// A correction with known unsure bytes, and what it changed.
struct RsCorrection {
    std::vector<std::uint8_t> word;  // the whole corrected codeword; empty when uncorrectable
    int errors = 0;                  // bytes changed outside the erasures
    int erasuresChanged = 0;         // erased bytes whose value changed
};

// Corrects `received` with the bytes at `erasures` (indices into it) taken
// as unknown: e errors besides f erasures are corrected while 2e + f <=
// eccLength and e <= maxErrors (a caller that would refuse more errors
// says so, and is spared the search for them). Duplicate indices count
// once; an index outside the word, or more erasures than parity bytes,
// makes the word uncorrectable. As with decodeRS, only a word brought back
// to a codeword is returned.
RsCorrection decodeRSWithErasures(std::span<const std::uint8_t> received, std::size_t eccLength,
                                  std::span<const int> erasures, int maxErrors = 255);

// One received word corrected many times, under any parity length up to
// `maxEccLength` and any erasures, as decodeRSWithErasures corrects it: the
// syndromes, most of a failed try's cost, are computed once.
class RsReceived {
public:
    // Throws as decodeRS does for maxEccLength 0 or more than 255 bytes.
    RsReceived(std::span<const std::uint8_t> received, std::size_t maxEccLength);
    RsCorrection correct(std::size_t eccLength, std::span<const int> erasures, int maxErrors = 255) const;

private:
    std::vector<std::uint8_t> received_;
    std::vector<int> syndromes_;
};

} // namespace orb
