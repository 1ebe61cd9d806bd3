#include "orb/image_header.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <set>
#include <sstream>

#include <zlib.h>

namespace orb {

namespace {

using Bytes = std::span<const unsigned char>;

bool startsWith(Bytes bytes, std::string_view prefix)
{
    return bytes.size() >= prefix.size() && std::memcmp(bytes.data(), prefix.data(), prefix.size()) == 0;
}

// Whether count bytes from at lie inside the file; offsets come from the file
// itself, so the sum must not be allowed to wrap.
bool within(Bytes bytes, std::uint64_t at, std::uint64_t count)
{
    return at <= bytes.size() && count <= bytes.size() - at;
}

std::uint64_t bigEndian(Bytes bytes, std::size_t at, int count)
{
    std::uint64_t value = 0;
    for (int i = 0; i < count; ++i) value = value << 8 | bytes[at + i];
    return value;
}

std::uint64_t littleEndian(Bytes bytes, std::size_t at, int count)
{
    std::uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = value << 8 | bytes[at + i];
    return value;
}

// Sizes beyond int are kept as the largest int: refused all the same.
cv::Size sizeOf(std::uint64_t width, std::uint64_t height)
{
    const auto clamp = [](std::uint64_t v) { return static_cast<int>(std::min<std::uint64_t>(v, INT32_MAX)); };
    return {clamp(width), clamp(height)};
}

ImageHeader png(Bytes bytes)
{
    ImageHeader header{"PNG", {}, {}};
    std::size_t at = 8;
    while (true) {
        if (at + 8 > bytes.size()) {
            header.damage = "truncated PNG: the data ends before the IEND chunk";
            header.decodable = false; // the decoder reads to the end chunk
            return header;
        }
        const std::uint64_t length = bigEndian(bytes, at, 4);
        const std::string type(reinterpret_cast<const char*>(bytes.data() + at + 4), 4);
        if (length > bytes.size() || at + 12 + length > bytes.size()) {
            header.damage = "truncated PNG: the data ends inside the " + type + " chunk";
            header.decodable = false;
            return header;
        }
        if (type == "IHDR" && length >= 8) header.pages = {sizeOf(bigEndian(bytes, at + 8, 4), bigEndian(bytes, at + 12, 4))};
        const auto crc = crc32(0L, bytes.data() + at + 4, static_cast<uInt>(length + 4));
        if (crc != bigEndian(bytes, at + 8 + length, 4)) {
            header.damage = "corrupt PNG: the " + type + " chunk fails its CRC check";
            // Only an ancillary chunk (lower-case initial) is skipped by the decoder.
            header.decodable = std::islower(static_cast<unsigned char>(type[0])) != 0;
            return header;
        }
        at += 12 + length;
        if (type == "IEND") return header;
    }
}

// Walks the marker segments and the entropy-coded data after each start of
// scan to the end-of-image marker; the size is the first frame header's.
ImageHeader jpeg(Bytes bytes)
{
    ImageHeader header{"JPEG", {}, {}};
    const std::string truncated = "truncated JPEG: the data ends before the end-of-image marker";
    std::size_t at = 2;
    while (true) {
        while (at < bytes.size() && bytes[at] != 0xFF) ++at; // bytes between segments are tolerated, as decoders do
        while (at < bytes.size() && bytes[at] == 0xFF) ++at;
        if (at >= bytes.size()) {
            header.damage = truncated;
            return header;
        }
        const unsigned marker = bytes[at++];
        if (marker == 0xD9) return header;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;
        if (at + 2 > bytes.size() || at + bigEndian(bytes, at, 2) > bytes.size()) {
            header.damage = truncated;
            return header;
        }
        const std::size_t length = bigEndian(bytes, at, 2);
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame && header.pages.empty() && length >= 7)
            header.pages = {sizeOf(bigEndian(bytes, at + 5, 2), bigEndian(bytes, at + 3, 2))};
        at += length;
        if (marker != 0xDA) continue;
        // Entropy-coded data: 0xFF is followed by 0 (a stuffed byte) or a restart marker.
        while (true) {
            const auto* next = static_cast<const unsigned char*>(std::memchr(bytes.data() + at, 0xFF, bytes.size() - at));
            if (next == nullptr || next + 1 >= bytes.data() + bytes.size()) {
                header.damage = truncated;
                return header;
            }
            at = static_cast<std::size_t>(next - bytes.data());
            const unsigned following = bytes[at + 1];
            if (following == 0 || (following >= 0xD0 && following <= 0xD7) || following == 0xFF) {
                at += following == 0xFF ? 1 : 2;
                continue;
            }
            break;
        }
    }
}

ImageHeader bmp(Bytes bytes)
{
    ImageHeader header{"BMP", {}, {}};
    if (bytes.size() < 26) {
        header.damage = "truncated BMP: the data ends inside the header";
        return header;
    }
    const std::uint64_t infoSize = littleEndian(bytes, 14, 4);
    std::int64_t width = 0, height = 0, bits = 0, compression = 0;
    if (infoSize == 12) {
        width = static_cast<std::int64_t>(littleEndian(bytes, 18, 2));
        height = static_cast<std::int64_t>(littleEndian(bytes, 20, 2));
        bits = static_cast<std::int64_t>(littleEndian(bytes, 24, 2));
    } else {
        if (bytes.size() < 34) {
            header.damage = "truncated BMP: the data ends inside the header";
            return header;
        }
        width = static_cast<std::int32_t>(littleEndian(bytes, 18, 4));
        height = static_cast<std::int32_t>(littleEndian(bytes, 22, 4));
        bits = static_cast<std::int64_t>(littleEndian(bytes, 28, 2));
        compression = static_cast<std::int64_t>(littleEndian(bytes, 30, 4));
    }
    width = std::abs(width);
    height = std::abs(height); // negative: rows stored top-down
    header.pages = {sizeOf(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height))};
    // Uncompressed rows (plain or with bit fields) have a known length.
    if (compression == 0 || compression == 3) {
        const std::uint64_t row = (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(bits) + 31) / 32 * 4;
        const std::uint64_t end = littleEndian(bytes, 10, 4) + row * static_cast<std::uint64_t>(height);
        if (end > bytes.size()) {
            header.damage = "truncated BMP: the pixel data is shorter than the header says";
            header.decodable = false; // the decoder stops at the missing rows
        }
    }
    return header;
}

