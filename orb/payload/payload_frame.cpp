#include "orb/payload/payload_frame.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "orb/logger.h"
#include "orb/payload/payload_types.h"
#include "orb/payload/reed_solomon.h"

namespace orb {

namespace {

constexpr std::uint8_t kFrameMarker = 1;

std::string bytesInBraces(const std::vector<std::uint8_t>& bytes)
{
    std::ostringstream text;
    text << "{";
    for (const std::uint8_t byte : bytes) text << static_cast<int>(byte) << ", ";
    text << "}";
    return text.str();
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

constexpr int kFillerAttempts = 16;

// True when the reader's search, which starts at High, would accept
// `codeword` under an ECC type stronger than the one it was written with.
bool readsAsStrongerType(const std::vector<std::uint8_t>& codeword, std::uint8_t eccType)
{
    const int capacity = static_cast<int>(codeword.size());
    for (int stronger = High; stronger > eccType; --stronger) {
        const auto strength = static_cast<std::uint8_t>(stronger);
        const std::vector<std::uint8_t> block = decodeRS(codeword, static_cast<std::size_t>(eccLength(capacity, strength)));
        std::vector<std::uint8_t> payload;
        std::uint8_t dataType = 0;
        if (!block.empty() && checkFrame(block, strength, payload, dataType) == Success) return true;
    }
    return false;
}

} // namespace

int parityShare(std::uint8_t eccType)
{
    switch (eccType) {
    case Low: return 7;
    case Medium: return 15;
    case Quartile: return 25;
    case High: return 30;
    default: return 15;
    }
}

int codewordCapacity(long long moduleBits)
{
    if (moduleBits <= 0) return 0;
    return static_cast<int>(std::min<long long>(kMaxCodewordLength, moduleBits / 8));
}

int eccLength(int capacity, std::uint8_t eccType)
{
    return std::max(1, (parityShare(eccType) * capacity + 99) / 100);
}

std::uint8_t acceptedDataType(std::uint8_t headerType)
{
    switch (headerType) {
    case Digits:
    case Letters:
    case Numbers:
    case Ascii:
    case Latin1: return headerType;
    default: return Automatic;
    }
}

std::vector<std::uint8_t> buildFrameCodeword(const std::string& text, const std::vector<std::uint8_t>& payload,
                                             std::uint8_t dataType, std::uint8_t eccType, int capacity,
                                             int bitsPerModule)
{
    Logger& log = logger();
    const int length = static_cast<int>(payload.size());
    if (length > kMaxPayloadLength) {
        log.line(LogLevel::Info, "uncompressed payload             : ", quoted(text));
        log.line(LogLevel::Info, "max data length [Bytes]          : ", kMaxPayloadLength);
        log.line(LogLevel::Info, "(compressed) input length [Bytes]: ", length);
        throw OCException(DataSizeExceedsMaximum, "");
    }
    const int ecc = eccLength(capacity, eccType);
    const int blockLength = capacity - ecc;
    if (blockLength - kFrameOverhead < length) {
        log.line(LogLevel::Info, "uncompressed payload             : ", quoted(text));
        log.line(LogLevel::Info, "capacity                  [Bytes]: ", capacity);
        log.line(LogLevel::Info, "max input length          [Bytes]: ", blockLength - kFrameOverhead);
        log.line(LogLevel::Info, "(compressed) input length [Bytes]: ", length);
        log.line(LogLevel::Info, "ECC length                [Bytes]: ", ecc);
        throw OCException(InsufficientCapacity, "");
    }

    const std::uint8_t header = static_cast<std::uint8_t>((dataType & 7) | (kFrameMarker << 3));
    std::uint8_t checksum = header ^ static_cast<std::uint8_t>(length);
    for (const std::uint8_t byte : payload) checksum ^= byte;

    std::vector<std::uint8_t> block;
    std::vector<std::uint8_t> codeword;
    // The reader tries stronger ECC types first. Rarely a codeword (with its
    // random filler) also passes as a frame of a stronger type and would
    // read back under it; fresh filler avoids that.
    for (int attempt = 0; attempt < kFillerAttempts; ++attempt) {
        block.clear();
        block.reserve(capacity);
        block.push_back(header);
        block.push_back(static_cast<std::uint8_t>(length));
        block.insert(block.end(), payload.begin(), payload.end());
        block.push_back(checksum);
        while (static_cast<int>(block.size()) < blockLength - 1)
            block.push_back(static_cast<std::uint8_t>(std::rand()));
        // The tail names the type the reader will accept, so a raw-byte frame
        // (Binary, BigLetters) reads back instead of failing its tail check.
        const int tailType = acceptedDataType(dataType & 7);
        block.push_back(static_cast<std::uint8_t>(eccType * 64 | ((tailType * 8 + kFrameMarker) & 63)));
        codeword = encodeRS(block, static_cast<std::size_t>(ecc));
        if (blockLength - kFrameOverhead == length || !readsAsStrongerType(codeword, eccType)) break;
    }

    log.line(LogLevel::Info, "capacity                  [Bytes]: ", capacity);
    log.line(LogLevel::Info, "prefix len: header|length [Bytes]: ", 2);
    log.line(LogLevel::Info, "suffix len: chksum|tail   [Bytes]: ", 2);
    log.line(LogLevel::Info, "(compressed) input length [Bytes]: ", length);
    log.line(LogLevel::Info, "ECC length                [Bytes]: ", ecc);
    log.line(LogLevel::Info, "data type                        : ", dataTypeName(dataType));
    log.line(LogLevel::Info, "header value                     : ", static_cast<int>(header));
    log.line(LogLevel::Info, "checksum                         : ", static_cast<int>(checksum));
    log.line(LogLevel::Info, "bits per module                  : ", bitsPerModule);
    log.line(LogLevel::Info, "tail set                         : ", "true");
    log.line(LogLevel::Info, "uncompressed input string        : ", quoted(text));
    if (log.accepts(LogLevel::Info)) {
        log.line(LogLevel::Info, "uncompressed input               : ",
                 bytesInBraces(std::vector<std::uint8_t>(text.begin(), text.end())));
        log.line(LogLevel::Info, "compressed input                 : ", bytesInBraces(payload));
        log.line(LogLevel::Info, "payload                          : ", bytesInBraces(block));
        log.line(LogLevel::Info, "payload (incl. ECC)              : ", bytesInBraces(codeword));
    }
    return codeword;
}

ResultCode checkFrame(const std::vector<std::uint8_t>& block, std::uint8_t eccType,
                      std::vector<std::uint8_t>& payload, std::uint8_t& dataType)
{
    const int size = static_cast<int>(block.size());
    if (size < 3) return InsufficientCapacity;
    const std::uint8_t header = block[0];
    const int length = std::min<int>(block[1], size - 2);
    if (2 + length >= size) return InsufficientCapacity;
    std::uint8_t checksum = header ^ static_cast<std::uint8_t>(length);
    for (int i = 2; i < 2 + length; ++i) checksum ^= block[i];
    if (block[2 + length] != checksum) return WrongChecksum;
    if (3 + length >= size) return InsufficientCapacity;

    const std::uint8_t tail = block[size - 1];
    const std::uint8_t accepted = acceptedDataType(header & 7);
    const bool markerMatches = (tail & 7) == ((header >> 3) & 7);
    const bool typeMatches = ((tail >> 3) & 7) == accepted;
    const bool eccMatches = (tail >> 6) == eccType;
    if (!markerMatches || !typeMatches || !eccMatches) return TailInconsistent;

    logger().line(LogLevel::Info, "tail checked                     : ", "true");
    payload.assign(block.begin() + 2, block.begin() + 2 + length);
    // The header's own type is what the code says it carries; a raw-byte
    // type (Binary, BigLetters) is still unpacked as the bytes they are.
    dataType = header & 7;
    return Success;
}

} // namespace orb
