#include "orb/payload/payload_decoder.h"

#include <span>
#include <sstream>

#include "orb/logger.h"
#include "orb/payload/compression.h"
#include "orb/payload/payload_frame.h"
#include "orb/payload/payload_types.h"
#include "orb/payload/reed_solomon.h"

namespace orb {

namespace {

// Module values, bitsPerModule bits each from bit 0, into bytes from bit 0;
// a final incomplete byte is dropped.
std::vector<std::uint8_t> packModules(const std::vector<std::uint8_t>& modules, int bitsPerModule)
{
    std::vector<std::uint8_t> bytes;
    bytes.reserve(modules.size() * bitsPerModule / 8);
    unsigned current = 0;
    int filled = 0;
    for (const std::uint8_t module : modules)
        for (int i = 0; i < bitsPerModule; ++i) {
            current |= ((module >> i) & 1u) << filled;
            if (++filled == 8) {
                bytes.push_back(static_cast<std::uint8_t>(current));
                current = 0;
                filled = 0;
            }
        }
    return bytes;
}

void logReadData(const std::vector<std::uint8_t>& bytes)
{
    Logger& log = logger();
    if (!log.accepts(LogLevel::Trace)) return;
    std::ostringstream numbers;
    numbers << "{";
    for (const std::uint8_t byte : bytes) numbers << static_cast<int>(byte) << ", ";
    numbers << "}";
    log.line(LogLevel::Trace, "read data                        : ", numbers.str());
    log.line(LogLevel::Trace, "read data                        : ", "\"",
             std::string(bytes.begin(), bytes.end()), "\"");
}

// How many bytes of `received` the correction to `data` changed: the
// corrected codeword is the data with its parity made again.
int changedBytes(std::span<const std::uint8_t> received, const std::vector<std::uint8_t>& data, int parity)
{
    const std::vector<std::uint8_t> word = encodeRS(data, static_cast<std::size_t>(parity));
    int changed = 0;
    for (std::size_t i = 0; i < word.size() && i < received.size(); ++i) changed += word[i] != received[i];
    return changed;
}

} // namespace

ResultCode decodePayload(const std::vector<std::uint8_t>& modules, int bitsPerModule, std::string& text,
                         std::uint8_t& dataType, std::uint8_t& eccType, int* correctedErrors)
{
    Logger& log = logger();
    log.line(LogLevel::Debug, "          read");
    if (bitsPerModule < 1 || bitsPerModule > 8) return InvalidConfiguration;

    const std::vector<std::uint8_t> bytes = packModules(modules, bitsPerModule);
    logReadData(bytes);
    const int capacity = codewordCapacity(8LL * static_cast<long long>(bytes.size()));
    const std::span<const std::uint8_t> codeword(bytes.data(), static_cast<std::size_t>(capacity));

    ResultCode result = EccUncorrectable;
    for (int strength = High; strength >= Low; --strength) {
        log.line(LogLevel::Trace, "decoder: try ECC strength: ", strength);
        const std::uint8_t ecc = static_cast<std::uint8_t>(strength);
        const std::vector<std::uint8_t> block = decodeRS(codeword, static_cast<std::size_t>(eccLength(capacity, ecc)));
        if (block.empty()) {
            log.line(LogLevel::Trace, "decoder: ECC strength: ", strength, " failed");
            result = EccUncorrectable;
            continue;
        }
        std::vector<std::uint8_t> payload;
        std::uint8_t written = Automatic;
        result = checkFrame(block, ecc, payload, written);
        if (result != Success) continue;
        text = decompress(payload, acceptedDataType(written));
        dataType = written;
        eccType = ecc;
        if (correctedErrors) *correctedErrors = changedBytes(codeword, block, eccLength(capacity, ecc));
        return Success;
    }
    log.line(LogLevel::Debug, "           Error: ", resultText(result));
    return result;
}

} // namespace orb
