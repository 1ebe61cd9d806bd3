#pragma once
// Packing of a text into payload bytes by data type. The packed forms are
// little-endian bit streams that start with a small count field; Digits,
// Letters, Numbers and Ascii use fewer than eight bits per character, every
// other type carries the text's bytes unchanged.
#include <cstdint>
#include <string>
#include <vector>

namespace orb {

// The data type the writer picks for `text` when asked for Automatic: the
// smallest packed form whose alphabet holds every character. An empty text
// is Digits.
std::uint8_t detectDataType(const std::string& text);

// Packs `text` as `dataType` (Automatic: the detected type). Throws
// OCException(CodeCannotBeCreated) naming the first character that the
// requested type cannot carry.
std::vector<std::uint8_t> compress(const std::string& text, std::uint8_t dataType);

// Unpacks a payload read as `dataType`. Never fails: a payload that does not
// hold what its type expects gives whatever characters its counts and codes
// give; an empty payload gives an empty text.
std::string decompress(const std::vector<std::uint8_t>& payload, std::uint8_t dataType);

} // namespace orb
