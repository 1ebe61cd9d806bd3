#pragma once
// The frame inside the Reed-Solomon data block: header, length, payload,
// checksum, filler and tail, and the sizes that follow from the grid and the
// ECC type.
#include <cstdint>
#include <string>
#include <vector>

#include "orb/result_code.h"

namespace orb {

inline constexpr int kMaxCodewordLength = 255;
inline constexpr int kMaxPayloadLength = 256;
// Header, length, checksum and tail around the payload.
inline constexpr int kFrameOverhead = 4;

// Percent of the codeword given to parity: 7, 15, 25, 30; 15 for unknown types.
int parityShare(std::uint8_t eccType);
// Codeword bytes that `moduleBits` bits hold, at most 255.
int codewordCapacity(long long moduleBits);
// Parity bytes for a codeword of `capacity` bytes: ceil(share * c / 100), at least 1.
int eccLength(int capacity, std::uint8_t eccType);

// The data type a reader accepts from a header type: Digits, Letters,
// Numbers, Ascii and Latin1 stand; every other type reads as raw bytes (0).
std::uint8_t acceptedDataType(std::uint8_t headerType);

// Writer: frames `payload` (already packed as `dataType`, 0..7) and returns
// the `capacity`-byte codeword. `text` and `bitsPerModule` only feed the log.
// Throws OCException with DataSizeExceedsMaximum or InsufficientCapacity.
std::vector<std::uint8_t> buildFrameCodeword(const std::string& text, const std::vector<std::uint8_t>& payload,
                                             std::uint8_t dataType, std::uint8_t eccType, int capacity,
                                             int bitsPerModule);

// Reader: checks the frame of a corrected data block assumed to carry ECC
// type `eccType`. On Success `payload` and `dataType` (the header's type,
// 0..7; unpack the payload as acceptedDataType of it) are set.
ResultCode checkFrame(const std::vector<std::uint8_t>& block, std::uint8_t eccType,
                      std::vector<std::uint8_t>& payload, std::uint8_t& dataType);

} // namespace orb