// PBM, PGM, PPM (plain and raw), PAM and PFM: a text header of tokens.
ImageHeader netpbm(Bytes bytes)
{
    ImageHeader header{bytes[1] == '7' ? "PAM" : (bytes[1] == 'F' || bytes[1] == 'f') ? "PFM" : "PNM", {}, {}};
    const char kind = static_cast<char>(bytes[1]);
    std::size_t at = 2;
    auto token = [&]() -> std::string {
        while (at < bytes.size()) {
            if (bytes[at] == '#')
                while (at < bytes.size() && bytes[at] != '\n') ++at;
            else if (std::isspace(bytes[at])) ++at;
            else break;
        }
        std::string text;
        while (at < bytes.size() && !std::isspace(bytes[at]) && text.size() < 32) text += static_cast<char>(bytes[at++]);
        return text;
    };
    auto number = [](const std::string& text) -> std::uint64_t {
        if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(c); })) return 0;
        return text.size() > 18 ? UINT64_MAX / 4 : std::stoull(text);
    };
    std::uint64_t width = 0, height = 0, channels = 1, sampleBytes = 1;
    if (kind == '7') {
        for (std::string key = token(); !key.empty() && key != "ENDHDR"; key = token()) {
            if (key == "WIDTH") width = number(token());
            else if (key == "HEIGHT") height = number(token());
            else if (key == "DEPTH") channels = number(token());
            else if (key == "MAXVAL") sampleBytes = number(token()) > 255 ? 2 : 1;
            else if (key == "TUPLTYPE") token();
        }
    } else {
        width = number(token());
        height = number(token());
        if (kind == 'F' || kind == 'f') {
            token(); // scale and byte order
            channels = kind == 'F' ? 3 : 1;
            sampleBytes = 4;
        } else if (kind != '1' && kind != '4') {
            sampleBytes = number(token()) > 255 ? 2 : 1;
            if (kind == '3' || kind == '6') channels = 3;
        }
    }
    if (width == 0 || height == 0) return header;
    header.pages = {sizeOf(width, height)};
    ++at; // the single white-space character before raw samples
    const bool raw = kind >= '4' || kind == 'F' || kind == 'f';
    if (raw && width < (1ull << 31) && height < (1ull << 31)) {
        const std::uint64_t rowBytes = kind == '4' ? (width + 7) / 8 : width * channels * sampleBytes;
        if (rowBytes * height > bytes.size() - std::min(at, bytes.size())) {
            header.damage = "truncated " + header.format + ": the samples are fewer than the header says";
            header.decodable = false; // the decoder stops at the missing samples
        }
    }
    return header;
}

ImageHeader sunRaster(Bytes bytes)
{
    ImageHeader header{"Sun raster", {}, {}};
    if (bytes.size() >= 12) header.pages = {sizeOf(bigEndian(bytes, 4, 4), bigEndian(bytes, 8, 4))};
    return header;
}

