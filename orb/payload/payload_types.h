#pragma once
// ECC strength and payload data type bytes, with the names the log shows.
#include <cstdint>

namespace orb {

enum EccType : std::uint8_t { Low = 0, Medium = 1, Quartile = 2, High = 3 };

enum DataType : std::uint8_t {
    Automatic = 0,
    Digits = 1,
    Letters = 2,
    Numbers = 3,
    Ascii = 4,
    Binary = 5,
    BigLetters = 6,
    Latin1 = 7,
};

// "Low", "Medium", "Quartile", "High"; "Undefined" for other values.
const char* eccTypeName(std::uint8_t eccType);
// Names by the low eight bits; values without a name are "Automatic".
const char* dataTypeName(int dataType);

} // namespace orb
