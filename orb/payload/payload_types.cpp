#include "orb/payload/payload_types.h"

namespace orb {

const char* eccTypeName(std::uint8_t eccType)
{
    switch (eccType) {
    case Low: return "Low";
    case Medium: return "Medium";
    case Quartile: return "Quartile";
    case High: return "High";
    default: return "Undefined";
    }
}

const char* dataTypeName(int dataType)
{
    static const char* const names[] = {"Automatic", "Digits", "Letters", "Numbers",
                                        "Ascii",     "Binary", "BigLetters", "Latin1"};
    const int low = dataType & 0xFF;
    return low < 8 ? names[low] : "Automatic";
}

} // namespace orb
