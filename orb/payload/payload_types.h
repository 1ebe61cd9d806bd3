#pragma once
// ECC strength and payload data type bytes, with the names the log shows.
#include <cstdint>

#include "orb/types.h"

namespace orb {

// The ECC and data types as the payload stores them (bytes with the
// numbers of EccType and DataType).
#define ORB_BYTE_OF(type, name) inline constexpr std::uint8_t name = static_cast<std::uint8_t>(type::name)
ORB_BYTE_OF(EccType, Low);
ORB_BYTE_OF(EccType, Medium);
ORB_BYTE_OF(EccType, Quartile);
ORB_BYTE_OF(EccType, High);
ORB_BYTE_OF(DataType, Automatic);
ORB_BYTE_OF(DataType, Digits);
ORB_BYTE_OF(DataType, Letters);
ORB_BYTE_OF(DataType, Numbers);
ORB_BYTE_OF(DataType, Ascii);
ORB_BYTE_OF(DataType, Binary);
ORB_BYTE_OF(DataType, BigLetters);
ORB_BYTE_OF(DataType, Latin1);
#undef ORB_BYTE_OF

// "Low", "Medium", "Quartile", "High"; "Undefined" for other values.
const char* eccTypeName(std::uint8_t eccType);
// Names by the low eight bits; values without a name are "Automatic".
const char* dataTypeName(int dataType);

} // namespace orb
