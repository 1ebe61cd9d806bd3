#include "orb/payload/compression.h"

#include <sstream>

#include "orb/logger.h"
#include "orb/payload/payload_types.h"
#include "orb/result_code.h"

namespace orb {

namespace {

class BitWriter {
public:
    void put(unsigned value, int bits)
    {
        for (int i = 0; i < bits; ++i, ++count_) {
            if (count_ % 8 == 0) bytes_.push_back(0);
            if ((value >> i) & 1u) bytes_.back() |= static_cast<std::uint8_t>(1u << (count_ % 8));
        }
    }
    std::vector<std::uint8_t> take() { return std::move(bytes_); }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t count_ = 0;
};

class BitReader {
public:
    explicit BitReader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
    // Bits past the end read as zero.
    unsigned get(int bits)
    {
        unsigned value = 0;
        for (int i = 0; i < bits; ++i, ++position_) {
            const std::size_t byte = position_ / 8;
            if (byte < bytes_.size() && ((bytes_[byte] >> (position_ % 8)) & 1u)) value |= 1u << i;
        }
        return value;
    }

private:
    const std::vector<std::uint8_t>& bytes_;
    std::size_t position_ = 0;
};

bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool isLetter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool inLetters(unsigned char c) { return c == ' ' || c == '.' || isDigit(c) || isLetter(c); }
bool inNumbers(unsigned char c) { return (c >= 44 && c <= 58) || c == '_'; }
// Characters of Numbers that Letters cannot carry.
bool numbersOnly(unsigned char c) { return inNumbers(c) && c != '.' && !isDigit(c); }

bool inAlphabet(unsigned char c, std::uint8_t dataType)
{
    switch (dataType) {
    case Digits: return isDigit(c);
    case Letters: return inLetters(c);
    case Numbers: return inNumbers(c);
    case Ascii: return c < 128;
    default: return true;
    }
}

void checkAlphabet(const std::string& text, std::uint8_t dataType)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (inAlphabet(c, dataType)) continue;
        std::ostringstream detail;
        detail << "character ";
        if (c >= 32 && c < 127) detail << "'" << static_cast<char>(c) << "' ";
        detail << "(code " << static_cast<int>(c) << ") at position " << i << " is not in the "
               << dataTypeName(dataType) << " alphabet";
        throw OCException(CodeCannotBeCreated, detail.str());
    }
}

std::vector<std::uint8_t> packDigits(const std::string& text)
{
    const std::size_t groups = text.size() / 3, rest = text.size() % 3;
    const std::size_t bits = 3 + 10 * groups + (rest == 1 ? 4 : rest == 2 ? 7 : 0);
    BitWriter out;
    out.put(static_cast<unsigned>((8 - bits % 8) % 8), 3);
    auto digit = [&](std::size_t i) { return static_cast<unsigned>(text[i] - '0'); };
    for (std::size_t g = 0; g < groups; ++g)
        out.put(100 * digit(3 * g) + 10 * digit(3 * g + 1) + digit(3 * g + 2), 10);
    if (rest == 1) out.put(digit(3 * groups), 4);
    if (rest == 2) out.put(10 * digit(3 * groups) + digit(3 * groups + 1), 7);
    return out.take();
}

unsigned letterCode(unsigned char c)
{
    if (c == ' ') return 0;
    if (c == '.') return 1;
    if (isDigit(c)) return c - '0' + 2;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 12;
    return c - 'a' + 38;
}

std::vector<std::uint8_t> packLetters(const std::string& text)
{
    BitWriter out;
    out.put((2 + 6 * text.size()) % 8 != 0 ? 1 : 0, 2);
    for (const char c : text) out.put(letterCode(static_cast<unsigned char>(c)), 6);
    return out.take();
}

std::vector<std::uint8_t> packNumbers(const std::string& text)
{
    BitWriter out;
    out.put(text.size() % 2 == 0 ? 15 : 0, 4);
    for (const char c : text) {
        const unsigned char code = static_cast<unsigned char>(c);
        out.put(code >= 59 ? 15 : code - 44, 4);
    }
    return out.take();
}

std::vector<std::uint8_t> packAscii(const std::string& text)
{
    BitWriter out;
    out.put(text.size() % 8 == 1 ? 0 : 1, 1);
    for (const char c : text) out.put(static_cast<unsigned char>(c), 7);
    return out.take();
}

