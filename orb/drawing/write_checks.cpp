#include "orb/drawing/write_checks.h"

#include "orb/drawing/code_drawer.h"
#include "orb/drawing/code_geometry.h"
#include "orb/payload/code_writer.h"
#include "orb/payload/payload_types.h"

namespace orb {

int mostReadableRings(double workingWidth)
{
    const double quietZone = DrawOptions{}.quietZone;
    for (int rings = 3;; ++rings) {
        CodeGeometry geometry;
        geometry.ringCount = rings;
        geometry.hubRadius = hubRadiusForOwnImage(rings, quietZone);
        const double side = 2.0 * (geometry.outerRadius() + quietZone);
        if (workingWidth / side < kReaderSmallestPitch) return rings - 1;
    }
}

std::string writeRefusal(const OCException& e, const TextCodeOptions& options, std::int32_t codeType,
                         const std::string& ringsOption)
{
    const int bits = codeType == Color ? 3 : 1;
    switch (e.code) {
    case DataSizeExceedsMaximum:
        return "text too long: it does not fit a code of 255 bytes with " +
               std::string(eccTypeName(options.eccType)) + " error correction";
    case InsufficientCapacity: {
        const CodeCapacity room = codeCapacity(options.ringCount, options.modulesPerRing, bits, options.eccType);
        return "text too long for " + std::to_string(options.ringCount) + " rings: they hold " +
               std::to_string(room.maxPayload) + (room.maxPayload == 1 ? " byte with " : " bytes with ") +
               eccTypeName(options.eccType) + " error correction (leave out " + ringsOption + " to get enough)";
    }
    case CodeCannotBeCreated:
        if (options.dataType != Automatic)
            return std::string("the type ") + dataTypeName(options.dataType) + " cannot carry this text";
        return std::string("this text cannot be written: ") + e.what();
    default: return e.what();
    }
}

} // namespace orb
