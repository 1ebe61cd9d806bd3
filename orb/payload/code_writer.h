#pragma once
// The writer of the code format: text -> packed payload -> frame and
// Reed-Solomon codeword -> module values in a layout, masked. The exact
// mirror of the reader's path (mask removal, layout, decodePayload).
#include <cstdint>
#include <string>
#include <vector>

namespace orb {

// Payload room of a grid. All sizes in bytes.
struct CodeCapacity {
    int capacity = 0;        // codeword length c: trunc(bits / 8), at most 255
    int eccLength = 0;       // parity bytes E
    int dataBlockLength = 0; // k = c - E: header, length, payload, checksum, filler, tail
    int maxPayload = -1;     // most packed payload bytes the frame holds; -1: not even an empty frame fits
};

// Room of a grid of `ringCount` rings with `modulesPerRing` modules each (the
// full ring count M: 16, 32, 48 or 64; M - 5 of them carry data),
// `bitsPerModule` 1 (black and white) or 3 (colour), for an ECC type.
CodeCapacity codeCapacity(int ringCount, int modulesPerRing, int bitsPerModule, std::uint8_t eccType);

// Number of payload bytes `text` takes when packed as `dataType` (Automatic
// is resolved first). Throws OCException(CodeCannotBeCreated) when the text
// does not fit the requested type's alphabet.
int packedLength(const std::string& text, std::uint8_t dataType);

// Fewest rings, at least `minRings`, whose payload room holds `text` packed
// as `dataType`; 0 when no ring count does (the codeword is capped at 255
// bytes, so more rings stop helping). Throws like packedLength.
int fewestRings(const std::string& text, std::uint8_t dataType, std::uint8_t eccType, int modulesPerRing,
                int bitsPerModule, int minRings = 1);

class CodeWriter {
public:
    // A grid of `ringCount` rows by `dataModulesPerRing` columns (the ring's
    // module count minus 5). Throws OCException(InvalidConfiguration) for
    // non-positive sizes or bitsPerModule other than 1 or 3.
    CodeWriter(int ringCount, int dataModulesPerRing, int bitsPerModule);

    // Packs `text`, builds the frame and its codeword. Automatic is resolved
    // to the detected type first, so the frame names the real type. Throws
    // OCException with CodeCannotBeCreated (text outside the type's
    // alphabet), DataSizeExceedsMaximum, InsufficientCapacity or
    // WrongEccParameters; the writer is then left as it was.
    void buildCodeword(std::uint8_t dataType, std::uint8_t eccType, const std::string& text);

    // Spreads the codeword over R*N modules in `layout` (ModuleLayout value);
    // bits beyond the codeword are random. Throws
    // OCException(InvalidConfiguration) when the layout cannot cover the grid
    // (Scrambled with one ring, or three or more rings and three or fewer
    // columns).
    void fillModules(std::int32_t layout);

    // Flips bit 0 of the physical modules selected by mask `maskIndex` (0..4).
    // Throws OCException(InvalidConfiguration) for another index.
    void maskModules(int maskIndex);

    int ringCount() const { return ringCount_; }
    int dataModulesPerRing() const { return dataModulesPerRing_; }
    int bitsPerModule() const { return bitsPerModule_; }
    // The data type written into the frame (Automatic already resolved).
    std::uint8_t dataType() const { return dataType_; }
    std::uint8_t eccType() const { return eccType_; }

    // The codeword: data block followed by the parity bytes.
    const std::vector<std::uint8_t>& codeword() const { return codeword_; }

    // Physical module values, row by row: row r = ring r in reading order
    // (row 0 the outermost data ring), column c = module position c + 3
    // clockwise from the start marker. Index r * dataModulesPerRing + c.
    // Values 0/1 (1 = dark) in black and white, 0..7 in colour.
    const std::vector<std::uint8_t>& modules() const { return modules_; }

private:
    int ringCount_;
    int dataModulesPerRing_;
    int bitsPerModule_;
    std::uint8_t dataType_ = 0;
    std::uint8_t eccType_ = 0;
    std::vector<std::uint8_t> codeword_;
    std::vector<std::uint8_t> modules_;
};

// All steps in one call: the physical module vector of a code carrying `text`.
std::vector<std::uint8_t> writeModules(const std::string& text, std::uint8_t dataType, std::uint8_t eccType,
                                       std::int32_t layout, int maskIndex, int ringCount, int dataModulesPerRing,
                                       int bitsPerModule);

} // namespace orb