std::string unpackDigits(const std::vector<std::uint8_t>& payload)
{
    BitReader in(payload);
    const long long bits = 8LL * static_cast<long long>(payload.size()) - in.get(3) - 3;
    if (bits <= 0) return {};
    const long long groups = bits / 10, rest = bits % 10;
    std::string text;
    for (long long g = 0; g < groups; ++g) {
        const unsigned v = in.get(10);
        text += static_cast<char>(0x30 | (v / 100));
        text += static_cast<char>('0' + (v % 100) / 10);
        text += static_cast<char>('0' + v % 10);
    }
    if (rest == 4) text += static_cast<char>('0' + in.get(4) % 10);
    if (rest == 7) {
        const unsigned v = in.get(7);
        text += static_cast<char>('0' + (v % 100) / 10);
        text += static_cast<char>('0' + v % 10);
    }
    return text;
}

char letterFromCode(unsigned c)
{
    if (c == 0) return ' ';
    if (c == 1) return '.';
    if (c <= 11) return static_cast<char>(c + 46);
    if (c <= 37) return static_cast<char>(c + 53);
    return static_cast<char>(c + 59);
}

std::string unpackLetters(const std::vector<std::uint8_t>& payload)
{
    BitReader in(payload);
    const unsigned field = in.get(2);
    const long long unused = field == 1 ? 1 : field == 2 ? 7 : 0;
    const long long count = (8LL * static_cast<long long>(payload.size()) - 2 - unused) / 6;
    std::string text;
    for (long long i = 0; i < count; ++i) text += letterFromCode(in.get(6));
    return text;
}

std::string unpackNumbers(const std::vector<std::uint8_t>& payload)
{
    BitReader in(payload);
    const long long pairs = 2LL * static_cast<long long>(payload.size());
    const long long count = in.get(4) == 0 ? pairs - 1 : pairs - 2;
    std::string text;
    for (long long i = 0; i < count; ++i) {
        const unsigned c = in.get(4);
        text += c == 15 ? '_' : static_cast<char>(c + 44);
    }
    return text;
}

std::string unpackAscii(const std::vector<std::uint8_t>& payload)
{
    BitReader in(payload);
    const long long flag = in.get(1);
    const long long count = (8LL * static_cast<long long>(payload.size()) - flag - 1) / 7;
    std::string text;
    for (long long i = 0; i < count; ++i) text += static_cast<char>(in.get(7));
    return text;
}

} // namespace

std::uint8_t detectDataType(const std::string& text)
{
    std::uint8_t state = Digits;
    bool sawNumbersOnly = false;
    // Letters cannot carry ",", "-", "/", ":" or "_": once one was seen, a
    // text that leaves Numbers goes to Ascii instead.
    auto lettersTest = [&](unsigned char c) -> std::uint8_t {
        if (inLetters(c)) return sawNumbersOnly ? Ascii : Letters;
        return c >= 128 ? Latin1 : Ascii;
    };
    for (const char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        switch (state) {
        case Digits:
            state = isDigit(c) ? std::uint8_t{Digits} : inNumbers(c) ? std::uint8_t{Numbers} : lettersTest(c);
            break;
        case Numbers: state = inNumbers(c) ? std::uint8_t{Numbers} : lettersTest(c); break;
        case Letters: state = lettersTest(c); break;
        default: state = c >= 128 ? Latin1 : Ascii; break;
        }
        if (numbersOnly(c)) sawNumbersOnly = true;
        if (state == Latin1) return Latin1;
    }
    return state;
}

std::vector<std::uint8_t> compress(const std::string& text, std::uint8_t dataType)
{
    if (dataType == Automatic) dataType = detectDataType(text);
    checkAlphabet(text, dataType);
    switch (dataType) {
    case Digits: return packDigits(text);
    case Letters: return packLetters(text);
    case Numbers: return packNumbers(text);
    case Ascii: return packAscii(text);
    default: return {text.begin(), text.end()};
    }
}

std::string decompress(const std::vector<std::uint8_t>& payload, std::uint8_t dataType)
{
    logger().line(LogLevel::Debug, "           decompress");
    if (payload.empty()) return {};
    switch (dataType) {
    case Digits: return unpackDigits(payload);
    case Letters: return unpackLetters(payload);
    case Numbers: return unpackNumbers(payload);
    case Ascii: return unpackAscii(payload);
    default: return {payload.begin(), payload.end()};
    }
}

} // namespace orb
