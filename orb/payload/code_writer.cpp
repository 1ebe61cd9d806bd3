#include "orb/payload/code_writer.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "orb/logger.h"
#include "orb/payload/compression.h"
#include "orb/payload/module_layout.h"
#include "orb/payload/module_mask.h"
#include "orb/payload/payload_frame.h"
#include "orb/payload/payload_types.h"
#include "orb/result_code.h"

namespace orb {

namespace {

void checkDataType(std::uint8_t dataType)
{
    if (dataType > Latin1) throw OCException(UnknownDataType, "data type " + std::to_string(dataType));
}

void checkEccType(std::uint8_t eccType)
{
    // The tail has two bits for the ECC type and the reader tries only these four.
    if (eccType > High) throw OCException(WrongEccParameters, "unknown ECC type " + std::to_string(eccType));
}

std::uint8_t resolvedDataType(const std::string& text, std::uint8_t dataType)
{
    checkDataType(dataType);
    return dataType == Automatic ? detectDataType(text) : dataType;
}

} // namespace

CodeCapacity codeCapacity(int ringCount, int modulesPerRing, int bitsPerModule, std::uint8_t eccType)
{
    CodeCapacity room;
    const long long dataModules = std::max(0, modulesPerRing - 5);
    room.capacity = codewordCapacity(static_cast<long long>(std::max(0, bitsPerModule)) * std::max(0, ringCount) *
                                     dataModules);
    room.eccLength = eccLength(room.capacity, eccType);
    room.dataBlockLength = room.capacity - room.eccLength;
    room.maxPayload = std::clamp(room.dataBlockLength - kFrameOverhead, -1, kMaxPayloadLength);
    return room;
}

int packedLength(const std::string& text, std::uint8_t dataType)
{
    return static_cast<int>(compress(text, resolvedDataType(text, dataType)).size());
}

int fewestRings(const std::string& text, std::uint8_t dataType, std::uint8_t eccType, int modulesPerRing,
                int bitsPerModule, int minRings)
{
    const int length = packedLength(text, dataType);
    if (modulesPerRing <= 5 || bitsPerModule <= 0) return 0;
    for (int rings = std::max(1, minRings);; ++rings) {
        const CodeCapacity room = codeCapacity(rings, modulesPerRing, bitsPerModule, eccType);
        if (room.maxPayload >= length) return rings;
        if (room.capacity >= kMaxCodewordLength) return 0;
    }
}

CodeWriter::CodeWriter(int ringCount, int dataModulesPerRing, int bitsPerModule)
    : ringCount_(ringCount), dataModulesPerRing_(dataModulesPerRing), bitsPerModule_(bitsPerModule)
{
    if (ringCount <= 0 || dataModulesPerRing <= 0 || (bitsPerModule != 1 && bitsPerModule != 3)) {
        std::ostringstream detail;
        detail << ringCount << " rings, " << dataModulesPerRing << " data modules per ring, " << bitsPerModule
               << " bits per module";
        throw OCException(InvalidConfiguration, detail.str());
    }
}

void CodeWriter::buildCodeword(std::uint8_t dataType, std::uint8_t eccType, const std::string& text)
{
    checkEccType(eccType);
    // Resolved before the frame is built, so header and tail name the type
    // the payload was packed with.
    const std::uint8_t type = resolvedDataType(text, dataType);
    const std::vector<std::uint8_t> payload = compress(text, type);
    const long long bits = static_cast<long long>(bitsPerModule_) * ringCount_ * dataModulesPerRing_;
    codeword_ = buildFrameCodeword(text, payload, type, eccType, codewordCapacity(bits), bitsPerModule_);
    dataType_ = type;
    eccType_ = eccType;
}

void CodeWriter::fillModules(std::int32_t layout)
{
    std::vector<int> positions;
    if (!layoutPositions(layout, ringCount_, dataModulesPerRing_, positions)) {
        std::ostringstream detail;
        detail << "layout " << layoutName(layout) << " cannot cover " << ringCount_ << " rings of "
               << dataModulesPerRing_ << " data modules";
        throw OCException(InvalidConfiguration, detail.str());
    }
    Logger& log = logger();
    log.line(LogLevel::Info, "layout                           : ", layoutName(layout));
    log.line(LogLevel::Trace, "enc: ", layoutStepText(layout));

    const std::size_t codewordBits = codeword_.size() * 8;
    modules_.assign(positions.size(), 0);
    std::size_t bit = 0;
    for (const int position : positions) {
        unsigned value = 0;
        for (int i = 0; i < bitsPerModule_; ++i, ++bit) {
            const unsigned b = bit < codewordBits ? (codeword_[bit / 8] >> (bit % 8)) & 1u
                                                  : static_cast<unsigned>(std::rand() & 1);
            value |= b << i;
        }
        modules_[position] = static_cast<std::uint8_t>(value);
    }
}

void CodeWriter::maskModules(int maskIndex)
{
    if (maskIndex < 0 || maskIndex >= kMaskCount)
        throw OCException(InvalidConfiguration, "mask " + std::to_string(maskIndex));
    Logger& log = logger();
    log.line(LogLevel::Info, "mask                             : ", maskIndex);
    applyMask(modules_, maskIndex);
    if (log.accepts(LogLevel::Trace)) {
        std::ostringstream text;
        text << "enc: masked modules: {";
        for (const std::uint8_t module : modules_) text << (module != 0 ? 1 : 0) << ", ";
        text << "}";
        log.line(LogLevel::Trace, text.str());
    }
}

std::vector<std::uint8_t> writeModules(const std::string& text, std::uint8_t dataType, std::uint8_t eccType,
                                       std::int32_t layout, int maskIndex, int ringCount, int dataModulesPerRing,
                                       int bitsPerModule)
{
    CodeWriter writer(ringCount, dataModulesPerRing, bitsPerModule);
    writer.buildCodeword(dataType, eccType, text);
    writer.fillModules(layout);
    writer.maskModules(maskIndex);
    return writer.modules();
}

} // namespace orb
