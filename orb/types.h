#pragma once
// The value types of the public reader and writer. Every enumeration is
// scoped and keeps the numbers the code format stores.
#include <cstdint>
#include <stdexcept>
#include <string>

namespace orb {

// The order in which the module grid carries the data.
enum class Layout : std::int32_t {
    Horizontal = 0,
    Vertical = 1,
    VerticalSnake = 2,
    HorizontalSnakeLarge = 3,
    HorizontalSnakeSmall = 4, // the default
    Scrambled = 5,
};

// One bit per module, or three (colour data modules; the structure stays
// black and white).
enum class CodeType : std::int32_t { BlackAndWhite = 0, Color = 1 };

// How the payload is packed.
enum class DataType : std::uint8_t {
    Automatic = 0, // the writer picks the tightest type the text fits
    Digits = 1,
    Letters = 2,
    Numbers = 3,
    Ascii = 4,
    Binary = 5,
    BigLetters = 6,
    Latin1 = 7,
};

// Error correction strength.
enum class EccType : std::uint8_t { Low = 0, Medium = 1, Quartile = 2, High = 3 };

// Why a read or a write failed; Success when it did not.
enum class ReadError : std::int32_t {
    Success = 0,
    InnerCircleNotFound = 1,
    PerspectiveMarkersNotDetected = 2,
    WrongPerspectiveMarkerCount = 3,
    StartMarkerNotDetected = 4,
    WrongOuterZebraModuleCount = 5,
    OuterZebraNotDetected = 6,
    RadialZebraNotDetected = 7,
    WrongGrid = 8,
    EccUncorrectable = 9,
    WrongChecksum = 10,
    DataSizeExceedsMaximum = 11,
    InsufficientCapacity = 12,
    CodeCannotBeCreated = 13,
    MultipleStartMarkers = 14,
    UnwantedRadialZebra = 15,
    InvalidConfiguration = 16,
    UnknownDataType = 17,
    WrongEccParameters = 19,
    TailInconsistent = 20,
    CodeTypeMismatch = 21,
};

// Fixed English text of an error, e.g. "Inner circle not found".
std::string errorText(ReadError error);
// Names as the log and the tools write them: "HorizontalSnakeSmall",
// "Medium", "Ascii"; "" (layout), "Undefined" (ECC) or "Automatic" (data
// type) for values outside the enumeration.
const char* layoutName(Layout layout);
const char* eccTypeName(EccType eccType);
const char* dataTypeName(DataType dataType);

// Thrown only for input that cannot be taken at all (an empty image, a
// depth other than 8 bits, 2 or more than 4 channels).
class OCException : public std::runtime_error {
public:
    OCException(std::int32_t code, const std::string& detail);
    std::int32_t code;
    ReadError error() const { return static_cast<ReadError>(code); }
};

} // namespace orb
