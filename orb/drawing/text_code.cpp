#include "orb/drawing/text_code.h"

#include "orb/payload/code_writer.h"
#include "orb/result_code.h"

namespace orb {

namespace {
// Fewer rings leave the radial zebra without a pitch to measure.
constexpr int kFewestRings = 2;
// More would not fit the largest image the drawer makes even at its
// smallest pitch; refused before the writer allocates their modules.
constexpr int kMostRings = 2500;
} // namespace

TextCode writeTextCode(const std::string& text, const TextCodeOptions& options, std::int32_t codeType)
{
    if (!isValidModuleCount(options.modulesPerRing))
        throw OCException(InvalidConfiguration,
                          "modules per ring must be 16, 32, 48 or 64, not " + std::to_string(options.modulesPerRing));
    if (options.ringCount != 0 && (options.ringCount < kFewestRings || options.ringCount > kMostRings))
        throw OCException(InvalidConfiguration,
                          "a code has 2 to 2500 rings, not " + std::to_string(options.ringCount));
    if (options.mask < 0 || options.mask > 4)
        throw OCException(InvalidConfiguration, "mask must be 0 to 4, not " + std::to_string(options.mask));

    const int bits = codeType == Color ? 3 : 1;
    const int n = dataModulesPerRing(options.modulesPerRing);
    int rings = options.ringCount;
    if (rings == 0) {
        rings = fewestRings(text, options.dataType, options.eccType, options.modulesPerRing, bits, kFewestRings);
        if (rings == 0)
            throw OCException(DataSizeExceedsMaximum, "the text does not fit a code of 255 bytes at this ECC");
    }

    CodeWriter writer(rings, n, bits);
    writer.buildCodeword(options.dataType, options.eccType, text);
    writer.fillModules(options.layout);
    writer.maskModules(options.mask);
    return {writer.modules(), options.modulesPerRing, rings, writer.dataType(), writer.eccType()};
}

DrawnCode drawText(const std::string& text, const TextCodeOptions& options, const DrawOptions& drawing)
{
    const TextCode code = writeTextCode(text, options, drawing.codeType);
    return drawCode(code.modules, code.modulesPerRing, code.ringCount, drawing);
}

} // namespace orb
