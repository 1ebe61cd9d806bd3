// The writer: text and options -> modules (-> drawn code). Whatever it
// writes must read back: mask and layout removed, the payload decoder
// returns the same text and the data type a reader accepts for the written
// one (raw-byte types read as Automatic). A mismatch is a finding as much as a
// crash is.
//   byte 0: bit 0 colour (three bits per module), bit 1 draw the code,
//           bit 2 any grid (a CodeWriter of 1-64 rings by 1-64 columns)
//           instead of writeTextCode
//   byte 1: modules per ring (16, 32, 48, 64, 17, 0) or, for any grid, rings
//   byte 2: ring count (mostly 0: the fewest that fit; 1-24; 2500, 2501, -3,
//           100) or, for any grid, columns
//   byte 3: data type (mod 9: one unknown), byte 4: ECC type (mod 5: one
//   unknown), byte 5: layout (mod 7), byte 6: mask (mod 6), byte 7: pitch
//   the rest: the text
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "orb/drawing/text_code.h"
#include "orb/payload/code_writer.h"
#include "orb/payload/module_geometry.h"
#include "orb/payload/module_layout.h"
#include "orb/payload/payload_decoder.h"
#include "orb/payload/payload_frame.h"
#include "orb/result_code.h"

namespace {

constexpr std::size_t kOptionBytes = 8;
constexpr int kModuleCounts[6] = {16, 32, 48, 64, 17, 0};
constexpr int kOddRingCounts[4] = {2500, 2501, -3, 100};
// Drawing more rings costs more time than it finds.
constexpr int kMostDrawnRings = 6;

int ringCountFrom(std::uint8_t byte)
{
    if (byte < 128) return 0;
    if (byte < 240) return 1 + (byte - 128) % 24;
    return kOddRingCounts[byte % 4];
}

void readBack(const std::vector<std::uint8_t>& written, std::int32_t layout, int mask, int rings, int columns,
              int bitsPerModule, const std::string& text, std::uint8_t dataType)
{
    std::vector<std::uint8_t> modules = written;
    std::string read;
    std::uint8_t readType = 0;
    std::uint8_t readEcc = 0;
    const bool unmasked = orb::applyMaskAndLayout(modules, mask, layout, rings, columns);
    const orb::ResultCode result =
        unmasked ? orb::decodePayload(modules, bitsPerModule, read, readType, readEcc) : orb::InvalidConfiguration;
    // A frame reports the type its header names; the raw-byte types are
    // unpacked as bytes but named as written.
    const bool rawBytes = dataType == orb::Binary || dataType == orb::BigLetters;
    const std::uint8_t expectedType = rawBytes ? dataType : orb::acceptedDataType(dataType);
    if (result == orb::Success && read == text && readType == expectedType) return;
    std::fprintf(stderr, "written code does not read back: %s, data type %d read as %d, text %s\n",
                 unmasked ? orb::resultText(result) : "mask or layout refused", dataType, readType,
                 read == text ? "equal" : "different");
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::quietLibrary();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < kOptionBytes) return 0;
    const std::int32_t codeType = (data[0] & 1) ? orb::Color : orb::BlackAndWhite;
    const int bitsPerModule = codeType == orb::Color ? 3 : 1;
    const bool draw = (data[0] & 2) != 0;
    const bool anyGrid = (data[0] & 4) != 0;
    const auto dataType = static_cast<std::uint8_t>(data[3] % 9);
    const auto eccType = static_cast<std::uint8_t>(data[4] % 5);
    const std::int32_t layout = data[5] % 7;
    const int mask = data[6] % 6;
    const double pitch = 3 + data[7] % 3;
    const std::string text(reinterpret_cast<const char*>(data) + kOptionBytes, size - kOptionBytes);

    try {
        if (anyGrid) {
            const int rings = data[1] % 64 + 1;
            const int columns = data[2] % 64 + 1;
            orb::CodeWriter writer(rings, columns, bitsPerModule);
            writer.buildCodeword(dataType, eccType, text);
            writer.fillModules(layout);
            writer.maskModules(mask);
            readBack(writer.modules(), layout, mask, rings, columns, bitsPerModule, text, writer.dataType());
            return 0;
        }
        orb::TextCodeOptions options;
        options.modulesPerRing = kModuleCounts[data[1] % 6];
        options.ringCount = ringCountFrom(data[2]);
        options.dataType = dataType;
        options.eccType = eccType;
        options.layout = layout;
        options.mask = mask;
        const orb::TextCode code = orb::writeTextCode(text, options, codeType);
        readBack(code.modules, layout, mask, code.ringCount, orb::dataModulesPerRing(code.modulesPerRing),
                 bitsPerModule, text, code.dataType);
        if (draw && code.ringCount <= kMostDrawnRings) {
            orb::DrawOptions drawing;
            drawing.pitch = pitch;
            drawing.codeType = codeType;
            (void)orb::drawCode(code.modules, code.modulesPerRing, code.ringCount, drawing);
        }
    } catch (const orb::OCException&) {
    }
    return 0;
}
