#include <gtest/gtest.h>

#include <random>

#include "orb/payload/compression.h"
#include "orb/payload/payload_types.h"
#include "orb/result_code.h"

using namespace orb;

using Bytes = std::vector<std::uint8_t>;

TEST(Compression, PackedFormsOfKnownTexts)
{
    EXPECT_EQ(compress("123", Digits), (Bytes{0xDB, 0x03}));
    const Bytes eleven = compress("98765432101", Digits);
    ASSERT_EQ(eleven.size(), 5u); // 3 + 30 + 7 = 40 bits, no padding
    EXPECT_EQ(eleven[0] & 7, 0);
    EXPECT_EQ(((eleven[0] >> 3) | (eleven[1] << 5)) & 0x3FF, 987);

    EXPECT_EQ(compress("AB", Letters), (Bytes{0x01 | (12 << 2), 13})); // field 1, codes 12 and 13
    EXPECT_EQ(compress("z", Letters), (Bytes{63 << 2}));
    EXPECT_EQ(compress("1,5", Numbers), (Bytes{0x50, 0x90}));
    EXPECT_EQ(compress("12345678", Ascii).size(), 8u);
    EXPECT_EQ(compress("12345678", Ascii)[0] & 1, 1);
    EXPECT_EQ(compress("123456789", Ascii).size(), 8u);
    EXPECT_EQ(compress("123456789", Ascii)[0] & 1, 0);
}

TEST(Compression, EveryTypeRoundTripsTextsOfItsAlphabet)
{
    const std::string digits = "0123456789";
    const std::string letters = " .0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    const std::string numbers = ",-./0123456789:_";
    std::string ascii, any;
    for (int c = 0; c < 128; ++c) ascii += static_cast<char>(c);
    for (int c = 0; c < 256; ++c) any += static_cast<char>(c);
    const std::vector<std::pair<std::uint8_t, std::string>> alphabets{
        {Digits, digits}, {Letters, letters}, {Numbers, numbers}, {Ascii, ascii},
        {Latin1, any},    {Binary, any},      {BigLetters, any},   {Automatic, any}};
    std::mt19937 rng(17);
    for (const auto& [type, alphabet] : alphabets)
        for (std::size_t length = 0; length <= 40; ++length) {
            std::string text;
            for (std::size_t i = 0; i < length; ++i) text += alphabet[rng() % alphabet.size()];
            const std::uint8_t readAs = type == Automatic ? detectDataType(text) : type;
            EXPECT_EQ(decompress(compress(text, type), readAs), text) << dataTypeName(type) << " " << length;
        }
}

TEST(Compression, EmptyPayloadIsEmptyTextForEveryType)
{
    for (int type = 0; type < 8; ++type) EXPECT_EQ(decompress({}, static_cast<std::uint8_t>(type)), "");
    EXPECT_EQ(decompress(compress("", Digits), Digits), "");
    EXPECT_EQ(decompress(compress("", Ascii), Ascii), "");
}

TEST(Compression, CharactersOutsideARequestedAlphabetAreRefused)
{
    const std::vector<std::pair<std::uint8_t, std::string>> refused{
        {Digits, "12a4"}, {Digits, "1.5"}, {Letters, "a,b"}, {Numbers, "1 2"}, {Numbers, "12A"}, {Ascii, "caf\xE9"}};
    for (const auto& [type, text] : refused) {
        try {
            compress(text, type);
            ADD_FAILURE() << text;
        } catch (const OCException& e) {
            EXPECT_EQ(e.code, CodeCannotBeCreated);
            EXPECT_NE(std::string(e.what()).find("(code "), std::string::npos);
        }
    }
    EXPECT_NO_THROW(compress("caf\xE9", Latin1));
}

TEST(DataTypeDetection, PicksTheSmallestFormThatCarriesTheText)
{
    EXPECT_EQ(detectDataType(""), Digits);
    EXPECT_EQ(detectDataType("0042"), Digits);
    EXPECT_EQ(detectDataType("12:30"), Numbers);
    EXPECT_EQ(detectDataType("Hello World"), Letters);
    EXPECT_EQ(detectDataType("3.5 kg"), Letters);
    EXPECT_EQ(detectDataType("a+b"), Ascii);
    EXPECT_EQ(detectDataType("a+b\xC4"), Latin1);
    EXPECT_EQ(detectDataType("\xC4xyz"), Latin1);
    // Letters cannot carry these Numbers characters.
    EXPECT_EQ(detectDataType("12:30 Uhr"), Ascii);
    EXPECT_EQ(detectDataType("1-2 A"), Ascii);
    EXPECT_EQ(detectDataType("a_b"), Ascii);
    EXPECT_EQ(detectDataType("2024/01 M\xFC"), Latin1);
    for (const std::string text : {"12:30 Uhr", "1-2 A", "x/y", "1,5 kg", "A_1"})
        EXPECT_EQ(decompress(compress(text, Automatic), detectDataType(text)), text);
}

TEST(Compression, MalformedPayloadsGiveSomeTextWithoutFailing)
{
    std::mt19937 rng(23);
    for (int trial = 0; trial < 500; ++trial) {
        Bytes payload(rng() % 12);
        for (auto& b : payload) b = static_cast<std::uint8_t>(rng());
        for (int type = 0; type < 8; ++type) EXPECT_NO_THROW(decompress(payload, static_cast<std::uint8_t>(type)));
    }
    EXPECT_EQ(decompress(Bytes{0x07}, Digits), ""); // padding count larger than the bits present
}