// Every image file directory in the chain, classic and BigTIFF; pages whose
// strips or tiles lie past the end of the file make it truncated.
ImageHeader tiff(Bytes bytes)
{
    ImageHeader header{"TIFF", {}, {}};
    const bool little = bytes[0] == 'I';
    auto read = [&](std::uint64_t at, int count) -> std::uint64_t {
        if (!within(bytes, at, static_cast<std::uint64_t>(count))) return 0;
        return little ? littleEndian(bytes, at, count) : bigEndian(bytes, at, count);
    };
    const bool big = read(2, 2) == 43;
    const int offsetSize = big ? 8 : 4, countSize = big ? 8 : 2, entrySize = big ? 20 : 12;
    std::uint64_t directory = read(big ? 8 : 4, offsetSize);
    std::set<std::uint64_t> seen;
    bool beyondEnd = false;
    while (directory != 0 && seen.insert(directory).second && seen.size() <= 100'000) {
        if (!within(bytes, directory, static_cast<std::uint64_t>(countSize))) {
            beyondEnd = true;
            break;
        }
        const std::uint64_t entries = read(directory, countSize);
        const std::uint64_t first = directory + static_cast<std::uint64_t>(countSize);
        if (entries > bytes.size() || !within(bytes, first, entries * static_cast<std::uint64_t>(entrySize))) {
            beyondEnd = true;
            break;
        }
        std::uint64_t width = 0, height = 0;
        std::vector<std::uint64_t> offsets, counts;
        for (std::uint64_t i = 0; i < entries; ++i) {
            const std::uint64_t entry = first + i * static_cast<std::uint64_t>(entrySize);
            const std::uint64_t tag = read(entry, 2), type = read(entry + 2, 2);
            const std::uint64_t count = read(entry + 4, big ? 8 : 4);
            const int valueSize = type == 3 ? 2 : type == 4 ? 4 : type == 16 ? 8 : 0; // SHORT, LONG, LONG8
            if (valueSize == 0 || count == 0 || count > bytes.size()) continue;
            const std::uint64_t inlineAt = entry + (big ? 12 : 8);
            const std::uint64_t values =
                count * static_cast<std::uint64_t>(valueSize) <= static_cast<std::uint64_t>(offsetSize)
                    ? inlineAt
                    : read(inlineAt, offsetSize);
            auto value = [&](std::uint64_t k) { return read(values + k * static_cast<std::uint64_t>(valueSize), valueSize); };
            if (tag == 256) width = value(0);
            else if (tag == 257) height = value(0);
            else if (tag == 273 || tag == 324 || tag == 279 || tag == 325) {
                if (!within(bytes, values, count * static_cast<std::uint64_t>(valueSize))) {
                    beyondEnd = true;
                    continue;
                }
                auto& list = tag == 273 || tag == 324 ? offsets : counts;
                for (std::uint64_t k = 0; k < count; ++k) list.push_back(value(k));
            }
        }
        header.pages.push_back(sizeOf(width, height));
        for (std::size_t k = 0; k < std::min(offsets.size(), counts.size()); ++k)
            if (offsets[k] > bytes.size() || counts[k] > bytes.size() - offsets[k]) beyondEnd = true;
        directory = read(first + entries * static_cast<std::uint64_t>(entrySize), offsetSize);
    }
    if (beyondEnd) header.damage = "truncated TIFF: image data lies beyond the end of the file";
    return header;
}

// Radiance: text lines, an empty line, then the resolution ("-Y 480 +X 640").
ImageHeader radiance(Bytes bytes)
{
    ImageHeader header{"HDR", {}, {}};
    const std::size_t limit = std::min<std::size_t>(bytes.size(), 65536);
    const std::string text(reinterpret_cast<const char*>(bytes.data()), limit);
    const std::size_t blank = text.find("\n\n");
    if (blank == std::string::npos) return header;
    std::istringstream resolution(text.substr(blank + 2, text.find('\n', blank + 2) - blank - 2));
    std::string firstAxis, secondAxis;
    std::uint64_t first = 0, second = 0;
    if (!(resolution >> firstAxis >> first >> secondAxis >> second)) return header;
    const bool rowsFirst = firstAxis.size() == 2 && firstAxis[1] == 'Y';
    header.pages = {rowsFirst ? sizeOf(second, first) : sizeOf(first, second)};
    return header;
}

