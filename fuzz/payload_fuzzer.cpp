// The payload decoder on module vectors, either as the logical stream or as
// a physical grid that first goes through mask removal and layout, as the
// grid reader hands it over.
//   byte 0: bit 0 three bits per module (else one), bit 1 physical grid
//   physical grid only: byte 1 mask (mod 6: one unknown), byte 2 layout
//   (mod 8: two unknown), byte 3 ring count minus one (mod 64)
//   the rest: one module per byte, all eight bits kept (the decoder must
//   use only its bits per module)
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "orb/payload/module_layout.h"
#include "orb/payload/payload_decoder.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::quietLibrary();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) return 0;
    const int bitsPerModule = (data[0] & 1) ? 3 : 1;
    const bool physical = (data[0] & 2) != 0;
    std::size_t offset = 1;
    int mask = 0;
    std::int32_t layout = 0;
    int rings = 1;
    if (physical) {
        if (size < 4) return 0;
        mask = data[1] % 6;
        layout = data[2] % 8;
        rings = data[3] % 64 + 1;
        offset = 4;
    }
    std::vector<std::uint8_t> modules(data + offset, data + size);
    if (physical) {
        const int columns = static_cast<int>(modules.size()) / rings;
        modules.resize(static_cast<std::size_t>(columns) * static_cast<std::size_t>(rings));
        if (!orb::applyMaskAndLayout(modules, mask, layout, rings, columns)) return 0;
    }
    std::string text;
    std::uint8_t dataType = 0;
    std::uint8_t eccType = 0;
    (void)orb::decodePayload(modules, bitsPerModule, text, dataType, eccType);
    return 0;
}
