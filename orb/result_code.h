#pragma once
// Result codes of the decoder; the library's exception is in types.h.
#include <cstdint>
#include <string>

#include "orb/types.h"

namespace orb {

enum ResultCode : std::int32_t {
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

// Fixed English text of a code; "" for values not in the table.
const char* resultText(std::int32_t code);

// What a stage found, or why it found nothing: `value` is meaningful only
// when `code` is Success. Stages return it so that failures travel as values.
template <class T>
struct Found {
    ResultCode code = Success;
    T value{};

    explicit operator bool() const { return code == Success; }
    const T& operator*() const { return value; }
    const T* operator->() const { return &value; }
};

} // namespace orb