ImageHeader webp(Bytes bytes)
{
    ImageHeader header{"WebP", {}, {}};
    if (bytes.size() < 30) return header;
    if (startsWith(bytes.subspan(12), "VP8X"))
        header.pages = {sizeOf(littleEndian(bytes, 24, 3) + 1, littleEndian(bytes, 27, 3) + 1)};
    else if (startsWith(bytes.subspan(12), "VP8L")) {
        const std::uint64_t bits = littleEndian(bytes, 21, 4);
        header.pages = {sizeOf((bits & 0x3FFF) + 1, ((bits >> 14) & 0x3FFF) + 1)};
    } else if (startsWith(bytes.subspan(12), "VP8 "))
        header.pages = {sizeOf(littleEndian(bytes, 26, 2) & 0x3FFF, littleEndian(bytes, 28, 2) & 0x3FFF)};
    return header;
}

ImageHeader jpeg2000(Bytes bytes)
{
    ImageHeader header{"JPEG 2000", {}, {}};
    const std::size_t limit = std::min<std::size_t>(bytes.size(), 65536);
    for (std::size_t at = 0; at + 24 <= limit; ++at) {
        if (bytes[at] == 0xFF && bytes[at + 1] == 0x51) { // image and tile size (SIZ)
            header.pages = {sizeOf(bigEndian(bytes, at + 6, 4) - std::min(bigEndian(bytes, at + 6, 4), bigEndian(bytes, at + 14, 4)),
                                   bigEndian(bytes, at + 10, 4) - std::min(bigEndian(bytes, at + 10, 4), bigEndian(bytes, at + 18, 4)))};
            return header;
        }
        if (startsWith(bytes.subspan(at), "ihdr")) {
            header.pages = {sizeOf(bigEndian(bytes, at + 8, 4), bigEndian(bytes, at + 4, 4))};
            return header;
        }
    }
    return header;
}

// OpenEXR: attributes (name, type, size, value) up to an empty name.
ImageHeader openExr(Bytes bytes)
{
    ImageHeader header{"OpenEXR", {}, {}};
    std::size_t at = 8;
    const std::size_t limit = std::min<std::size_t>(bytes.size(), 1 << 20);
    auto text = [&]() {
        std::string value;
        while (at < limit && bytes[at] != 0) value += static_cast<char>(bytes[at++]);
        ++at;
        return value;
    };
    while (at < limit) {
        const std::string name = text();
        if (name.empty()) break;
        const std::string type = text();
        if (at + 4 > limit) break;
        const std::uint64_t size = littleEndian(bytes, at, 4);
        at += 4;
        if (name == "dataWindow" && type == "box2i" && size == 16 && at + 16 <= limit) {
            const auto coordinate = [&](int k) { return static_cast<std::int64_t>(static_cast<std::int32_t>(littleEndian(bytes, at + 4 * k, 4))); };
            header.pages = {sizeOf(static_cast<std::uint64_t>(std::max<std::int64_t>(0, coordinate(2) - coordinate(0) + 1)),
                                   static_cast<std::uint64_t>(std::max<std::int64_t>(0, coordinate(3) - coordinate(1) + 1)))};
            return header;
        }
        at += size;
    }
    return header;
}

} // namespace

std::optional<ImageHeader> readImageHeader(Bytes bytes)
{
    if (startsWith(bytes, "\x89PNG\r\n\x1a\n")) return png(bytes);
    if (startsWith(bytes, "\xFF\xD8\xFF")) return jpeg(bytes);
    if (startsWith(bytes, "BM")) return bmp(bytes);
    if (bytes.size() >= 3 && bytes[0] == 'P' && std::strchr("1234567Ff", bytes[1]) != nullptr && bytes[1] != 0 &&
        std::isspace(bytes[2]))
        return netpbm(bytes);
    if (startsWith(bytes, "\x59\xA6\x6A\x95")) return sunRaster(bytes);
    if (startsWith(bytes, "II*\0") || startsWith(bytes, std::string_view("MM\0*", 4)) ||
        startsWith(bytes, "II+\0") || startsWith(bytes, std::string_view("MM\0+", 4)))
        return tiff(bytes);
    if (startsWith(bytes, "#?RADIANCE") || startsWith(bytes, "#?RGBE")) return radiance(bytes);
    if (startsWith(bytes, "RIFF") && bytes.size() >= 12 && startsWith(bytes.subspan(8), "WEBP")) return webp(bytes);
    if (startsWith(bytes, std::string_view("\0\0\0\x0CjP  ", 8)) || startsWith(bytes, "\xFF\x4F\xFF\x51"))
        return jpeg2000(bytes);
    if (startsWith(bytes, "\x76\x2F\x31\x01")) return openExr(bytes);
    return std::nullopt;
}

} // namespace orb
